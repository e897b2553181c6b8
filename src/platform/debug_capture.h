// For tests and test hosts: capturing the debug-output channel, and the time
// zone. Capturing the debug-output channel: The capture
// sees what the real channel carries: on POSIX standard error (fd 2) is
// redirected into a temporary file; on Windows a vectored exception handler
// receives the DBG_PRINTEXCEPTION_C that OutputDebugStringA raises.
#ifndef PEXIL_PLATFORM_DEBUG_CAPTURE_H
#define PEXIL_PLATFORM_DEBUG_CAPTURE_H

#include <string>

namespace pexil::platform::testing {

// Captures the debug output of the whole process between construction and
// Take() or destruction. One capture at a time.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // Everything captured so far; the capture goes on.
    std::string Text();

private:
    void Stop();
    int savedDescriptor_ = -1;
    int captureDescriptor_ = -1;
    [[maybe_unused]] void* handler_ = nullptr;  // the exception handler, on Windows
};

// For a test host on Windows: copies every debug message to standard error as
// it is emitted, so that a parent process sees it. Does nothing on POSIX, where
// debug output already is standard error.
void ForwardDebugOutputToStandardError();

// Sets an environment variable of this process, which the programs it starts
// inherit; a null value removes it.
void SetEnvironmentVariable(const char* name, const char* value);

// Sets the process's time zone for local time, as the environment variable TZ
// does ("IST-5:30": five and a half hours east of UTC); null: the system's own.
void SetTimeZone(const char* zone);

#if defined(_WIN32)
// The calling thread's quit request (WM_QUIT): post one with an exit code, or
// take the one waiting (its exit code, or -1 when none waits). POSIX threads
// have no message queue.
void PostQuitRequest(int exitCode);
int TakeQuitRequest();
#endif

}  // namespace pexil::platform::testing

#endif
