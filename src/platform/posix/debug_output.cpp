// Debug output on POSIX: the text goes to standard error in one write, with
// nothing added, so that concurrent messages never interleave mid-line.
#include "platform/backend.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace pexil::platform::backend {

void DebugOutput(const char* text) {
    if (text == nullptr) return;
    size_t left = std::strlen(text);
    while (left > 0) {
        ssize_t written = ::write(2, text, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += written;
        left -= static_cast<size_t>(written);
    }
}

// There is no debugger break to raise without a debugger: the report is the
// whole effect.
void DebugBreak(const char* report) {
    DebugOutput(report);
}

}  // namespace pexil::platform::backend
