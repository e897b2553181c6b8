// The operating-system layer. Every call the framework makes into the system
// goes through the table below, one entry per operation, so that a test can
// replace an entry (to make a load, an open or an allocation fail on purpose)
// and restore it afterwards. Code outside src/platform includes only this header
// and calls the shorthands at its end, never the table directly (tests replace
// entries with testing::SystemOverride).
//
// Each operation keeps the contract of the Windows call it stands for; on POSIX
// the backend supplies the same contract (see the README's notes on Linux).
// Paths handed to the POSIX backend may use '\' as a separator: it is read as '/'.
// Unless an entry says otherwise, any thread may call it at any time, and it
// keeps nothing of the caller's: strings and buffers are borrowed for the call.
#ifndef PEXIL_PLATFORM_PLATFORM_H
#define PEXIL_PLATFORM_PLATFORM_H

#include <pexil/config.h>
#include <pexil/platform.h>

#include <stddef.h>
#include <stdint.h>

namespace pexil::platform {

// A file or directory-search handle; kInvalidHandle when none.
using Handle = intptr_t;
constexpr Handle kInvalidHandle = -1;

// Attribute bits of FindData::attributes, as Windows names them: a directory
// (FILE_ATTRIBUTE_DIRECTORY), a link (FILE_ATTRIBUTE_REPARSE_POINT; a POSIX
// symbolic link too), a plain file (FILE_ATTRIBUTE_NORMAL), and on POSIX a
// FIFO, socket or device (FILE_ATTRIBUTE_DEVICE).
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeDevice = 0x40;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// The largest file the framework reads whole (a registry file, a profile file
// on POSIX): a larger one is unreadable. Real ones are kilobytes; the limit
// keeps a giant file from costing the process its memory, or, in 32 bits, from
// not fitting a string at all.
constexpr uint32_t kMaxReadFileSize = 1u << 30;

// One entry of a directory search (the part of WIN32_FIND_DATAA the framework reads).
struct FindData {
    uint32_t attributes;
    // Last write time in 100-nanosecond units since 1601-01-01 (a FILETIME).
    uint64_t lastWriteTime;
    char name[260];
};

// Broken-down local time, the fields of struct tm that the framework uses.
struct LocalTime {
    int year;    // e.g. 2008
    int month;   // 1..12
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
    int second;  // 0..60
};

// A thread timer's procedure: window, message, timer ID, tick count (all ignored
// by the framework's procedures).
using TimerProc = void(PEXIL_CALLBACK*)(void* window, unsigned int message, uintptr_t timerId,
                                        unsigned long time);

// A process run by the test harness: exit code, or -1 when it could not be started.
struct ProcessOptions {
    const char* executable;        // path of the program
    const char* const* arguments;  // null-terminated, without the program itself; may be null
    const char* workingDirectory;  // may be null
    const char* stdoutPath;        // file receiving standard output; null: inherited
    const char* stderrPath;        // file receiving standard error; null: inherited
};

struct SystemCalls {
    // --- debug output -----------------------------------------------------
    // OutputDebugStringA. POSIX: one write() of the whole text to fd 2, so that
    // messages of concurrent threads never interleave.
    void (*debugOutput)(const char* text);
    // DebugBreak (the report unused). POSIX (no debugger break): the report
    // goes to debugOutput instead.
    void (*debugBreak)(const char* report);

    // --- process ----------------------------------------------------------
    // GetModuleFileNameA(GetModuleHandleA(NULL)): the executable's full path.
    // Returns the number of characters written (cut to size - 1), 0 on failure.
    int (*getExecutablePath)(char* buffer, int size);
    // Runs a program and waits for it (the scenario harness). Blocks the caller.
    int (*runProcess)(const ProcessOptions* options);

