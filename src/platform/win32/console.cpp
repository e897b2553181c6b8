// Standard output for tools: binary mode, and its diversion to standard error
// while foreign code runs.
#include "platform/platform.h"

#include "platform/win32/windows_api.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace pexil::platform {

void UseBinaryStandardOutput() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

StandardOutputToError::StandardOutputToError() {
    std::fflush(stdout);
    savedDescriptor_ = ::_dup(::_fileno(stdout));
    if (savedDescriptor_ >= 0) ::_dup2(::_fileno(stderr), ::_fileno(stdout));
    // Code that writes to the handle itself, not through the C library.
    savedHandle_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
}

StandardOutputToError::~StandardOutputToError() {
    // What was buffered meanwhile belongs to standard error too.
    std::fflush(stdout);
    ::SetStdHandle(STD_OUTPUT_HANDLE, savedHandle_);
    if (savedDescriptor_ < 0) return;
    ::_dup2(savedDescriptor_, ::_fileno(stdout));
    ::_close(savedDescriptor_);
}

}  // namespace pexil::platform
