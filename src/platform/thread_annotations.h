// Thread-safety annotations: which lock guards a member, which locks a function needs,
// takes or must not hold, and in what order locks are taken. Clang checks them at
// compile time (-Wthread-safety, the build of scripts/thread-safety.sh); other compilers
// see nothing. The mutex types (Mutex, PriorityInheritanceMutex, MovableMutex) are
// capabilities, and LockGuard / UniqueLock are the scoped holders the analysis follows.
//
// Used in headers of every layer; no state, no threads.
#pragma once

#if defined(__clang__)
#define ORVEXA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORVEXA_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ORVEXA_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ORVEXA_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ORVEXA_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ORVEXA_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) ORVEXA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) ORVEXA_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) ORVEXA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ORVEXA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ORVEXA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ORVEXA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) ORVEXA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ORVEXA_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) ORVEXA_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ORVEXA_THREAD_ANNOTATION(no_thread_safety_analysis)
