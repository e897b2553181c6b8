// Debug output, the executable's path and running a program on Windows.
#include "platform/backend.h"
#include "platform/refusal.h"

#include "platform/win32/windows_api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pexil::platform::backend {

namespace {

// PEXIL_DEBUG_STDERR=1 at the module's load: every debug-output text is also
// written to standard error, for a console user without a debugger. Read once
// per module (each carries its own platform layer), as PEXIL_EXPLAIN is.
bool CopyToStandardErrorAtLoad() {
    const char* value = std::getenv("PEXIL_DEBUG_STDERR");
    return value != nullptr && value[0] == '1' && value[1] == '\0';
}

const bool g_copyToStandardError = CopyToStandardErrorAtLoad();

}  // namespace

void DebugOutput(const char* text) {
    if (text == nullptr) return;
    ::OutputDebugStringA(text);
    if (!g_copyToStandardError) return;
    // One WriteFile on the handle, past every C runtime's buffer: the modules
    // of a process each have their own runtime, and their lines must not mix.
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(error, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void DebugBreak(const char*) {
    // The break alone, as the framework's contract has it: the debugger shows
    // where, and the debug channel carries no text of our own.
    ::DebugBreak();
}

int GetExecutablePath(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    DWORD length =
        ::GetModuleFileNameA(::GetModuleHandleA(nullptr), buffer, static_cast<DWORD>(size));
    if (length == 0) buffer[0] = '\0';
    if (length >= static_cast<DWORD>(size)) length = static_cast<DWORD>(size - 1);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

namespace {

// Quotes one argument for CreateProcess's command line (the C runtime's rules).
void AppendQuoted(std::string& line, const char* argument) {
    line += '"';
    size_t backslashes = 0;
    for (const char* p = argument; *p != '\0'; ++p) {
        if (*p == '\\') {
            ++backslashes;
            continue;
        }
        if (*p == '"') backslashes = backslashes * 2 + 1;
        line.append(backslashes, '\\');
        backslashes = 0;
        line += *p;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

HANDLE OpenOutput(const char* path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int RunProcess(const ProcessOptions* options) {
    if (options == nullptr || options->executable == nullptr) return -1;
    std::string line;
    AppendQuoted(line, options->executable);
    if (options->arguments != nullptr) {
        for (const char* const* arg = options->arguments; *arg != nullptr; ++arg) {
            line += ' ';
            AppendQuoted(line, *arg);
        }
    }
    HANDLE out =
        options->stdoutPath ? OpenOutput(options->stdoutPath) : ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err =
        options->stderrPath ? OpenOutput(options->stderrPath) : ::GetStdHandle(STD_ERROR_HANDLE);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    BOOL started = ::CreateProcessA(options->executable, line.data(), nullptr, nullptr, TRUE, 0,
                                    nullptr, options->workingDirectory, &startup, &process);
    if (options->stdoutPath && out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (options->stderrPath && err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
    if (!started) return -1;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int SystemMessage(unsigned long error, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, buffer, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        length = static_cast<DWORD>(
            std::snprintf(buffer, static_cast<size_t>(size), "error %lu", error));
        if (length >= static_cast<DWORD>(size)) length = static_cast<DWORD>(size - 1);
    }
    // The system's messages end with CR LF (and sometimes a blank).
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
        --length;
    }
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void LastErrorText(char* buffer, int size) {
    const DWORD error = ::GetLastError();
    if (RefusalText(buffer, size)) return;
    SystemMessage(error, buffer, size);
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

const char* GetEnvironmentVariable(const char* name) {
    return name != nullptr ? std::getenv(name) : nullptr;
}

}  // namespace pexil::platform
