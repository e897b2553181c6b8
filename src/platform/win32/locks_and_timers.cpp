// Critical sections, thread timers and the message pump on Windows.
#include "platform/backend.h"

#include "platform/win32/windows_api.h"

#include <mutex>
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
std::mutex g_ownersMutex;
TimerOwner g_owners[kMaxTimers];

TimerOwner* FindOwner(UINT_PTR id) {
    for (TimerOwner& owner : g_owners) {
        if (owner.id == id && id != 0) return &owner;
    }
    return nullptr;
}

void Forget(TimerOwner& owner) {
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
    std::lock_guard<std::mutex> guard(g_ownersMutex);
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
    if (!::KillTimer(nullptr, id)) return 0;
    std::lock_guard<std::mutex> guard(g_ownersMutex);
    if (TimerOwner* owner = FindOwner(id)) Forget(*owner);
    return 1;
}

int TimerRunning(uintptr_t id) {
    std::lock_guard<std::mutex> guard(g_ownersMutex);
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

}  // namespace pexil::platform::backend
