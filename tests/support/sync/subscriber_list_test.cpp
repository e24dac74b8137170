// SynchronyzedObjectContainer and Event: membership rules, calling order, the bound method, the shared lock a walk
// holds from Begin to End, and the recycling of walk states.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "equipment/worker_thread.h"
#include "support/sync/event.h"
#include "support/sync/event_walk.h"
#include "support/sync/member_function.h"
#include "support/sync/walk_state_pool.h"

// Counts the blocks given back to the heap, to see which ones the walk-state pool keeps.
std::atomic<long> g_heap_frees{0};
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size != 0 ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* block) noexcept {
    ++g_heap_frees;
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    ++g_heap_frees;
    std::free(block);
}

namespace {

using equipment::kFinishes;
using equipment::kStaysBlocked;
using equipment::WorkerThread;

// Two slots, so that a test can tell which one an Event calls.
struct ITestHandler {
    virtual void OnFirst(int value) = 0;
    virtual void OnSecond(int value) = 0;

protected:
    ~ITestHandler() = default;
};

struct TestHandler : ITestHandler {
    void OnFirst(int value) override { calls.push_back("first " + std::to_string(value)); }
    void OnSecond(int value) override {
        calls.push_back("second " + std::to_string(value));
        if (value < 0) {
            throw std::runtime_error("subscriber failed");
        }
    }
    std::vector<std::string> calls;
};

struct ITestNotification {
    virtual void OnNotification(unsigned long code, const std::wstring& text) = 0;
};

using HandlerList = SynchronyzedObjectContainer<ITestHandler*>;
using FirstEvent = Event<MemberFunction_1_args<ITestHandler, void, int>, &ITestHandler::OnFirst>;
using SecondEvent = Event<MemberFunction_1_args<ITestHandler, void, int>, &ITestHandler::OnSecond>;

// Walks in exactly the calling order the policy client uses, through the interface.
template <typename Walkable>
std::vector<typename Walkable::Subscriber*> WalkByHand(Walkable& event) {
    std::vector<typename Walkable::Subscriber*> seen;
    void* handle = nullptr;
    EXPECT_TRUE(event.Begin(handle));
    typename Walkable::Subscriber* subscriber = nullptr;
    typename Walkable::Method method = nullptr;
    while (event.Next(handle, subscriber, method)) {
        EXPECT_EQ(method, event.GetMethod());
        seen.push_back(subscriber);
    }
    event.End(handle);
    EXPECT_EQ(handle, nullptr);
    return seen;
}

}  // namespace

// Each case: "+n" adds and "-n" removes subscriber n, "!" marks a step refused with 1627; then the walk's order.
TEST(SubscriberList, KeepsOrderAddedWhileRefusingDuplicatesOrAbsentees) {
    const std::pair<const char*, const char*> cases[] = {
        {"-0!", ""},
        {"+2 +0 +1", "2 0 1"},
        {"+0 +1 +0! +1!", "0 1"},
        {"+0 -1!", "0"},
        {"+0 +1 +2 +3 -1", "0 2 3"},
        {"+0 -0 -0!", ""},
        {"+0 +1 -0 +0", "1 0"},
    };
    for (const auto& [steps, order] : cases) {
        TestHandler handlers[4];
        HandlerList list;
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            ITestHandler* subscriber = &handlers[step[1] - '0'];
            const unsigned long result = step[0] == '+' ? list.Add(subscriber) : list.Remove(subscriber);
            EXPECT_EQ(result, step.back() == '!' ? ERROR_FUNCTION_FAILED : ERROR_SUCCESS) << steps << ": " << step;
        }
        std::vector<ITestHandler*> expected;
        std::istringstream want(order);
        for (int n; want >> n;) {
            expected.push_back(&handlers[n]);
        }
        FirstEvent event(&list);
        EXPECT_EQ(WalkByHand(event), expected) << steps;
    }
}

