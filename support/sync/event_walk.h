// EventWalk: one walk over an Event's list for one scope, ended on every exit.
#pragma once

// Walkable is a MemberFunction_1_args or MemberFunction_2_args instance (or an Event over one). The
// constructor begins the walk and the destructor ends it, so the list's shared lock is released even when a
// subscriber throws out of its callback.
template <typename Walkable>
class [[nodiscard]] EventWalk {
public:
    using Subscriber = typename Walkable::Subscriber;
    using Method = typename Walkable::Method;

    explicit EventWalk(Walkable& event) : event_(event), began_(event_.Begin(handle_)) {}
    ~EventWalk() { event_.End(handle_); }
    EventWalk(const EventWalk&) = delete;
    EventWalk& operator=(const EventWalk&) = delete;

    // The next subscriber and the method to call on it; false when the walk is over.
    bool Next(Subscriber*& subscriber, Method& method) { return began_ && event_.Next(handle_, subscriber, method); }

private:
    Walkable& event_;
    void* handle_ = nullptr;
    bool began_;
};

// Calls the event's method on every subscriber of its list, in the order they were added, with the same
// arguments for each. An exception from a subscriber ends the walk and propagates to the caller.
template <typename Walkable, typename... Args>
void NotifyEach(Walkable& event, Args&&... args) {
    EventWalk<Walkable> walk(event);
    typename Walkable::Subscriber* subscriber = nullptr;
    typename Walkable::Method method = nullptr;
    while (walk.Next(subscriber, method)) {
        (subscriber->*method)(args...);
    }
}
