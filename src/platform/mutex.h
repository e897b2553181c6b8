// An ordinary (non-recursive) mutex and its scoped holder, annotated for the
// compiler's lock analysis. The standard library's own mutex carries no
// annotations, so every lock of the framework that is not a PexilLock is one
// of these.
#ifndef PEXIL_PLATFORM_MUTEX_H
#define PEXIL_PLATFORM_MUTEX_H

#include "platform/thread_annotations.h"

#include <mutex>

namespace pexil {

class PEXIL_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock() PEXIL_ACQUIRE() { mutex_.lock(); }
    void Unlock() PEXIL_RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

class PEXIL_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) PEXIL_ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexLock() PEXIL_RELEASE() { mutex_.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

}  // namespace pexil

#endif
