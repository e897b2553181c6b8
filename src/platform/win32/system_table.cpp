// The Windows system-call table.
#include "platform/win32/backend.h"

namespace pexil::platform {
namespace {

constexpr SystemCalls kOriginal = {
    win32::DebugOutput,
    win32::DebugBreak,
    win32::GetExecutablePath,
    win32::RunProcess,
    win32::Access,
    win32::CreateDirectory,
    win32::OpenFileForRead,
    win32::GetFileSize,
    win32::ReadFile,
    win32::WriteFile,
    win32::CloseFile,
    win32::OpenLogFile,
    win32::DeleteFile,
    win32::FindFirstFile,
    win32::FindNextFile,
    win32::FindClose,
    win32::LoadLibrary,
    win32::GetProcAddress,
    win32::FreeLibrary,
    win32::GetModuleHandle,
    win32::ModuleFromAddress,
    win32::GetPrivateProfileString,
    win32::LockInit,
    win32::LockDelete,
    win32::LockEnter,
    win32::LockLeave,
    win32::SetTimer,
    win32::KillTimer,
    win32::PumpMessages,
    win32::Sleep,
    win32::CurrentTime,
    win32::ToLocalTime,
    win32::Allocate,
    win32::Deallocate,
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
