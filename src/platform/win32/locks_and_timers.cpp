// Critical sections, thread timers and the message pump on Windows.
#include "platform/backend.h"
#include "platform/mutex.h"

#include "platform/win32/windows_api.h"

#include <new>

namespace pexil::platform::backend {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(PexilLock), "PexilLock is too small");
static_assert(alignof(CRITICAL_SECTION) <= alignof(PexilLock), "PexilLock is misaligned");

CRITICAL_SECTION* SectionOf(PexilLock* lock) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(lock->storage.bytes));
}

}  // namespace

void LockInit(PexilLock* lock) {
    // A short spin before sleeping, as on POSIX: the locks guard short work.
    ::InitializeCriticalSectionAndSpinCount(new (lock->storage.bytes) CRITICAL_SECTION, 4000);
}
void LockDelete(PexilLock* lock) {
    ::DeleteCriticalSection(SectionOf(lock));
}
void LockEnter(PexilLock* lock) {
    ::EnterCriticalSection(SectionOf(lock));
}
void LockLeave(PexilLock* lock) {
    ::LeaveCriticalSection(SectionOf(lock));
}

namespace {

// Which thread owns each running timer, so that any thread can ask whether a
// timer still runs: a thread's timers end with it, and the system says so to
// nobody. A fixed table under a lock: nothing allocates.
struct TimerOwner {
    UINT_PTR id;    // 0: a free slot
    HANDLE thread;  // a handle of the owner, waited on with a zero timeout
};

constexpr int kMaxTimers = 64;
Mutex g_ownersMutex;
TimerOwner g_owners[kMaxTimers] PEXIL_GUARDED_BY(g_ownersMutex);

TimerOwner* FindOwner(UINT_PTR id) PEXIL_REQUIRES(g_ownersMutex) {
    for (TimerOwner& owner : g_owners) {
        if (owner.id == id && id != 0) return &owner;
    }
    return nullptr;
}

void Forget(TimerOwner& owner) PEXIL_REQUIRES(g_ownersMutex) {
    ::CloseHandle(owner.thread);
    owner = TimerOwner{0, nullptr};
}

}  // namespace

uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc) {
    HANDLE thread = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                           &thread, SYNCHRONIZE, FALSE, 0)) {
        return 0;
    }
    MutexLock guard(g_ownersMutex);
    TimerOwner* slot = nullptr;
    for (TimerOwner& owner : g_owners) {
        if (owner.id == 0) {
            slot = &owner;
            break;
        }
    }
    const UINT_PTR id =
        slot != nullptr ? ::SetTimer(nullptr, 0, milliseconds, reinterpret_cast<TIMERPROC>(proc))
                        : 0;
    if (id == 0) {
        ::CloseHandle(thread);
        return 0;
    }
    // A timer of a thread that has exited may have left its ID behind.
    if (TimerOwner* stale = FindOwner(id)) Forget(*stale);
    *slot = TimerOwner{id, thread};
    return id;
}

int KillTimer(uintptr_t id) {
    const BOOL killed = ::KillTimer(nullptr, id);
    // The slot is freed on every path. Asked on another thread than the
    // timer's, the system refuses; the timer then ends at its thread's next
    // event (the framework's procedure stops a timer it no longer counts) or
    // with its thread, and a slot kept for it would leak with the thread's
    // handle if the thread ended without pumping again.
    MutexLock guard(g_ownersMutex);
    if (TimerOwner* owner = FindOwner(id)) Forget(*owner);
    return killed ? 1 : 0;
}

int TimerRunning(uintptr_t id) {
    MutexLock guard(g_ownersMutex);
    TimerOwner* owner = FindOwner(id);
    if (owner == nullptr) return 0;
    if (::WaitForSingleObject(owner->thread, 0) != WAIT_OBJECT_0) return 1;
    Forget(*owner);  // the thread has exited, and its timers with it
    return 0;
}

int PumpMessages(uint32_t maxWaitMs) {
    const ULONGLONG deadline = ::GetTickCount64() + maxWaitMs;
    int ran = 0;
    for (;;) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // The quit request belongs to the host's own loop: posted
                // again, with its exit code, and the pump ends at once.
                ::PostQuitMessage(static_cast<int>(message.wParam));
                return ran;
            }
            if (message.message == WM_TIMER && message.lParam != 0) ++ran;
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        if (ran > 0) return ran;
        ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return 0;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                    QS_ALLINPUT);
    }
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

int MonotonicClock(uint64_t* nanoseconds) {
    if (nanoseconds == nullptr) return 0;
    *nanoseconds = ::GetTickCount64() * 1000000u;
    return 1;
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

uintptr_t CurrentThreadId() {
    return static_cast<uintptr_t>(::GetCurrentThreadId());  // never 0
}

}  // namespace pexil::platform
