// Critical sections, thread timers and the message pump on Windows.
#include "platform/win32/backend.h"

#include "platform/win32/windows_api.h"

#include <new>

namespace pexil::platform::win32 {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(PexilLock), "PexilLock is too small");
static_assert(alignof(CRITICAL_SECTION) <= alignof(PexilLock), "PexilLock is misaligned");

CRITICAL_SECTION* SectionOf(PexilLock* lock) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(lock->storage.bytes));
}

}  // namespace

void LockInit(PexilLock* lock) {
    ::InitializeCriticalSection(new (lock->storage.bytes) CRITICAL_SECTION);
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

uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc) {
    return ::SetTimer(nullptr, 0, milliseconds, reinterpret_cast<TIMERPROC>(proc));
}

int KillTimer(uintptr_t id) {
    return ::KillTimer(nullptr, id) ? 1 : 0;
}

int PumpMessages(uint32_t maxWaitMs) {
    const ULONGLONG deadline = ::GetTickCount64() + maxWaitMs;
    int ran = 0;
    for (;;) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
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

}  // namespace pexil::platform::win32
