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
//
// Times are nanoseconds of the monotonic clock, read through the system-call
// table: a failed read ends a wait at once (the pump returns having run
// nothing) and starts no timer, never a wait on a garbage time.
#include "platform/backend.h"
#include "platform/mutex.h"

#include <pthread.h>
#include <time.h>

#include <cstring>

namespace pexil::platform::backend {
namespace {

struct Timer {
    uintptr_t id;  // 0: a free slot
    pthread_t owner;
    uint64_t periodNs;
    uint64_t dueNs;
    TimerProc proc;
};

// More timers than the process ever runs at once (the factory runs one).
constexpr int kMaxTimers = 64;
// Windows raises very short periods to this minimum (USER_TIMER_MINIMUM).
constexpr uint32_t kMinimumPeriodMs = 10;
constexpr unsigned int kTimerMessage = 0x0113;  // WM_TIMER

Mutex g_mutex;
Timer g_timers[kMaxTimers] PEXIL_GUARDED_BY(g_mutex);
uintptr_t g_nextTimerId PEXIL_GUARDED_BY(g_mutex) = 1;

pthread_once_t g_exitWatchOnce = PTHREAD_ONCE_INIT;
pthread_key_t g_exitWatch;
bool g_exitWatchReady = false;

// At a thread's exit: its timers end with it.
void ForgetTimersOfExitingThread(void*) {
    const pthread_t self = ::pthread_self();
    MutexLock guard(g_mutex);
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
// null.
Timer* FindTimer(uintptr_t id, bool ownOnly) PEXIL_REQUIRES(g_mutex) {
    if (id == 0) return nullptr;
    for (Timer& timer : g_timers) {
        if (timer.id != id) continue;
        if (ownOnly && !::pthread_equal(timer.owner, ::pthread_self())) return nullptr;
        return &timer;
    }
    return nullptr;
}

}  // namespace

constexpr uint64_t kNsPerMs = 1000000u;

int MonotonicClock(uint64_t* nanoseconds) {
    timespec now{};
    if (nanoseconds == nullptr || ::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    *nanoseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    return 1;
}

uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc) {
    if (proc == nullptr || !WatchCallingThread()) return 0;
    if (milliseconds < kMinimumPeriodMs) milliseconds = kMinimumPeriodMs;
    uint64_t now = 0;
    if (System().monotonicClock(&now) == 0) return 0;  // no time to count from
    MutexLock guard(g_mutex);
    for (Timer& timer : g_timers) {
        if (timer.id != 0) continue;
        const uint64_t period = milliseconds * kNsPerMs;
        timer = Timer{g_nextTimerId++, ::pthread_self(), period, now + period, proc};
        return timer.id;
    }
    return 0;  // as many timers as the table holds: SetTimer fails
}

int KillTimer(uintptr_t id) {
    MutexLock guard(g_mutex);
    Timer* timer = FindTimer(id, true);
    if (timer == nullptr) return 0;
    timer->id = 0;
    return 1;
}

int TimerRunning(uintptr_t id) {
    MutexLock guard(g_mutex);
    return FindTimer(id, false) != nullptr ? 1 : 0;
}

int PumpMessages(uint32_t maxWaitMs) {
    uint64_t now = 0;
    if (System().monotonicClock(&now) == 0) return 0;
    const uint64_t deadline = now + maxWaitMs * kNsPerMs;
    const pthread_t self = ::pthread_self();
    for (;;) {
        // The calling thread's timers due now. Procedures may start or stop
        // timers, so each is looked up again before it runs.
        uintptr_t due[kMaxTimers];
        int dueCount = 0;
        uint64_t next = deadline;
        {
            MutexLock guard(g_mutex);
            for (const Timer& timer : g_timers) {
                if (timer.id == 0 || !::pthread_equal(timer.owner, self)) continue;
                if (timer.dueNs <= now) {
                    due[dueCount++] = timer.id;
                } else if (timer.dueNs < next) {
                    next = timer.dueNs;
                }
            }
        }
        if (dueCount > 0) {
            int ran = 0;
            for (int i = 0; i < dueCount; ++i) {
                TimerProc proc = nullptr;
                {
                    MutexLock guard(g_mutex);
                    Timer* timer = FindTimer(due[i], true);
                    if (timer == nullptr) continue;
                    // One event per pump however many periods passed, as WM_TIMER.
                    timer->dueNs = now + timer->periodNs;
                    proc = timer->proc;
                }
                proc(nullptr, kTimerMessage, due[i], static_cast<unsigned long>(now / kNsPerMs));
                ++ran;
            }
            return ran;
        }
        if (now >= deadline) return 0;
        // Rounded up: a wait that ends early only turns the loop once more.
        Sleep(static_cast<uint32_t>((next - now + kNsPerMs - 1) / kNsPerMs));
        if (System().monotonicClock(&now) == 0) return 0;
    }
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

uintptr_t CurrentThreadId() {
    // pthread_t is an integer or a pointer, depending on the C library.
    const pthread_t self = ::pthread_self();
    uintptr_t id = 0;
    static_assert(sizeof(self) <= sizeof(id), "pthread_t fits in uintptr_t");
    std::memcpy(&id, &self, sizeof(self));
    return id != 0 ? id : 1;
}

}  // namespace pexil::platform
