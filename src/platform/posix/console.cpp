// Standard output for tools: binary mode (nothing to do on POSIX) and its
// diversion to standard error while foreign code runs.
#include "platform/platform.h"

#include <unistd.h>

#include <cstdio>

namespace pexil::platform {

void UseBinaryStandardOutput() {}

StandardOutputToError::StandardOutputToError() {
    std::fflush(stdout);
    savedDescriptor_ = ::dup(1);
    if (savedDescriptor_ >= 0) ::dup2(2, 1);
}

StandardOutputToError::~StandardOutputToError() {
    // What was buffered meanwhile belongs to standard error too.
    std::fflush(stdout);
    if (savedDescriptor_ < 0) return;
    ::dup2(savedDescriptor_, 1);
    ::close(savedDescriptor_);
}

}  // namespace pexil::platform
