#include "module_announcement.h"

#include <chrono>
#include <cstdio>

namespace example {
namespace {

using Clock = std::chrono::steady_clock;

// This module's own copy: the support library is linked into each module.
bool g_released = false;
Clock::time_point g_lastRelease;

}  // namespace

ModuleAnnouncement::ModuleAnnouncement(const char* moduleName) : moduleName_(moduleName) {
    std::printf("   [%s] loaded\n", moduleName_);
}

ModuleAnnouncement::~ModuleAnnouncement() {
    if (!g_released) {
        std::printf("   [%s] unloading\n", moduleName_);
        return;
    }
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_lastRelease);
    std::printf("   [%s] unloading, %lld ms after its last component was released\n", moduleName_,
                static_cast<long long>(idle.count()));
}

void NoteComponentReleased() {
    g_released = true;
    g_lastRelease = Clock::now();
}

}  // namespace example
