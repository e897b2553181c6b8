// Lock annotations that Clang checks at build time (-Wthread-safety, the
// clang-threads preset): which lock guards a field, which locks a function
// needs, takes or must not hold, and the order in which locks nest. Every
// other compiler sees nothing. docs/concurrency.md lists the locks and their
// order in words.
#ifndef PEXIL_PLATFORM_THREAD_ANNOTATIONS_H
#define PEXIL_PLATFORM_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define PEXIL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PEXIL_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define PEXIL_CAPABILITY(name) PEXIL_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime.
#define PEXIL_SCOPED_CAPABILITY PEXIL_THREAD_ANNOTATION(scoped_lockable)
// A field read or written only while the lock is held.
#define PEXIL_GUARDED_BY(lock) PEXIL_THREAD_ANNOTATION(guarded_by(lock))
#define PEXIL_PT_GUARDED_BY(lock) PEXIL_THREAD_ANNOTATION(pt_guarded_by(lock))
// The written order: this lock is taken before (after) the named ones.
#define PEXIL_ACQUIRED_BEFORE(...) PEXIL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define PEXIL_ACQUIRED_AFTER(...) PEXIL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// The caller holds the lock (and still holds it afterwards).
#define PEXIL_REQUIRES(...) PEXIL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The function takes the lock and returns holding it / releases a held lock.
#define PEXIL_ACQUIRE(...) PEXIL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PEXIL_RELEASE(...) PEXIL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The caller must not hold the lock (the function takes it itself).
#define PEXIL_EXCLUDES(...) PEXIL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function returns a reference to the lock.
#define PEXIL_RETURN_CAPABILITY(x) PEXIL_THREAD_ANNOTATION(lock_returned(x))
// Outside the analysis: code whose locking the compiler cannot follow (a
// lock taken in one function and left in another across a callback). Each use
// says why.
#define PEXIL_NO_THREAD_SAFETY_ANALYSIS PEXIL_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif
