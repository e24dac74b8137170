// SharedLockGuard and ExclusiveLockGuard: hold an ISyncRWLock for the calling thread for one scope.
#pragma once

#include "support/sync/sync_rw_lock.h"

class [[nodiscard]] SharedLockGuard {
public:
    explicit SharedLockGuard(ISyncRWLock& lock) : lock_(lock) { lock_.ReadLock(0); }
    ~SharedLockGuard() { lock_.ReadUnlock(0); }
    SharedLockGuard(const SharedLockGuard&) = delete;
    SharedLockGuard& operator=(const SharedLockGuard&) = delete;

private:
    ISyncRWLock& lock_;
};

class [[nodiscard]] ExclusiveLockGuard {
public:
    explicit ExclusiveLockGuard(ISyncRWLock& lock) : lock_(lock) { lock_.WriteLock(0); }
    ~ExclusiveLockGuard() { lock_.WriteUnlock(0); }
    ExclusiveLockGuard(const ExclusiveLockGuard&) = delete;
    ExclusiveLockGuard& operator=(const ExclusiveLockGuard&) = delete;

private:
    ISyncRWLock& lock_;
};
