// The POSIX system-call table.
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
