// Walks and changes of one subscriber list on many threads at once: every walk must see the list exactly
// as it stood when the walk began, and nothing may deadlock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "support/sync/event.h"
#include "support/sync/event_walk.h"
#include "support/sync/member_function.h"
#include "support/sync/rw_lock_guards.h"
#include "worker_thread.h"

namespace {

struct Visit;

struct IVisited {
    virtual void OnVisit(Visit* visit) = 0;

protected:
    ~IVisited() = default;
};

struct Visit {
    std::vector<IVisited*> seen;
};

struct Visited : IVisited {
    void OnVisit(Visit* visit) override { visit->seen.push_back(this); }
};

using VisitedList = SynchronyzedObjectContainer<IVisited*>;
using VisitEvent = Event<MemberFunction_1_args<IVisited, void, Visit*>, &IVisited::OnVisit>;

constexpr int kWalkers = 4;
constexpr int kChangers = 2;
constexpr int kPerChanger = 6;
constexpr DWORD kRunFor = 3000;

// What the list must hold, changed by the changers under the list's own exclusive lock together with the
// list itself, and read by the walkers under the walk's shared lock.
struct Shadow {
    std::vector<IVisited*> expected;
    unsigned long long generation = 0;
};

TEST(SubscriberListStress, EveryWalkSeesAConsistentListWhileOthersAddAndRemove) {
    VisitedList list;
    VisitEvent event(&list);
    Shadow shadow;
    std::vector<std::vector<Visited>> pools(kChangers, std::vector<Visited>(kPerChanger));
    std::atomic<bool> stop{false};
    std::atomic<long long> walks{0}, changes{0}, inconsistent{0}, wrongResults{0};

    std::vector<std::unique_ptr<sync_test::WorkerThread>> threads;
    std::vector<std::shared_ptr<sync_test::Completion>> finished;
    for (int w = 0; w < kWalkers; ++w) {
        threads.push_back(std::make_unique<sync_test::WorkerThread>());
        finished.push_back(threads.back()->Post([&, w] {
            while (!stop) {
                Visit visit;
                std::vector<IVisited*> expected;
                unsigned long long generation = 0;
                {
                    EventWalk<VisitEvent> walk(event);
                    expected = shadow.expected;
                    generation = shadow.generation;
                    IVisited* subscriber = nullptr;
                    VisitEvent::Method method = nullptr;
                    while (walk.Next(subscriber, method)) {
                        (subscriber->*method)(&visit);
                        if (w % 2 == 1 && visit.seen.size() == 1) {
                            // Some walks nest a second walk of the same list on the same thread.
                            Visit inner;
                            NotifyEach(event, &inner);
                            if (inner.seen != expected) {
                                ++inconsistent;
                            }
                        }
                    }
                    if (shadow.generation != generation) {
                        ++inconsistent;
                    }
                }
                if (visit.seen != expected) {
                    ++inconsistent;
                }
                ++walks;
            }
        }));
    }
    for (int c = 0; c < kChangers; ++c) {
        threads.push_back(std::make_unique<sync_test::WorkerThread>());
        finished.push_back(threads.back()->Post([&, c] {
            std::vector<Visited>& pool = pools[c];
            std::vector<bool> listed(pool.size(), false);
            std::minstd_rand random(static_cast<unsigned>(c + 1));
            while (!stop) {
                const size_t pick = random() % pool.size();
                IVisited* subscriber = &pool[pick];
                // The exclusive lock is re-entrant: Add and Remove take it again inside this hold, so the
                // list and the shadow change as one.
                ExclusiveLockGuard hold(list);
                if (listed[pick]) {
                    wrongResults += list.Remove(subscriber) != ERROR_SUCCESS;
                    wrongResults += list.Remove(subscriber) != ERROR_FUNCTION_FAILED;
                    shadow.expected.erase(std::find(shadow.expected.begin(), shadow.expected.end(), subscriber));
                } else {
                    wrongResults += list.Add(subscriber) != ERROR_SUCCESS;
                    wrongResults += list.Add(subscriber) != ERROR_FUNCTION_FAILED;
                    shadow.expected.push_back(subscriber);
                }
                listed[pick] = !listed[pick];
                ++shadow.generation;
                ++changes;
            }
        }));
    }

    Sleep(kRunFor);
    stop = true;
    ASSERT_TRUE(sync_test::AllWithin(finished)) << "a walker or changer is stuck";
    EXPECT_EQ(inconsistent.load(), 0);
    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_GT(walks.load(), 0);
    EXPECT_GT(changes.load(), 0);
    const CSyncRWLock::Counts counts = list.Snapshot();
    EXPECT_EQ(counts.activeReaders + counts.activeWriters + counts.waitingReaders + counts.waitingWriters, 0u);
    std::printf("%lld walks, %lld changes\n", walks.load(), changes.load());
}

}  // namespace
