// MemberFunction_1_args and MemberFunction_2_args: a subscriber list bound to the one method called on each.
//
// A walk: set the handle to null and call Begin; if it returns true, call Next until it returns false and,
// after each true result, call the returned method on the returned subscriber; then call End, on every
// path. EventWalk (support/sync/event_walk.h) does exactly that for one scope.
#pragma once

template <typename Interface, typename Result, typename Arg1>
class MemberFunction_1_args {
public:
    using Subscriber = Interface;
    using Method = Result (Interface::*)(Arg1);

    virtual bool Begin(void*& handle) = 0;
    virtual bool Next(void* handle, Interface*& subscriber, Method& method) = 0;
    virtual void End(void*& handle) = 0;
    virtual Method GetMethod() = 0;

protected:
    ~MemberFunction_1_args() = default;
};

template <typename Interface, typename Result, typename Arg1, typename Arg2>
class MemberFunction_2_args {
public:
    using Subscriber = Interface;
    using Method = Result (Interface::*)(Arg1, Arg2);

    virtual bool Begin(void*& handle) = 0;
    virtual bool Next(void* handle, Interface*& subscriber, Method& method) = 0;
    virtual void End(void*& handle) = 0;
    virtual Method GetMethod() = 0;

protected:
    ~MemberFunction_2_args() = default;
};
