// The POSIX system-call table and the exported C entry points of the platform
// library.
#include "platform/posix/backend.h"

namespace pexil::platform {
namespace {

constexpr SystemCalls kOriginal = {
    posix::DebugOutput,
    posix::DebugBreak,
    posix::GetExecutablePath,
    posix::RunProcess,
    posix::Access,
    posix::CreateDirectory,
    posix::OpenFileForRead,
    posix::GetFileSize,
    posix::ReadFile,
    posix::WriteFile,
    posix::CloseFile,
    posix::OpenLogFile,
    posix::DeleteFile,
    posix::FindFirstFile,
    posix::FindNextFile,
    posix::FindClose,
    posix::LoadLibrary,
    posix::GetProcAddress,
    posix::FreeLibrary,
    posix::GetModuleHandle,
    posix::ModuleFromAddress,
    posix::GetPrivateProfileString,
    posix::LockInit,
    posix::LockDelete,
    posix::LockEnter,
    posix::LockLeave,
    posix::SetTimer,
    posix::KillTimer,
    posix::PumpMessages,
    posix::Sleep,
    posix::CurrentTime,
    posix::ToLocalTime,
    posix::Allocate,
    posix::Deallocate,
};

// Constant-initialised, so it is usable from any module's static initialisation.
SystemCalls g_live = kOriginal;

}  // namespace

SystemCalls& System() {
    return g_live;
}
const SystemCalls& OriginalSystem() {
    return kOriginal;
}

}  // namespace pexil::platform

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
    const int ok = pexil::platform::System().writeFile(file, text, length, &written);
    pexil::platform::LockLeave(lock);
    return ok != 0 && written == length ? 1 : 0;
}

PEXIL_PLATFORM_API int PexilPumpMessages(unsigned int maxWaitMs) {
    return pexil::platform::System().pumpMessages(maxWaitMs);
}
}
