#include "platform/debug_capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace pexil::platform::testing {

DebugCapture::DebugCapture() {
    captureDescriptor_ = ::memfd_create("pexil-debug-capture", MFD_CLOEXEC);
    if (captureDescriptor_ < 0) return;
    savedDescriptor_ = ::dup(2);
    ::dup2(captureDescriptor_, 2);
}

DebugCapture::~DebugCapture() {
    Stop();
}

void DebugCapture::Stop() {
    if (savedDescriptor_ >= 0) {
        ::dup2(savedDescriptor_, 2);
        ::close(savedDescriptor_);
        savedDescriptor_ = -1;
    }
    if (captureDescriptor_ >= 0) {
        ::close(captureDescriptor_);
        captureDescriptor_ = -1;
    }
}

std::string DebugCapture::Text() {
    std::string text;
    if (captureDescriptor_ < 0) return text;
    char chunk[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(captureDescriptor_, chunk, sizeof(chunk), offset);
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
        offset += n;
    }
    return text;
}

void ForwardDebugOutputToStandardError() {}

void SetEnvironmentVariable(const char* name, const char* value) {
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

void SetTimeZone(const char* zone) {
    if (zone != nullptr) {
        ::setenv("TZ", zone, 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

}  // namespace pexil::platform::testing
