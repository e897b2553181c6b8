// A PexilLock (recursive for its owning thread) as the compiler's lock
// analysis sees it. Zero-initialised and trivially constructible, so that a
// module-wide one is usable from any static initialiser; the PexilLock inside
// is what the framework hands to other modules (the LogSink's lock).
#ifndef PEXIL_PLATFORM_RECURSIVE_LOCK_H
#define PEXIL_PLATFORM_RECURSIVE_LOCK_H

#include "platform/platform.h"
#include "platform/thread_annotations.h"

namespace pexil {

class PEXIL_CAPABILITY("recursive lock") RecursiveLock {
public:
    // Once before any other use, and once after the last.
    void Init() { platform::LockInit(&lock_); }
    void Delete() { platform::LockDelete(&lock_); }
    // Recursive on the owning thread. The analysis does not model recursion:
    // a function that takes the lock again while its caller holds it does so
    // across a call the analysis cannot see (a virtual Release, a callback).
    void Enter() PEXIL_ACQUIRE() { platform::LockEnter(&lock_); }
    void Leave() PEXIL_RELEASE() { platform::LockLeave(&lock_); }

    PexilLock* raw() { return &lock_; }

private:
    PexilLock lock_;
};

}  // namespace pexil

#endif
