// The operating-system layer. Every call the framework makes into the system
// goes through the table below, one entry per operation, so that a test can
// replace an entry (to make a load, an open or an allocation fail on purpose)
// and restore it afterwards. Code outside src/platform includes only this header.
//
// Each operation keeps the contract of the Windows call it stands for; on POSIX
// the backend supplies the same contract (see the README's notes on Linux).
// Paths handed to the POSIX backend may use '\' as a separator: it is read as '/'.
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

// Attribute bit of a directory in FindData::attributes (FILE_ATTRIBUTE_DIRECTORY).
constexpr uint32_t kAttributeDirectory = 0x10;

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
    // OutputDebugStringA. POSIX: one write() of the whole text to fd 2.
    void (*debugOutput)(const char* text);
    // DebugBreak (the report unused). POSIX (no debugger break): the report
    // goes to debugOutput instead.
    void (*debugBreak)(const char* report);

    // --- process ----------------------------------------------------------
    // GetModuleFileNameA(GetModuleHandleA(NULL)): the executable's full path.
    // Returns the number of characters written (cut to size - 1), 0 on failure.
    int (*getExecutablePath)(char* buffer, int size);
    // Runs a program and waits for it (the scenario harness).
    int (*runProcess)(const ProcessOptions* options);

    // --- files and directories --------------------------------------------
    // _access(path, mode): 0 when the path exists (mode 0), -1 otherwise.
    int (*access)(const char* path, int mode);
    // CreateDirectoryA(path, NULL): non-zero on success; one level only.
    int (*createDirectory)(const char* path);
    // CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING).
    Handle (*openFileForRead)(const char* path);
    // GetFileSize: the size in bytes, or UINT32_MAX on failure.
    uint32_t (*getFileSize)(Handle file);
    // ReadFile: non-zero on success; *bytesRead receives the count delivered.
    int (*readFile)(Handle file, void* buffer, uint32_t size, uint32_t* bytesRead);
    // WriteFile: non-zero on success.
    int (*writeFile)(Handle file, const void* data, uint32_t size, uint32_t* bytesWritten);
    // CloseHandle on a file.
    void (*closeFile)(Handle file);
    // Opens a log file for writing, others may only read it; created when missing,
    // appended to when present. POSIX: holds an exclusive advisory lock (flock)
    // while open, which deleteFile respects.
    Handle (*openLogFile)(const char* path);
    // DeleteFileA: non-zero on success. Fails for a file another open holds
    // (POSIX: another holder of its advisory lock).
    int (*deleteFile)(const char* path);
    // FindFirstFileA / FindNextFileA / FindClose, with a pattern "<directory>*".
    Handle (*findFirstFile)(const char* pattern, FindData* data);
    int (*findNextFile)(Handle search, FindData* data);
    void (*findClose)(Handle search);

    // --- dynamic loading ----------------------------------------------------
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

    // --- profile strings ----------------------------------------------------
    // GetPrivateProfileStringA(section, key, default, buffer, size, file).
    uint32_t (*getPrivateProfileString)(const char* section, const char* key,
                                        const char* defaultValue, char* buffer, uint32_t size,
                                        const char* file);

    // --- locks (recursive for the owning thread) ----------------------------
    void (*lockInit)(PexilLock* lock);
    void (*lockDelete)(PexilLock* lock);
    void (*lockEnter)(PexilLock* lock);
    void (*lockLeave)(PexilLock* lock);

    // --- thread timers ------------------------------------------------------
    // SetTimer(NULL, 0, milliseconds, proc): a periodic timer of the calling
    // thread; returns its non-zero ID, or 0 on failure.
    uintptr_t (*setTimer)(uint32_t milliseconds, TimerProc proc);
    // KillTimer(NULL, id), on the thread that started the timer. Non-zero on success.
    int (*killTimer)(uintptr_t id);
    // PexilPumpMessages.
    int (*pumpMessages)(uint32_t maxWaitMs);
    // Sleep for a number of milliseconds.
    void (*sleep)(uint32_t milliseconds);

    // --- time -------------------------------------------------------------
    // time(): seconds since 1970-01-01 UTC.
    int64_t (*currentTime)();
    // localtime(): non-zero on success.
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

// Shorthands that call through the live table.
inline void DebugOutput(const char* text) {
    System().debugOutput(text);
}
inline void DebugBreak(const char* report) {
    System().debugBreak(report);
}
inline int GetExecutablePath(char* buffer, int size) {
    return System().getExecutablePath(buffer, size);
}
inline int Access(const char* path, int mode) {
    return System().access(path, mode);
}
inline int CreateDirectory(const char* path) {
    return System().createDirectory(path);
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
inline void* Allocate(size_t size) {
    return System().allocate(size);
}
inline void Deallocate(void* memory) {
    System().deallocate(memory);
}

// The process's resident memory in bytes (POSIX: /proc/self/statm; Windows: the
// working set), 0 when it cannot be read. For measurements, not for decisions.
PEXIL_PLATFORM_API size_t ResidentBytes();

// True when a module of that path is loaded in the process (POSIX: dlopen with
// RTLD_NOLOAD finds it). Proves that an unloaded module is really gone.
PEXIL_PLATFORM_API bool IsModuleLoaded(const char* path);

}  // namespace pexil::platform

#endif
