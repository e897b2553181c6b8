#include "platform/debug_capture.h"
#include "platform/mutex.h"

#include "platform/win32/windows_api.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace pexil::platform::testing {
namespace {

#ifndef DBG_PRINTEXCEPTION_WIDE_C
#define DBG_PRINTEXCEPTION_WIDE_C 0x4001000AL
#endif

Mutex g_mutex;
std::string* g_captured PEXIL_GUARDED_BY(g_mutex) = nullptr;
bool g_forward PEXIL_GUARDED_BY(g_mutex) = false;

// The narrow text a debug-print exception carries, or null.
const char* NarrowText(const EXCEPTION_RECORD* record, size_t* length) {
    const ULONG_PTR* info = record->ExceptionInformation;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        *length = static_cast<size_t>(info[0]);
        return reinterpret_cast<const char*>(info[1]);
    }
    if (record->ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_WIDE_C) &&
        record->NumberParameters >= 4) {
        *length = static_cast<size_t>(info[2]);
        return reinterpret_cast<const char*>(info[3]);
    }
    return nullptr;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    size_t length = 0;
    const char* text = NarrowText(pointers->ExceptionRecord, &length);
    if (text == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    // The length counts the terminator; trust the terminator over the count.
    length = ::strnlen(text, length);
    MutexLock guard(g_mutex);
    if (g_captured != nullptr) g_captured->append(text, length);
    if (g_forward) {
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written,
                    nullptr);
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

DebugCapture::DebugCapture() {
    MutexLock guard(g_mutex);
    g_captured = new std::string;
    // Room enough that capturing allocates nothing: a test may capture while
    // it makes allocations fail.
    g_captured->reserve(64 * 1024);
    handler_ = ::AddVectoredExceptionHandler(1, OnException);
}

DebugCapture::~DebugCapture() {
    Stop();
}

void DebugCapture::Stop() {
    if (handler_ != nullptr) {
        ::RemoveVectoredExceptionHandler(handler_);
        handler_ = nullptr;
    }
    MutexLock guard(g_mutex);
    delete g_captured;
    g_captured = nullptr;
}

std::string DebugCapture::Text() {
    MutexLock guard(g_mutex);
    return g_captured != nullptr ? *g_captured : std::string();
}

void ForwardDebugOutputToStandardError() {
    {
        MutexLock guard(g_mutex);
        if (g_forward) return;
        g_forward = true;
    }
    ::AddVectoredExceptionHandler(1, OnException);
}

void PostQuitRequest(int exitCode) {
    ::PostQuitMessage(exitCode);
}

int TakeQuitRequest() {
    MSG message;
    if (!::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
    return static_cast<int>(message.wParam);
}

void SetEnvironmentVariable(const char* name, const char* value) {
    // The C library's copy and the process's own, which child processes inherit.
    ::_putenv_s(name, value != nullptr ? value : "");
    ::SetEnvironmentVariableA(name, value);
}

void SetTimeZone(const char* zone) {
    ::_putenv_s("TZ", zone != nullptr ? zone : "");
    ::_tzset();
}

}  // namespace pexil::platform::testing
