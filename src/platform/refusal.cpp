#include "platform/refusal.h"

#include <cstdio>

namespace pexil::platform::backend {
namespace {

// Plain characters: nothing to destroy when the thread ends.
thread_local char t_refusal[256];

}  // namespace

void ClearRefusal() {
    t_refusal[0] = '\0';
}

void NoteRefusal(const char* reason) {
    std::snprintf(t_refusal, sizeof(t_refusal), "%s", reason != nullptr ? reason : "");
}

bool RefusalText(char* buffer, int size) {
    if (t_refusal[0] == '\0') return false;
    if (buffer != nullptr && size > 0) {
        std::snprintf(buffer, static_cast<size_t>(size), "%s", t_refusal);
    }
    return true;
}

}  // namespace pexil::platform::backend
