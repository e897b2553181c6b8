#include "component_log.h"

#include <pexil/holder.h>
#include <pexil/platform.h>

#include <cstdio>

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
    // One call per line, so that it is not split among other output.
    if ((debugMask_ & level) != 0) std::fputs(line.c_str(), stderr);
}

}  // namespace example
