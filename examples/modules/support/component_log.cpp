#include "component_log.h"

#include <pexil/holder.h>
#include <pexil/platform.h>

namespace example {

void ComponentLog::Open(const char* registryPath, uint32_t componentID, const char* tag) {
    tag_ = tag;
    pexil::ReleasingFactoryHolder holder;
    if (holder.component == nullptr) return;
    static_cast<pexil::IComponentFactory*>(holder.component)
        ->GetLogSettings(registryPath, componentID, &debugMask_, &fileMask_, &sink_);
}

void ComponentLog::Write(uint32_t level, const std::string& text) const {
    const std::string line = "[" + tag_ + "] " + text + "\n";
    if ((fileMask_ & level) != 0 && sink_ != nullptr) {
        PexilLogWrite(sink_->lock, sink_->file, line.c_str(),
                      static_cast<unsigned int>(line.size()));
    }
    if ((debugMask_ & level) != 0) PexilDebugOutput(line.c_str());
}

}  // namespace example
