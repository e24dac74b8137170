// Lock annotations that clang checks with -Wthread-safety: which lock guards a field, which lock a function
// needs, takes or gives back. They state in the code what "guarded by" comments used to, and the clang pass
// over the product sources fails when a guarded field is touched without its lock.
//
// Other compilers see nothing: every macro expands to nothing for GCC and MSVC.
#pragma once

#if defined(__clang__)
#define QV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QV_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks ("critical section", "reader/writer lock", ...).
#define CAPABILITY(x) QV_THREAD_ANNOTATION(capability(x))
// A class whose objects hold a lock for their lifetime (the lock guards).
#define SCOPED_CAPABILITY QV_THREAD_ANNOTATION(scoped_lockable)

// The field is read and written only under the lock.
#define GUARDED_BY(x) QV_THREAD_ANNOTATION(guarded_by(x))

// The caller holds the lock exclusively (REQUIRES) or at least shared (REQUIRES_SHARED).
#define REQUIRES(...) QV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) QV_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))

// The function takes the lock, exclusively or shared, and returns holding it.
#define ACQUIRE(...) QV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) QV_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
// The function gives back an exclusive hold, a shared hold, or whichever kind was taken.
#define RELEASE(...) QV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) QV_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) QV_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))

// Leaves the function out of the analysis: for code whose holds the analysis cannot follow (a hold handed
// from one call to another through a handle, a lock's own implementation). Say why wherever it is used.
#define NO_THREAD_SAFETY_ANALYSIS QV_THREAD_ANNOTATION(no_thread_safety_analysis)
