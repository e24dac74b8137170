// SharedLockGuard and ExclusiveLockGuard: hold an ISyncRWLock for the calling thread for one scope.
#pragma once

#include "support/sync/sync_rw_lock.h"
#include "support/sync/thread_annotations.h"

class [[nodiscard]] SCOPED_CAPABILITY SharedLockGuard {
public:
    explicit SharedLockGuard(ISyncRWLock& lock) ACQUIRE_SHARED(lock) : lock_(lock) { lock_.ReadLock(0); }
    ~SharedLockGuard() RELEASE_GENERIC() { lock_.ReadUnlock(0); }
    SharedLockGuard(const SharedLockGuard&) = delete;
    SharedLockGuard& operator=(const SharedLockGuard&) = delete;

private:
    ISyncRWLock& lock_;
};

class [[nodiscard]] SCOPED_CAPABILITY ExclusiveLockGuard {
public:
    explicit ExclusiveLockGuard(ISyncRWLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.WriteLock(0); }
    ~ExclusiveLockGuard() RELEASE() { lock_.WriteUnlock(0); }
    ExclusiveLockGuard(const ExclusiveLockGuard&) = delete;
    ExclusiveLockGuard& operator=(const ExclusiveLockGuard&) = delete;

private:
    ISyncRWLock& lock_;
};
