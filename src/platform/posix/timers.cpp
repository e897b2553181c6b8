// Thread timers on POSIX. As on Windows, a timer belongs to the thread that
// started it and its procedure runs only while that thread pumps messages
// (PexilPumpMessages), so a timer procedure never runs concurrently with the
// code of its own thread.
#include "platform/posix/backend.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace pexil::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    uintptr_t id;
    std::chrono::milliseconds period;
    Clock::time_point due;
    TimerProc proc;
};

// Windows raises very short periods to this minimum (USER_TIMER_MINIMUM).
constexpr uint32_t kMinimumPeriodMs = 10;
constexpr unsigned int kTimerMessage = 0x0113;  // WM_TIMER

std::atomic<uintptr_t> g_nextTimerId{1};
thread_local std::vector<Timer> t_timers;

Timer* FindTimer(uintptr_t id) {
    for (Timer& timer : t_timers) {
        if (timer.id == id) return &timer;
    }
    return nullptr;
}

unsigned long TickCount() {
    return static_cast<unsigned long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

}  // namespace

uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc) {
    if (proc == nullptr) return 0;
    if (milliseconds < kMinimumPeriodMs) milliseconds = kMinimumPeriodMs;
    uintptr_t id = g_nextTimerId.fetch_add(1, std::memory_order_relaxed);
    std::chrono::milliseconds period(milliseconds);
    t_timers.push_back(Timer{id, period, Clock::now() + period, proc});
    return id;
}

int KillTimer(uintptr_t id) {
    for (auto it = t_timers.begin(); it != t_timers.end(); ++it) {
        if (it->id == id) {
            t_timers.erase(it);
            return 1;
        }
    }
    return 0;
}

int PumpMessages(uint32_t maxWaitMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(maxWaitMs);
    for (;;) {
        Clock::time_point now = Clock::now();
        // Ids of the timers due now; procedures may start or stop timers, so each
        // is looked up again before it runs.
        std::vector<uintptr_t> due;
        Clock::time_point next = deadline;
        for (const Timer& timer : t_timers) {
            if (timer.due <= now) {
                due.push_back(timer.id);
            } else if (timer.due < next) {
                next = timer.due;
            }
        }
        if (!due.empty()) {
            int ran = 0;
            for (uintptr_t id : due) {
                Timer* timer = FindTimer(id);
                if (timer == nullptr) continue;
                // One event per pump however many periods passed, as WM_TIMER.
                timer->due = now + timer->period;
                TimerProc proc = timer->proc;
                proc(nullptr, kTimerMessage, id, TickCount());
                ++ran;
            }
            return ran;
        }
        if (now >= deadline) return 0;
        std::this_thread::sleep_until(next);
    }
}

}  // namespace pexil::platform::posix
