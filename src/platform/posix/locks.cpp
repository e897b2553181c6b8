// Recursive locks: a pthread mutex of the recursive kind stored inside PexilLock.
#include "platform/backend.h"

#include <pthread.h>

#include <new>

namespace pexil::platform::backend {
namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(PexilLock), "PexilLock is too small");
static_assert(alignof(pthread_mutex_t) <= alignof(PexilLock), "PexilLock is misaligned");

pthread_mutex_t* MutexOf(PexilLock* lock) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(lock->storage.bytes));
}

}  // namespace

void LockInit(PexilLock* lock) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (lock->storage.bytes) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void LockDelete(PexilLock* lock) {
    pthread_mutex_destroy(MutexOf(lock));
}
void LockEnter(PexilLock* lock) {
    pthread_mutex_lock(MutexOf(lock));
}
void LockLeave(PexilLock* lock) {
    pthread_mutex_unlock(MutexOf(lock));
}

}  // namespace pexil::platform::backend
