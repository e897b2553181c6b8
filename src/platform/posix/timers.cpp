// Thread timers on POSIX. As on Windows, a timer belongs to the thread that
// started it: its procedure runs only while that thread pumps messages
// (PexilPumpMessages), so a timer procedure never runs concurrently with the
// code of its own thread; only that thread can stop it; and it ends with that
// thread.
//
// The timers of all threads live in one fixed table under one mutex: nothing
// here allocates, and no thread_local with a destructor is used (the C library
// aborts when it cannot register one). A thread's exit is seen through a
// pthread key whose destructor removes the thread's timers.
#include "platform/backend.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace pexil::platform::backend {
namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    uintptr_t id;  // 0: a free slot
    pthread_t owner;
    std::chrono::milliseconds period;
    Clock::time_point due;
    TimerProc proc;
};

// More timers than the process ever runs at once (the factory runs one).
constexpr int kMaxTimers = 64;
// Windows raises very short periods to this minimum (USER_TIMER_MINIMUM).
constexpr uint32_t kMinimumPeriodMs = 10;
constexpr unsigned int kTimerMessage = 0x0113;  // WM_TIMER

std::mutex g_mutex;
Timer g_timers[kMaxTimers];
uintptr_t g_nextTimerId = 1;  // under g_mutex

pthread_once_t g_exitWatchOnce = PTHREAD_ONCE_INIT;
pthread_key_t g_exitWatch;
bool g_exitWatchReady = false;

// At a thread's exit: its timers end with it.
void ForgetTimersOfExitingThread(void*) {
    const pthread_t self = ::pthread_self();
    std::lock_guard<std::mutex> guard(g_mutex);
    for (Timer& timer : g_timers) {
        if (timer.id != 0 && ::pthread_equal(timer.owner, self)) timer.id = 0;
    }
}

void CreateExitWatch() {
    g_exitWatchReady = ::pthread_key_create(&g_exitWatch, ForgetTimersOfExitingThread) == 0;
}

// The key goes with this library: a thread that exits after it is unloaded
// must not call into it.
struct ExitWatchRemoval {
    ~ExitWatchRemoval() {
        if (g_exitWatchReady) ::pthread_key_delete(g_exitWatch);
    }
} g_exitWatchRemoval;

// Arranges for the calling thread's timers to be forgotten at its exit.
bool WatchCallingThread() {
    ::pthread_once(&g_exitWatchOnce, CreateExitWatch);
    if (!g_exitWatchReady) return false;
    // Any non-null value makes the key's destructor run at the thread's exit.
    static char marker;
    return ::pthread_getspecific(g_exitWatch) == &marker ||
           ::pthread_setspecific(g_exitWatch, &marker) == 0;
}

// The running timer of that ID (of the calling thread only, when ownOnly), or
// null. Under g_mutex.
Timer* FindTimer(uintptr_t id, bool ownOnly) {
    if (id == 0) return nullptr;
    for (Timer& timer : g_timers) {
        if (timer.id != id) continue;
        if (ownOnly && !::pthread_equal(timer.owner, ::pthread_self())) return nullptr;
        return &timer;
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
    if (proc == nullptr || !WatchCallingThread()) return 0;
    if (milliseconds < kMinimumPeriodMs) milliseconds = kMinimumPeriodMs;
    const std::chrono::milliseconds period(milliseconds);
    std::lock_guard<std::mutex> guard(g_mutex);
    for (Timer& timer : g_timers) {
        if (timer.id != 0) continue;
        timer = Timer{g_nextTimerId++, ::pthread_self(), period, Clock::now() + period, proc};
        return timer.id;
    }
    return 0;  // as many timers as the table holds: SetTimer fails
}

int KillTimer(uintptr_t id) {
    std::lock_guard<std::mutex> guard(g_mutex);
    Timer* timer = FindTimer(id, true);
    if (timer == nullptr) return 0;
    timer->id = 0;
    return 1;
}

int TimerRunning(uintptr_t id) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return FindTimer(id, false) != nullptr ? 1 : 0;
}

int PumpMessages(uint32_t maxWaitMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(maxWaitMs);
    const pthread_t self = ::pthread_self();
    for (;;) {
        const Clock::time_point now = Clock::now();
        // The calling thread's timers due now. Procedures may start or stop
        // timers, so each is looked up again before it runs.
        uintptr_t due[kMaxTimers];
        int dueCount = 0;
        Clock::time_point next = deadline;
        {
            std::lock_guard<std::mutex> guard(g_mutex);
            for (const Timer& timer : g_timers) {
                if (timer.id == 0 || !::pthread_equal(timer.owner, self)) continue;
                if (timer.due <= now) {
                    due[dueCount++] = timer.id;
                } else if (timer.due < next) {
                    next = timer.due;
                }
            }
        }
        if (dueCount > 0) {
            int ran = 0;
            for (int i = 0; i < dueCount; ++i) {
                TimerProc proc = nullptr;
                {
                    std::lock_guard<std::mutex> guard(g_mutex);
                    Timer* timer = FindTimer(due[i], true);
                    if (timer == nullptr) continue;
                    // One event per pump however many periods passed, as WM_TIMER.
                    timer->due = now + timer->period;
                    proc = timer->proc;
                }
                proc(nullptr, kTimerMessage, due[i], TickCount());
                ++ran;
            }
            return ran;
        }
        if (now >= deadline) return 0;
        std::this_thread::sleep_until(next);
    }
}

}  // namespace pexil::platform::backend