TEST(SubscriberEvent, CallsItsBoundMethodWithTheArgumentsOnEachSubscriberInOrderAdded) {
    TestHandler first, second;
    HandlerList list;
    list.Add(&second);
    list.Add(&first);
    FirstEvent on_first(&list);
    SecondEvent on_second(&list);
    NotifyEach(on_first, 7);
    NotifyEach(on_second, 8);
    EXPECT_EQ(second.calls, (std::vector<std::string>{"first 7", "second 8"}));
    EXPECT_EQ(first.calls, (std::vector<std::string>{"first 7", "second 8"}));

    struct Notification : ITestNotification {
        void OnNotification(unsigned long code, const std::wstring& text) override {
            got += std::to_wstring(code) + text;
        }
        std::wstring got;
    } one;
    SynchronyzedObjectContainer<ITestNotification*> notifications;
    notifications.Add(&one);
    Event<MemberFunction_2_args<ITestNotification, void, unsigned long, const std::wstring&>,
          &ITestNotification::OnNotification>
        on_notification(&notifications);
    NotifyEach(on_notification, 4ul, std::wstring(L" server up"));
    EXPECT_EQ(one.got, L"4 server up");
}

TEST(SubscriberEvent, AWalkHoldsTheSharedLockFromBeginToEndEvenOverAnEmptyList) {
    HandlerList list;
    FirstEvent event(&list);
    void* handle = nullptr;
    EXPECT_TRUE(event.Begin(handle));
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(list.Snapshot().activeReaders, 1u);
    ITestHandler* subscriber = nullptr;
    FirstEvent::Method method = nullptr;
    EXPECT_FALSE(event.Next(handle, subscriber, method));
    event.End(handle);
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
    // A null handle (what Begin leaves when it cannot allocate) yields nothing and ends quietly.
    EXPECT_FALSE(event.Next(handle, subscriber, method));
    event.End(handle);
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
}

TEST(SubscriberEvent, AddOnAnotherThreadWaitsForTheWalkWhileOtherWalksProceed) {
    TestHandler present, added;
    HandlerList list;
    list.Add(&present);
    FirstEvent event(&list);
    SecondEvent nested(&list);
    WorkerThread walker, other_walker, host;
    void* handle = nullptr;
    ASSERT_TRUE(walker.Run([&] { event.Begin(handle); }));
    std::vector<ITestHandler*> seen;
    ASSERT_TRUE(other_walker.Run([&] { seen = WalkByHand(event); })) << "walks on two threads must not wait";
    EXPECT_EQ(seen, std::vector<ITestHandler*>{&present});

    auto add = host.Post([&] { EXPECT_EQ(list.Add(&added), 0ul); });
    EXPECT_FALSE(add->WaitFor(kStaysBlocked));
    // The walking thread nests a second walk although a writer waits, and sees the list as it began.
    ASSERT_TRUE(walker.Run([&] { seen = WalkByHand(nested); }));
    EXPECT_EQ(seen, std::vector<ITestHandler*>{&present});
    EXPECT_FALSE(add->WaitFor(0));
    ASSERT_TRUE(walker.Run([&] { event.End(handle); }));
    EXPECT_TRUE(add->WaitFor(kFinishes));
    ASSERT_TRUE(other_walker.Run([&] { seen = WalkByHand(event); }));
    EXPECT_EQ(seen, (std::vector<ITestHandler*>{&present, &added}));
}

TEST(EventWalk, EndsTheWalkWhenASubscriberThrows) {
    TestHandler thrower;
    HandlerList list;
    list.Add(&thrower);
    SecondEvent event(&list);
    EXPECT_THROW(NotifyEach(event, -1), std::runtime_error);
    WorkerThread host;
    EXPECT_TRUE(host.Run([&] { EXPECT_EQ(list.Remove(&thrower), 0ul); })) << "the list stayed locked";
}

TEST(WalkStatePool, KeepsAtMostOneFreedBlockPerThreadSlot) {
    WorkerThread fresh;  // a thread of its own, whose slot no earlier walk filled
    ASSERT_TRUE(fresh.Run([] {
        void* first = walk_state_pool::Allocate();
        void* second = walk_state_pool::Allocate();
        const long frees = g_heap_frees;
        walk_state_pool::Free(first);
        EXPECT_EQ(g_heap_frees - frees, 0) << "the empty slot keeps the block";
        walk_state_pool::Free(second);
        EXPECT_EQ(g_heap_frees - frees, 1) << "a block freed into a full slot goes back to the heap";
        EXPECT_EQ(walk_state_pool::Allocate(), first);
        walk_state_pool::Free(first);
    }));
}
