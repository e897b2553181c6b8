// The few platform services a host or a component module calls directly.
#ifndef PEXIL_PLATFORM_H
#define PEXIL_PLATFORM_H

#include <pexil/config.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A lock that is recursive for its owning thread: the module lock of every
// module and the factory's log lock (the one a LogSink points to). On Windows
// the storage begins with a CRITICAL_SECTION, so a PexilLock* may also be
// handed to EnterCriticalSection and LeaveCriticalSection. On POSIX it holds
// an adaptive (briefly spinning) pthread mutex together with the owning thread
// and a depth, which make it recursive: hand it to no pthread function, and
// copy or move it never. What a consumer may do with a PexilLock the framework
// hands out: PexilLockEnter and PexilLockLeave, on one thread, as many leaves
// as enters, and never hold it across a wait for another thread that may need
// it. Initialising and deleting it is the framework's. Its size is fixed so
// that it can be embedded in other objects. docs/concurrency.md gives the
// order in which the framework's locks nest.
typedef struct PexilLock {
    union {
        void* alignPointer;
        long long alignInteger;
        unsigned char bytes[64];
    } storage;
} PexilLock;

#ifdef __cplusplus
// Embedded in objects that other modules read (the factory's LogSink points to
// one): the same size on every system and width.
static_assert(sizeof(PexilLock) == 64, "PexilLock is 64 bytes");
#endif

// Enter and leave a lock that the framework has initialised (for example the
// log lock a component finds in its LogSink).
PEXIL_PLATFORM_API void PexilLockEnter(PexilLock* lock);
PEXIL_PLATFORM_API void PexilLockLeave(PexilLock* lock);

// Writes a message to the debug-output channel as the framework does
// (OutputDebugStringA on Windows; one write to standard error on POSIX).
PEXIL_PLATFORM_API void PexilDebugOutput(const char* text);

// Writes to the shared log file a component was handed in its LogSink (lock
// and file), holding the lock while it writes. Returns 1 when every byte was
// written, 0 otherwise (also when no file is open, file -1).
PEXIL_PLATFORM_API int PexilLogWrite(PexilLock* lock, intptr_t file, const char* text,
                                     unsigned int length);

// Runs the calling thread's due timers. Waits at most maxWaitMs milliseconds
// for a timer of this thread to become due, runs every due timer procedure
// once, and returns how many ran. On Windows this dispatches the thread's
// messages; a host with its own message loop does not need it.
PEXIL_PLATFORM_API int PexilPumpMessages(unsigned int maxWaitMs);

#ifdef __cplusplus
}
#endif

#endif
