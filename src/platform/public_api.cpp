// The platform library's exported C entry points, the same on every system:
// each calls through the system-call table.
#include "platform/platform.h"

extern "C" {

PEXIL_PLATFORM_API void PexilLockEnter(PexilLock* lock) {
    pexil::platform::LockEnter(lock);
}
PEXIL_PLATFORM_API void PexilLockLeave(PexilLock* lock) {
    pexil::platform::LockLeave(lock);
}
PEXIL_PLATFORM_API void PexilDebugOutput(const char* text) {
    pexil::platform::DebugOutput(text);
}

PEXIL_PLATFORM_API int PexilLogWrite(PexilLock* lock, intptr_t file, const char* text,
                                     unsigned int length) {
    if (lock == nullptr || file == -1 || (text == nullptr && length > 0)) return 0;
    pexil::platform::LockEnter(lock);
    uint32_t written = 0;
    const int ok = pexil::platform::WriteFile(file, text, length, &written);
    pexil::platform::LockLeave(lock);
    return ok != 0 && written == length ? 1 : 0;
}

PEXIL_PLATFORM_API int PexilPumpMessages(unsigned int maxWaitMs) {
    return pexil::platform::PumpMessages(maxWaitMs);
}
}