    // --- files and directories --------------------------------------------
    // A Handle belongs to whoever opened it; it is closed once, by closeFile
    // (files) or findClose (searches), on any thread.
    //
    // _access(path, mode): 0 when the path exists (mode 0), -1 otherwise.
    int (*access)(const char* path, int mode);
    // CreateDirectoryA(path, NULL): non-zero on success; one level only.
    // POSIX: mode 0775, so never writable by others whatever the umask.
    int (*createDirectory)(const char* path);
    // CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), for a
    // regular file only (links to one are followed): a directory, FIFO,
    // device or pipe is refused without blocking, and reads as missing.
    Handle (*openFileForRead)(const char* path);
    // GetFileSize: the size in bytes, or UINT32_MAX on failure and for a file
    // of 4 GiB or more.
    uint32_t (*getFileSize)(Handle file);
    // ReadFile: non-zero on success; *bytesRead receives the count delivered.
    int (*readFile)(Handle file, void* buffer, uint32_t size, uint32_t* bytesRead);
    // WriteFile: non-zero on success. On a log file each call is one append, so
    // the lines of writers in other processes never mix inside one call.
    int (*writeFile)(Handle file, const void* data, uint32_t size, uint32_t* bytesWritten);
    // CloseHandle on a file.
    void (*closeFile)(Handle file);
    // Opens a log file for appending, created when missing (POSIX: mode 0644).
    // Other openers (this process or another) may read it and append to it
    // too; nobody may delete it while it is open (POSIX: an advisory shared
    // lock, which deleteFile respects). Never through a link and never
    // blocking: what is found under the name must be a regular file with no
    // other name (POSIX: owned by the effective user too), else it is refused
    // (Windows: a reparse point is refused; the directories above the name may
    // be links). *locked (when given) is set to 1 when the file is protected
    // from deletion, 0 when it is handed out without (POSIX: another process
    // held its lock for longer than a deleter does).
    Handle (*openLogFile)(const char* path, int* locked);
    // DeleteFileA: non-zero on success. Fails for a file another open holds
    // (POSIX: another holder of its advisory lock). POSIX: only a regular
    // file is deleted, and no link is followed to check it.
    int (*deleteFile)(const char* path);
    // The system's message for why the calling thread's last failed file or
    // directory call failed (errno; on Windows GetLastError()), written into
    // the buffer, cut to size - 1. Asked right after the failure. When the
    // call refused what it found under the name (openFileForRead,
    // openLogFile, deleteFile), the reason instead ("it is a symbolic link,
    // which is not followed", ...).
    void (*lastErrorText)(char* buffer, int size);
    // FindFirstFileA / FindNextFileA / FindClose, with a pattern "<directory>*".
    Handle (*findFirstFile)(const char* pattern, FindData* data);
    int (*findNextFile)(Handle search, FindData* data);
    void (*findClose)(Handle search);

    // --- dynamic loading ----------------------------------------------------
    // The loader serialises these itself. Each successful loadLibrary takes one
    // reference, which its caller gives back with one freeLibrary.
    //
    // LoadLibraryA; POSIX: dlopen(path, RTLD_NOW | RTLD_LOCAL). Null on failure.
    PexilModuleHandle (*loadLibrary)(const char* path);
    // GetProcAddress; POSIX: dlsym.
    void* (*getProcAddress)(PexilModuleHandle module, const char* name);
    // FreeLibrary; POSIX: dlclose. Non-zero on success.
    int (*freeLibrary)(PexilModuleHandle module);
    // GetModuleHandleA(name): the handle of a loaded module, no reference taken.
    // POSIX: dlopen(name, RTLD_NOW | RTLD_NOLOAD), the reference given back at once.
    PexilModuleHandle (*getModuleHandle)(const char* name);
    // The handle of the module whose image contains the address, no reference taken.
    PexilModuleHandle (*moduleFromAddress)(const void* address);
    // GetModuleFileNameA(module): the loaded module's file, cut to size - 1.
    // Returns the length, 0 on failure.
    int (*getModuleFileName)(PexilModuleHandle module, char* buffer, int size);
    // Why the calling thread's last loadLibrary failed, in the loader's own
    // words (dlerror(); on Windows the system's message for GetLastError()),
    // written into the buffer, cut to size - 1. Returns the length; 0 and an
    // empty buffer when this thread has no failure on record.
    int (*loadFailureReason)(char* buffer, int size);

    // --- profile strings ----------------------------------------------------
    // GetPrivateProfileStringA(section, key, default, buffer, size, file).
    uint32_t (*getPrivateProfileString)(const char* section, const char* key,
                                        const char* defaultValue, char* buffer, uint32_t size,
                                        const char* file);

