// SynchronyzedObjectContainer and Event: membership rules, calling order, the bound method, and the shared
// lock a walk holds from Begin to End.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/sync/event.h"
#include "support/sync/event_walk.h"
#include "support/sync/member_function.h"
#include "worker_thread.h"

namespace {

using sync_test::kFinishes;
using sync_test::kStaysBlocked;
using sync_test::WorkerThread;

struct Call {
    const void* subscriber;
    std::string method;
    int value;
    bool operator==(const Call& other) const {
        return subscriber == other.subscriber && method == other.method && value == other.value;
    }
};

// A subscriber interface with two slots, so that a test can tell which one an Event calls.
struct ITestHandler {
    virtual void OnFirst(int value) = 0;
    virtual void OnSecond(int value) = 0;

protected:
    ~ITestHandler() = default;
};

struct TestHandler : ITestHandler {
    explicit TestHandler(std::vector<Call>* journal) : journal(journal) {}
    void OnFirst(int value) override { journal->push_back(Call{this, "OnFirst", value}); }
    void OnSecond(int value) override { journal->push_back(Call{this, "OnSecond", value}); }
    std::vector<Call>* journal;
};

struct ITestNotification {
    virtual void OnNotification(unsigned long code, const std::wstring& text) = 0;

protected:
    ~ITestNotification() = default;
};

struct TestNotification : ITestNotification {
    void OnNotification(unsigned long code, const std::wstring& text) override {
        codes.push_back(code);
        texts.push_back(text);
    }
    std::vector<unsigned long> codes;
    std::vector<std::wstring> texts;
};

using HandlerList = SynchronyzedObjectContainer<ITestHandler*>;
using FirstEvent = Event<MemberFunction_1_args<ITestHandler, void, int>, &ITestHandler::OnFirst>;
using SecondEvent = Event<MemberFunction_1_args<ITestHandler, void, int>, &ITestHandler::OnSecond>;
using NotificationEvent = Event<MemberFunction_2_args<ITestNotification, void, unsigned long, const std::wstring&>,
                                &ITestNotification::OnNotification>;

// Walks in exactly the calling order the policy client uses, through the interface, not through EventWalk.
template <typename Walkable>
std::vector<typename Walkable::Subscriber*> WalkByHand(Walkable& event) {
    std::vector<typename Walkable::Subscriber*> seen;
    void* handle = nullptr;
    if (event.Begin(handle)) {
        typename Walkable::Subscriber* subscriber = nullptr;
        typename Walkable::Method method = nullptr;
        while (event.Next(handle, subscriber, method)) {
            EXPECT_EQ(method, event.GetMethod());
            seen.push_back(subscriber);
        }
    }
    event.End(handle);
    EXPECT_EQ(handle, nullptr);
    return seen;
}

enum class Op { kAdd, kRemove };

struct Step {
    Op op;
    int subscriber;  // index into the test's subscribers
    unsigned long expected;
};

struct MembershipCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<int> finalOrder;
};

class SubscriberListMembership : public ::testing::TestWithParam<MembershipCase> {};

TEST_P(SubscriberListMembership, KeepsOrderAndRefusesDuplicatesAndAbsentees) {
    std::vector<Call> journal;
    std::vector<TestHandler> handlers(4, TestHandler(&journal));
    HandlerList list;
    for (const Step& step : GetParam().steps) {
        ITestHandler* subscriber = &handlers[step.subscriber];
        const unsigned long result = step.op == Op::kAdd ? list.Add(subscriber) : list.Remove(subscriber);
        EXPECT_EQ(result, step.expected) << (step.op == Op::kAdd ? "Add " : "Remove ") << step.subscriber;
    }
    std::vector<ITestHandler*> expected;
    for (int index : GetParam().finalOrder) {
        expected.push_back(&handlers[index]);
    }
    FirstEvent event(&list);
    EXPECT_EQ(WalkByHand(event), expected);
    EXPECT_EQ(list.Snapshot().activeWriters, 0u);
}

constexpr unsigned long kOk = ERROR_SUCCESS;
constexpr unsigned long kFailed = ERROR_FUNCTION_FAILED;

