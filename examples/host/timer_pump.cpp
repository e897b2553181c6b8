#include "host/timer_pump.h"

#include <pexil/platform.h>

#include <chrono>
#include <cstdio>

namespace example {

int PumpTimers(unsigned int milliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::milliseconds(milliseconds);
    int total = 0;
    for (Clock::time_point now = start; now < end; now = Clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        const int ran = PexilPumpMessages(static_cast<unsigned int>(left.count()));
        if (ran <= 0) continue;
        total += ran;
        const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        std::printf("   +%lld ms: %d timer procedure%s ran\n", static_cast<long long>(at.count()),
                    ran, ran == 1 ? "" : "s");
    }
    return total;
}

}  // namespace example