    // --- locks (recursive for the owning thread) ----------------------------
    // The caller owns the PexilLock's storage. lockInit once before any other
    // use, lockDelete once after the last; lockLeave only on the thread that
    // entered, once per lockEnter.
    void (*lockInit)(PexilLock* lock);
    void (*lockDelete)(PexilLock* lock);
    void (*lockEnter)(PexilLock* lock);
    void (*lockLeave)(PexilLock* lock);

    // --- thread timers ------------------------------------------------------
    // A timer belongs to the thread that started it: its procedure runs only
    // while that thread pumps (pumpMessages), only that thread can stop it,
    // and it ends with that thread.
    //
    // SetTimer(NULL, 0, milliseconds, proc): a periodic timer of the calling
    // thread; returns its non-zero ID (unique in the process), or 0 on failure.
    uintptr_t (*setTimer)(uint32_t milliseconds, TimerProc proc);
    // KillTimer(NULL, id), on the thread that started the timer. Non-zero on
    // success; 0 on any other thread, and for a timer that no longer runs.
    int (*killTimer)(uintptr_t id);
    // 1 while the timer runs: started, not stopped, and its thread has not
    // exited. Any thread may ask.
    int (*timerRunning)(uintptr_t id);
    // PexilPumpMessages: the calling thread's due timers. Allocates nothing.
    // On Windows a quit request it meets is posted again and ends the pump.
    int (*pumpMessages)(uint32_t maxWaitMs);
    // Sleep for a number of milliseconds.
    void (*sleep)(uint32_t milliseconds);
    // The monotonic clock in nanoseconds (POSIX: CLOCK_MONOTONIC; Windows:
    // GetTickCount64, in whole milliseconds). Non-zero on success; on failure
    // the thread timers start nothing and the pump returns at once.
    int (*monotonicClock)(uint64_t* nanoseconds);

    // --- time -------------------------------------------------------------
    // time(): seconds since 1970-01-01 UTC, 64 bits on every system.
    int64_t (*currentTime)();
    // localtime(): non-zero on success; the process's time zone.
    int (*toLocalTime)(int64_t time, LocalTime* local);

