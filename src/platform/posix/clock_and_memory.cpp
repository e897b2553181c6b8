// Time, sleeping and the framework's own allocations.
#include "platform/backend.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace pexil::platform::backend {

void Sleep(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

int64_t CurrentTime() {
    return static_cast<int64_t>(::time(nullptr));
}

int ToLocalTime(int64_t time, LocalTime* local) {
    if (local == nullptr) return 0;
    time_t t = static_cast<time_t>(time);
    tm parts{};
    if (::localtime_r(&t, &parts) == nullptr) return 0;
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
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    unsigned long total = 0, resident = 0;
    const bool read = std::fscanf(statm, "%lu %lu", &total, &resident) == 2;
    std::fclose(statm);
    return read ? static_cast<size_t>(resident) * static_cast<size_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace pexil::platform
