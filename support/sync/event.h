// Event: walks one subscriber list, handing out each subscriber with one bound virtual method.
#pragma once

#include <cstddef>
#include <new>

#include "support/sync/synchronyzed_object_container.h"
#include "support/sync/thread_annotations.h"
#include "support/sync/walk_states.h"

// Base is a MemberFunction_1_args or MemberFunction_2_args instance; BoundMethod a virtual method of its
// subscriber interface, called through each subscriber's own table.
//
// A walk holds the list's shared lock from Begin to End, so the subscribers are called under it: the list
// cannot change during the walk, Add and Remove on other threads wait for it, and the same thread may nest
// walks. The walk state is taken per walk, from the walking thread's own states, so one Event serves any number
// of concurrent walks and End must run on the thread that ran Begin (it releases that thread's shared lock).
// Only the host's subscribers run under the shared lock; a subscriber that adds to or removes from the same
// list on the walking thread asks for an upgrade, which ends the process.
template <typename Base, typename Base::Method BoundMethod>
class Event final : public Base {
public:
    using Subscriber = typename Base::Subscriber;
    using Method = typename Base::Method;
    using Container = SynchronyzedObjectContainer<Subscriber*>;

    // The list is not owned; it must outlive the Event.
    explicit Event(Container* container) noexcept : container_(container) {}

    // Begin, Next and End are outside the lock analysis: the shared hold passes from Begin to End through the
    // handle, which the analysis cannot follow.
    //
    // Always true. When the walk state cannot be allocated (or the lock cannot record one more reader) the
    // handle stays null: the walk yields nothing and holds no lock, so a callback under memory pressure
    // skips its subscribers instead of throwing into the agent's thread.
    bool Begin(void*& handle) noexcept override NO_THREAD_SAFETY_ANALYSIS {
        handle = nullptr;
        WalkState* state = new (std::nothrow) WalkState{container_, 0};
        if (state == nullptr) {
            return true;
        }
        try {
            state->container->ReadLock(0);
        } catch (const std::bad_alloc&) {
            delete state;
            return true;
        }
        handle = state;
        return true;
    }

    bool Next(void* handle, Subscriber*& subscriber, Method& method) noexcept override NO_THREAD_SAFETY_ANALYSIS {
        auto* state = static_cast<WalkState*>(handle);
        if (state == nullptr || state->position == state->container->Count()) {
            return false;
        }
        subscriber = state->container->At(state->position);
        method = BoundMethod;
        ++state->position;
        return true;
    }

    void End(void*& handle) noexcept override NO_THREAD_SAFETY_ANALYSIS {
        auto* state = static_cast<WalkState*>(handle);
        if (state != nullptr) {
            state->container->ReadUnlock(0);
            delete state;
        }
        handle = nullptr;
    }

    Method GetMethod() noexcept override { return BoundMethod; }

private:
    struct WalkState {
        // Walk states come from the walking thread's own block: a heap allocation per walk would cost more than
        // the walk's locking.
        static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
            static_assert(sizeof(WalkState) <= walk_states::kStateSize, "a walk state fits its place");
            return size <= walk_states::kStateSize ? walk_states::Take() : nullptr;
        }
        static void operator delete(void* state) noexcept { walk_states::Give(state); }

        Container* container;
        std::size_t position;
    };

    Container* container_;
};
