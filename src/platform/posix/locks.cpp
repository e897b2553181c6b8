// Recursive locks. The storage inside PexilLock holds a pthread mutex of the
// adaptive kind, which spins briefly before it sleeps, and the owner and depth
// that make it recursive. The locks guard short work (a map insert, a count),
// so a thread that finds one taken mostly gets it within the spin: sleeping in
// the kernel at each meeting of two threads would cost far more than the work.
#include "platform/backend.h"

#include <pthread.h>

#include <atomic>
#include <new>

namespace pexil::platform::backend {
namespace {

struct RecursiveLock {
    pthread_mutex_t mutex;
    // The thread that holds the mutex. Read without the mutex only to ask
    // "is it me?": a thread sees its own id there only if it stored it.
    std::atomic<pthread_t> owner;
    unsigned int depth;
};

static_assert(sizeof(RecursiveLock) <= sizeof(PexilLock), "PexilLock is too small");
static_assert(alignof(RecursiveLock) <= alignof(PexilLock), "PexilLock is misaligned");

RecursiveLock* LockOf(PexilLock* lock) {
    return std::launder(reinterpret_cast<RecursiveLock*>(lock->storage.bytes));
}

bool OwnedByThisThread(const RecursiveLock& lock) {
    return pthread_equal(lock.owner.load(std::memory_order_relaxed), pthread_self()) != 0;
}

}  // namespace

void LockInit(PexilLock* lock) {
    auto* recursive = new (lock->storage.bytes) RecursiveLock;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
#if defined(PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP)
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
#endif
    pthread_mutex_init(&recursive->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    recursive->owner.store(pthread_t{}, std::memory_order_relaxed);
    recursive->depth = 0;
}

void LockDelete(PexilLock* lock) {
    RecursiveLock* recursive = LockOf(lock);
    pthread_mutex_destroy(&recursive->mutex);
    recursive->~RecursiveLock();
}

void LockEnter(PexilLock* lock) {
    RecursiveLock* recursive = LockOf(lock);
    if (!OwnedByThisThread(*recursive)) {
        pthread_mutex_lock(&recursive->mutex);
        recursive->owner.store(pthread_self(), std::memory_order_relaxed);
    }
    ++recursive->depth;
}

void LockLeave(PexilLock* lock) {
    RecursiveLock* recursive = LockOf(lock);
    if (--recursive->depth != 0) return;
    recursive->owner.store(pthread_t{}, std::memory_order_relaxed);
    pthread_mutex_unlock(&recursive->mutex);
}

}  // namespace pexil::platform::backend
