// __Event_LockAdaptor: the lock type through which an Event locks the list it walks.
#pragma once

#include "support/sync/sync_rw_lock.h"

// Adds nothing to the lock it adapts; it names the lock's role, and the list containers derive from it so
// that a list is its own lock.
template <typename Lock>
class __Event_LockAdaptor : public Lock {
public:
    __Event_LockAdaptor() = default;
};