    // --- memory -----------------------------------------------------------
    // Allocation for the framework's own objects; null on failure.
    void* (*allocate)(size_t size);
    void (*deallocate)(void* memory);
};

// The live table. Tests may replace entries and must restore them.
PEXIL_PLATFORM_API SystemCalls& System();
// The backend's own functions, for restoring the table or forwarding to them.
PEXIL_PLATFORM_API const SystemCalls& OriginalSystem();

// Shorthands that call through the live table: the one way the framework
// calls the system.
inline void DebugOutput(const char* text) {
    System().debugOutput(text);
}
inline void DebugBreak(const char* report) {
    System().debugBreak(report);
}
inline int GetExecutablePath(char* buffer, int size) {
    return System().getExecutablePath(buffer, size);
}
inline int RunProcess(const ProcessOptions* options) {
    return System().runProcess(options);
}
inline int Access(const char* path, int mode) {
    return System().access(path, mode);
}
inline int CreateDirectory(const char* path) {
    return System().createDirectory(path);
}
inline Handle OpenFileForRead(const char* path) {
    return System().openFileForRead(path);
}
inline uint32_t GetFileSize(Handle file) {
    return System().getFileSize(file);
}
inline int ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* bytesRead) {
    return System().readFile(file, buffer, size, bytesRead);
}
inline int WriteFile(Handle file, const void* data, uint32_t size, uint32_t* bytesWritten) {
    return System().writeFile(file, data, size, bytesWritten);
}
inline void CloseFile(Handle file) {
    System().closeFile(file);
}
inline Handle OpenLogFile(const char* path, int* locked = nullptr) {
    return System().openLogFile(path, locked);
}
inline int DeleteFile(const char* path) {
    return System().deleteFile(path);
}
inline void LastErrorText(char* buffer, int size) {
    System().lastErrorText(buffer, size);
}
inline Handle FindFirstFile(const char* pattern, FindData* data) {
    return System().findFirstFile(pattern, data);
}
inline int FindNextFile(Handle search, FindData* data) {
    return System().findNextFile(search, data);
}
inline void FindClose(Handle search) {
    System().findClose(search);
}
inline PexilModuleHandle LoadLibrary(const char* path) {
    return System().loadLibrary(path);
}
inline void* GetProcAddress(PexilModuleHandle module, const char* name) {
    return System().getProcAddress(module, name);
}
inline int FreeLibrary(PexilModuleHandle module) {
    return System().freeLibrary(module);
}
inline PexilModuleHandle GetModuleHandle(const char* name) {
    return System().getModuleHandle(name);
}
inline PexilModuleHandle ModuleFromAddress(const void* address) {
    return System().moduleFromAddress(address);
}
inline int GetModuleFileName(PexilModuleHandle module, char* buffer, int size) {
    return System().getModuleFileName(module, buffer, size);
}
inline int LoadFailureReason(char* buffer, int size) {
    return System().loadFailureReason(buffer, size);
}
inline uint32_t GetPrivateProfileString(const char* section, const char* key,
                                        const char* defaultValue, char* buffer, uint32_t size,
                                        const char* file) {
    return System().getPrivateProfileString(section, key, defaultValue, buffer, size, file);
}
inline void LockInit(PexilLock* lock) {
    System().lockInit(lock);
}
inline void LockDelete(PexilLock* lock) {
    System().lockDelete(lock);
}
inline void LockEnter(PexilLock* lock) {
    System().lockEnter(lock);
}
inline void LockLeave(PexilLock* lock) {
    System().lockLeave(lock);
}
inline uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc) {
    return System().setTimer(milliseconds, proc);
}
inline int KillTimer(uintptr_t id) {
    return System().killTimer(id);
}
inline int TimerRunning(uintptr_t id) {
    return System().timerRunning(id);
}
inline int PumpMessages(uint32_t maxWaitMs) {
    return System().pumpMessages(maxWaitMs);
}
inline void Sleep(uint32_t milliseconds) {
    System().sleep(milliseconds);
}
inline int MonotonicClock(uint64_t* nanoseconds) {
    return System().monotonicClock(nanoseconds);
}
inline int64_t CurrentTime() {
    return System().currentTime();
}
inline int ToLocalTime(int64_t time, LocalTime* local) {
    return System().toLocalTime(time, local);
}
inline void* Allocate(size_t size) {
    return System().allocate(size);
}
inline void Deallocate(void* memory) {
    System().deallocate(memory);
}

// --- services outside the table ------------------------------------------

// The process's resident memory in bytes (POSIX: /proc/self/statm; Windows: the
// working set), 0 when it cannot be read. For measurements, not for decisions.
PEXIL_PLATFORM_API size_t ResidentBytes();

// True when a module of that path is loaded in the process (POSIX: dlopen with
// RTLD_NOLOAD finds it). Proves that an unloaded module is really gone.
PEXIL_PLATFORM_API bool IsModuleLoaded(const char* path);

// The calling thread's identity, never 0 (POSIX: pthread_self; Windows:
// GetCurrentThreadId). Compared, never interpreted.
PEXIL_PLATFORM_API uintptr_t CurrentThreadId();

// The value of an environment variable, or null when it is not set. The text
// belongs to the environment: copy it before the environment changes. POSIX:
// null in a set-user-ID or set-group-ID program (secure_getenv), whose
// environment is its caller's to set.
PEXIL_PLATFORM_API const char* GetEnvironmentVariable(const char* name);

// Standard output in binary mode, so that a program's output is byte for byte
// the same on every system (no CR added before LF on Windows). Nothing on POSIX.
PEXIL_PLATFORM_API void UseBinaryStandardOutput();

// While alive, what the process writes to standard output (C streams and the
// descriptor or handle beneath them) goes to standard error instead: for a
// tool whose standard output must stay readable by machines while it runs code
// that is not its own, such as a module printing as it loads. One at a time,
// on one thread.
class PEXIL_PLATFORM_API StandardOutputToError {
public:
    StandardOutputToError();
    ~StandardOutputToError();
    StandardOutputToError(const StandardOutputToError&) = delete;
    StandardOutputToError& operator=(const StandardOutputToError&) = delete;

private:
    int savedDescriptor_ = -1;
    [[maybe_unused]] void* savedHandle_ = nullptr;  // the standard-output handle, on Windows
};

}  // namespace pexil::platform

#endif
