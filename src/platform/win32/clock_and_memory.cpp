// Time and the framework's own allocations on Windows.
#include "platform/backend.h"

#include "platform/win32/windows_api.h"

#include <psapi.h>

#include <cstdlib>
#include <ctime>

namespace pexil::platform::backend {

int64_t CurrentTime() {
    return static_cast<int64_t>(::_time64(nullptr));
}

int ToLocalTime(int64_t time, LocalTime* local) {
    if (local == nullptr) return 0;
    __time64_t t = static_cast<__time64_t>(time);
    tm parts{};
    if (::_localtime64_s(&parts, &t) != 0) return 0;
    *local = LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                       parts.tm_hour,        parts.tm_min,     parts.tm_sec};
    return 1;
}

void* Allocate(size_t size) {
    return std::malloc(size);
}
void Deallocate(void* memory) {
    std::free(memory);
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

size_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.WorkingSetSize;
}

}  // namespace pexil::platform
