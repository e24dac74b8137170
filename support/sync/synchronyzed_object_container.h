// SynchronyzedObjectContainer: a list of subscriber pointers that is its own reader/writer lock.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "support/sync/event_lock_adaptor.h"
#include "support/sync/rw_lock_guards.h"
#include "support/sync/thread_annotations.h"

template <typename Pointer>
class SynchronyzedObjectContainer;

// The subscribers belong to whoever added them: the list never deletes, calls or otherwise touches one.
// Add and Remove take the list's exclusive lock, so they wait for every walk in progress (and must not be
// called from inside a walk of the same list on the walking thread: that would be an upgrade).
template <typename Subscriber>
class SynchronyzedObjectContainer<Subscriber*> : public __Event_LockAdaptor<CSyncRWLock> {
public:
    SynchronyzedObjectContainer() = default;

    // 0 when appended; ERROR_FUNCTION_FAILED when the pointer is already listed (the list is unchanged).
    // May throw std::bad_alloc when the list must grow; the list and the lock are then as they were.
    unsigned long Add(Subscriber* subscriber) {
        ExclusiveLockGuard hold(*this);
        if (std::find(subscribers_.begin(), subscribers_.end(), subscriber) != subscribers_.end()) {
            return ERROR_FUNCTION_FAILED;
        }
        subscribers_.push_back(subscriber);
        return ERROR_SUCCESS;
    }

    // 0 when removed, the later subscribers keeping their order; ERROR_FUNCTION_FAILED when not listed.
    unsigned long Remove(Subscriber* subscriber) {
        ExclusiveLockGuard hold(*this);
        const auto found = std::find(subscribers_.begin(), subscribers_.end(), subscriber);
        if (found == subscribers_.end()) {
            return ERROR_FUNCTION_FAILED;
        }
        subscribers_.erase(found);
        return ERROR_SUCCESS;
    }

    // Read access for walks; the caller holds the shared (or exclusive) lock.
    std::size_t Count() const noexcept REQUIRES_SHARED(this) { return subscribers_.size(); }
    Subscriber* At(std::size_t position) const noexcept REQUIRES_SHARED(this) { return subscribers_[position]; }

private:
    std::vector<Subscriber*> subscribers_ GUARDED_BY(this);
};