INSTANTIATE_TEST_SUITE_P(
    SubscriberList, SubscriberListMembership,
    ::testing::Values(
        MembershipCase{"RemoveFromEmpty", {{Op::kRemove, 0, kFailed}}, {}},
        MembershipCase{"AddInOrder", {{Op::kAdd, 2, kOk}, {Op::kAdd, 0, kOk}, {Op::kAdd, 1, kOk}}, {2, 0, 1}},
        MembershipCase{"DuplicateAddLeavesListAsItWas",
                       {{Op::kAdd, 0, kOk}, {Op::kAdd, 1, kOk}, {Op::kAdd, 0, kFailed}, {Op::kAdd, 1, kFailed}},
                       {0, 1}},
        MembershipCase{"RemoveAbsent", {{Op::kAdd, 0, kOk}, {Op::kRemove, 1, kFailed}}, {0}},
        MembershipCase{
            "RemoveMiddleKeepsOrderOfRest",
            {{Op::kAdd, 0, kOk}, {Op::kAdd, 1, kOk}, {Op::kAdd, 2, kOk}, {Op::kAdd, 3, kOk}, {Op::kRemove, 1, kOk}},
            {0, 2, 3}},
        MembershipCase{"RemoveTwice", {{Op::kAdd, 0, kOk}, {Op::kRemove, 0, kOk}, {Op::kRemove, 0, kFailed}}, {}},
        MembershipCase{"ReAddGoesToTheEnd",
                       {{Op::kAdd, 0, kOk}, {Op::kAdd, 1, kOk}, {Op::kRemove, 0, kOk}, {Op::kAdd, 0, kOk}},
                       {1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SubscriberEvent, CallsItsBoundMethodOnEachSubscriberInOrderAdded) {
    std::vector<Call> journal;
    TestHandler first(&journal), second(&journal);
    HandlerList list;
    list.Add(&second);
    list.Add(&first);
    FirstEvent onFirst(&list);
    SecondEvent onSecond(&list);

    NotifyEach(onFirst, 7);
    NotifyEach(onSecond, 8);
    EXPECT_EQ(journal,
              (std::vector<Call>{
                  {&second, "OnFirst", 7}, {&first, "OnFirst", 7}, {&second, "OnSecond", 8}, {&first, "OnSecond", 8}}));
}

TEST(SubscriberEvent, TwoArgumentEventPassesBothArguments) {
    TestNotification one, two;
    SynchronyzedObjectContainer<ITestNotification*> list;
    list.Add(&one);
    list.Add(&two);
    NotificationEvent event(&list);
    const std::wstring text = L"server up";
    NotifyEach(event, 4ul, text);
    for (const TestNotification* subscriber : {&one, &two}) {
        EXPECT_EQ(subscriber->codes, std::vector<unsigned long>{4});
        EXPECT_EQ(subscriber->texts, std::vector<std::wstring>{text});
    }
}

TEST(SubscriberEvent, WalkOverEmptyListCallsNothingAndReleasesItsLock) {
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
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
    // A null handle (also what Begin leaves when it cannot allocate) yields nothing and ends quietly.
    EXPECT_FALSE(event.Next(handle, subscriber, method));
    event.End(handle);
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
}

TEST(SubscriberEvent, AddOnAnotherThreadWaitsUntilTheWalkEnds) {
    std::vector<Call> journal;
    TestHandler present(&journal), added(&journal);
    HandlerList list;
    list.Add(&present);
    FirstEvent event(&list);
    WorkerThread walker, otherWalker, host;

    void* handle = nullptr;
    ASSERT_TRUE(walker.Run([&] { event.Begin(handle); }));
    auto add = host.Post([&] { EXPECT_EQ(list.Add(&added), kOk); });
    EXPECT_FALSE(add->WaitFor(kStaysBlocked));
    // The walk still sees the list as it was when it began.
    std::vector<ITestHandler*> seen;
    ASSERT_TRUE(walker.Run([&] {
        ITestHandler* subscriber = nullptr;
        FirstEvent::Method method = nullptr;
        while (event.Next(handle, subscriber, method)) {
            seen.push_back(subscriber);
        }
    }));
    EXPECT_EQ(seen, std::vector<ITestHandler*>{&present});
    EXPECT_FALSE(add->WaitFor(0));

    ASSERT_TRUE(walker.Run([&] { event.End(handle); }));
    EXPECT_TRUE(add->WaitFor(kFinishes));
    std::vector<ITestHandler*> after;
    ASSERT_TRUE(otherWalker.Run([&] { after = WalkByHand(event); }));
    EXPECT_EQ(after, (std::vector<ITestHandler*>{&present, &added}));
}

TEST(SubscriberEvent, WalksOnDifferentThreadsRunTogetherAndOneThreadMayNestThem) {
    std::vector<Call> journal;
    TestHandler handler(&journal);
    HandlerList list;
    list.Add(&handler);
    FirstEvent event(&list);
    SecondEvent nested(&list);
    WorkerThread first, second;

    void* outer = nullptr;
    ASSERT_TRUE(first.Run([&] { event.Begin(outer); }));
    std::vector<ITestHandler*> seen;
    ASSERT_TRUE(second.Run([&] { seen = WalkByHand(event); }));
    EXPECT_EQ(seen, std::vector<ITestHandler*>{&handler});
    ASSERT_TRUE(first.Run([&] { seen = WalkByHand(nested); }));
    EXPECT_EQ(seen, std::vector<ITestHandler*>{&handler});
    ASSERT_TRUE(first.Run([&] { event.End(outer); }));
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
}

struct ThrowingHandler : ITestHandler {
    void OnFirst(int) override { throw std::runtime_error("subscriber failed"); }
    void OnSecond(int) override {}
};

TEST(EventWalk, EndsTheWalkWhenASubscriberThrows) {
    ThrowingHandler thrower;
    HandlerList list;
    list.Add(&thrower);
    FirstEvent event(&list);
    EXPECT_THROW(NotifyEach(event, 1), std::runtime_error);
    EXPECT_EQ(list.Snapshot().activeReaders, 0u);
    WorkerThread host;
    EXPECT_TRUE(host.Run([&] { EXPECT_EQ(list.Remove(&thrower), kOk); }));
}

}  // namespace
