// The system-call table, filled by member name from this build's backend, so
// that two entries of the same type cannot trade places unnoticed.
#include "platform/backend.h"

namespace pexil::platform {
namespace {

// The table and how many of its entries were set.
struct Filled {
    SystemCalls calls{};
    size_t count = 0;

    template <typename Function>
    constexpr void Set(Function SystemCalls::*entry, Function function) {
        calls.*entry = function;
        ++count;
    }
};

constexpr Filled MakeOriginal() {
    Filled table;
    table.Set(&SystemCalls::debugOutput, backend::DebugOutput);
    table.Set(&SystemCalls::debugBreak, backend::DebugBreak);
    table.Set(&SystemCalls::getExecutablePath, backend::GetExecutablePath);
    table.Set(&SystemCalls::runProcess, backend::RunProcess);
    table.Set(&SystemCalls::access, backend::Access);
    table.Set(&SystemCalls::createDirectory, backend::CreateDirectory);
    table.Set(&SystemCalls::openFileForRead, backend::OpenFileForRead);
    table.Set(&SystemCalls::getFileSize, backend::GetFileSize);
    table.Set(&SystemCalls::readFile, backend::ReadFile);
    table.Set(&SystemCalls::writeFile, backend::WriteFile);
    table.Set(&SystemCalls::closeFile, backend::CloseFile);
    table.Set(&SystemCalls::openLogFile, backend::OpenLogFile);
    table.Set(&SystemCalls::deleteFile, backend::DeleteFile);
    table.Set(&SystemCalls::lastErrorText, backend::LastErrorText);
    table.Set(&SystemCalls::findFirstFile, backend::FindFirstFile);
    table.Set(&SystemCalls::findNextFile, backend::FindNextFile);
    table.Set(&SystemCalls::findClose, backend::FindClose);
    table.Set(&SystemCalls::loadLibrary, backend::LoadLibrary);
    table.Set(&SystemCalls::getProcAddress, backend::GetProcAddress);
    table.Set(&SystemCalls::freeLibrary, backend::FreeLibrary);
    table.Set(&SystemCalls::getModuleHandle, backend::GetModuleHandle);
    table.Set(&SystemCalls::moduleFromAddress, backend::ModuleFromAddress);
    table.Set(&SystemCalls::getModuleFileName, backend::GetModuleFileName);
    table.Set(&SystemCalls::loadFailureReason, backend::LoadFailureReason);
    table.Set(&SystemCalls::getPrivateProfileString, backend::GetPrivateProfileString);
    table.Set(&SystemCalls::lockInit, backend::LockInit);
    table.Set(&SystemCalls::lockDelete, backend::LockDelete);
    table.Set(&SystemCalls::lockEnter, backend::LockEnter);
    table.Set(&SystemCalls::lockLeave, backend::LockLeave);
    table.Set(&SystemCalls::setTimer, backend::SetTimer);
    table.Set(&SystemCalls::killTimer, backend::KillTimer);
    table.Set(&SystemCalls::timerRunning, backend::TimerRunning);
    table.Set(&SystemCalls::pumpMessages, backend::PumpMessages);
    table.Set(&SystemCalls::sleep, backend::Sleep);
    table.Set(&SystemCalls::monotonicClock, backend::MonotonicClock);
    table.Set(&SystemCalls::currentTime, backend::CurrentTime);
    table.Set(&SystemCalls::toLocalTime, backend::ToLocalTime);
    table.Set(&SystemCalls::allocate, backend::Allocate);
    table.Set(&SystemCalls::deallocate, backend::Deallocate);
    return table;
}

constexpr Filled kFilled = MakeOriginal();
// One entry set per entry of the table, each by name: an entry added to the
// table and forgotten here would otherwise be a null call at run time.
static_assert(kFilled.count * sizeof(void (*)()) == sizeof(SystemCalls),
              "every system call has its backend function");
constexpr SystemCalls kOriginal = kFilled.calls;

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
