#include "component_log.h"

#include <pexil/holder.h>
#include <pexil/platform.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace example {

void ComponentLog::Open(const char* registryPath, uint32_t componentID, const char* tag) {
    std::snprintf(tag_, sizeof(tag_), "%s", tag);
    pexil::ReleasingFactoryHolder holder;
    if (holder.component == nullptr) return;
    static_cast<pexil::IComponentFactory*>(holder.component)
        ->GetLogSettings(registryPath, componentID, &debugMask_, &fileMask_, &sink_);
}

void ComponentLog::Write(uint32_t level, const char* format, ...) const {
    const bool toFile = (fileMask_ & level) != 0 && sink_ != nullptr;
    const bool toDebug = (debugMask_ & level) != 0;
    if (!toFile && !toDebug) return;
    // One buffer on the stack, one write: lines of other threads never mix in.
    char line[512];
    std::snprintf(line, sizeof(line), "[%s] ", tag_);
    size_t length = std::strlen(line);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + length, sizeof(line) - 1 - length, format, args);
    va_end(args);
    length = std::strlen(line);
    line[length++] = '\n';
    line[length] = '\0';
    if (toFile) PexilLogWrite(sink_->lock, sink_->file, line, static_cast<unsigned int>(length));
    if (toDebug) PexilDebugOutput(line);
}

}  // namespace example
