// SynchronyzedObjectContainer and Event: membership rules, calling order, the bound method, the shared lock a walk
// holds from Begin to End, and where walks keep their state (per thread, nested walks apart, freed with the thread).
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "equipment/worker_thread.h"
#include "support/sync/event.h"
#include "support/sync/event_walk.h"
#include "support/sync/member_function.h"
#include "support/sync/walk_states.h"

// Counts the blocks taken from and given back to the heap, to see which walks use it.
std::atomic<long> g_heap_takes{0};
std::atomic<long> g_heap_frees{0};
void* TakeFromHeap(std::size_t size) noexcept {
    ++g_heap_takes;
    return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}
void GiveToHeap(void* block) noexcept {
    if (block != nullptr) {
        ++g_heap_frees;
        HeapFree(GetProcessHeap(), 0, block);
    }
}
void* operator new(std::size_t size) {
    if (void* block = TakeFromHeap(size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return TakeFromHeap(size); }
void operator delete(void* block) noexcept { GiveToHeap(block); }
void operator delete(void* block, std::size_t) noexcept { GiveToHeap(block); }

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

// Counts calls per depth; below kDepth each call walks the same list again from inside the walk.
struct NestingHandler : ITestHandler {
    static constexpr int kDepth = 5;  // deeper than the states a thread keeps
    void OnFirst(int depth) override {
        ++calls[depth];
        if (depth < kDepth) {
            NotifyEach(*nested, depth + 1);
        }
    }
    void OnSecond(int) override {}
    FirstEvent* nested = nullptr;
    int calls[kDepth + 1] = {};
};

TEST(WalkStates, NestedWalksOnOneThreadEachKeepTheirOwnPlaceAlsoBeyondTheThreadsOwnStates) {
    static_assert(NestingHandler::kDepth > static_cast<int>(walk_states::kStatesPerThread), "nests past the block");
    NestingHandler first, second;
    HandlerList list;
    list.Add(&first);
    list.Add(&second);
    FirstEvent event(&list);
    first.nested = second.nested = &event;
    WorkerThread walker;
    HandlerList empty;
    FirstEvent first_walk(&empty);
    ASSERT_TRUE(walker.Run([&] {
        NotifyEach(first_walk, 0);  // makes the thread's block, which stays until the thread ends
        const long takes = g_heap_takes;
        const long frees = g_heap_frees;
        NotifyEach(event, 0);
        EXPECT_EQ(g_heap_takes - takes, g_heap_frees - frees) << "every state taken from the heap went back";
    }));
    // Depth d is reached by 2^d walks of two subscribers each: a walk that lost its place would skip or repeat.
    for (int depth = 0; depth <= NestingHandler::kDepth; ++depth) {
        EXPECT_EQ(first.calls[depth], 1 << depth) << "depth " << depth;
        EXPECT_EQ(second.calls[depth], 1 << depth) << "depth " << depth;
    }
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
}

TEST(WalkStates, WalksEndedOutOfOrderOnOneThreadKeepTheirPlaces) {
    TestHandler handlers[3];
    HandlerList list;
    for (TestHandler& handler : handlers) {
        list.Add(&handler);
    }
    FirstEvent event(&list);
    ITestHandler* subscriber = nullptr;
    FirstEvent::Method method = nullptr;
    void* first = nullptr;
    void* second = nullptr;
    void* third = nullptr;
    ASSERT_TRUE(event.Begin(first));
    ASSERT_TRUE(event.Begin(second));
    ASSERT_TRUE(event.Next(second, subscriber, method));
    event.End(first);  // its state is free again while the second walk goes on
    ASSERT_TRUE(event.Begin(third));
    std::vector<ITestHandler*> seen_second, seen_third;
    while (event.Next(third, subscriber, method)) {
        seen_third.push_back(subscriber);
    }
    while (event.Next(second, subscriber, method)) {
        seen_second.push_back(subscriber);
    }
    EXPECT_EQ(seen_second, (std::vector<ITestHandler*>{&handlers[1], &handlers[2]}));
    EXPECT_EQ(seen_third, (std::vector<ITestHandler*>{&handlers[0], &handlers[1], &handlers[2]}));
    event.End(second);
    event.End(third);
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
}

TEST(WalkStates, AThreadsWalksUseItsOwnBlockWhichGoesWithTheThread) {
    struct Counter : ITestHandler {
        void OnFirst(int value) override { total += value; }
        void OnSecond(int) override {}
        long total = 0;
    } counter;
    HandlerList list;
    list.Add(&counter);
    FirstEvent event(&list);
    const long blocks = walk_states::ThreadBlocks();
    {
        WorkerThread walker;
        ASSERT_TRUE(walker.Run([] {}));
        EXPECT_EQ(walk_states::ThreadBlocks(), blocks) << "a thread that does not walk has no block";
        ASSERT_TRUE(walker.Run([&] {
            NotifyEach(event, 1);
            const long takes = g_heap_takes;
            for (int n = 0; n < 1000; ++n) {
                NotifyEach(event, 1);
            }
            EXPECT_EQ(g_heap_takes - takes, 0) << "walks after the first take nothing from the heap";
        }));
        EXPECT_EQ(walk_states::ThreadBlocks(), blocks + 1);
    }
    EXPECT_TRUE(equipment::Eventually([&] { return walk_states::ThreadBlocks() == blocks; }))
        << "the ended thread's block was not freed";
    EXPECT_EQ(counter.total, 1001);
}
