// CSyncRWLock across real threads: re-entry, writer preference, hand-over to waiting readers, nested reads inside
// an exclusive hold, and misuse ending the process.
#include "support/sync/sync_rw_lock.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fail_fast.h"
#include "tests/test_process.h"
#include "worker_thread.h"

namespace {

using sync_test::Eventually;
using sync_test::kFinishes;
using sync_test::kStaysBlocked;
using sync_test::WorkerThread;

enum Op { R, RU, W, WU, kBlocks, kGetsIn, kStillOut };

// One step: thread t does op (and must return at once), or starts op that must block until a later kGetsIn.
struct Step {
    int thread;
    Op op;
    Op expect = kGetsIn;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

const Scenario kScenarios[] = {
    {"readers share; a thread reads again after it let go",
     {{0, R}, {1, R}, {0, RU}, {1, RU}, {0, R}, {0, RU}}},
    {"nested reads hold off a writer until the last read unlock",
     {{0, R}, {0, R}, {1, W, kBlocks}, {0, RU}, {1, W, kStillOut}, {0, RU}, {1, W, kGetsIn}, {1, WU}}},
    {"a waiting writer holds off a new reader but not one that already reads",
     {{0, R},
      {1, W, kBlocks},
      {2, R, kBlocks},
      {0, R},
      {0, RU},
      {0, RU},
      {1, W, kGetsIn},
      {2, R, kStillOut},
      {1, WU},
      {2, R, kGetsIn},
      {2, RU}}},
    {"a releasing writer hands over to the next writer before waiting readers",
     {{0, W},
      {2, R, kBlocks},
      {1, W, kBlocks},
      {0, WU},
      {1, W, kGetsIn},
      {2, R, kStillOut},
      {0, W, kBlocks},
      {1, WU},
      {0, W, kGetsIn},
      {0, WU},
      {2, R, kGetsIn},
      {2, RU}}},
    {"a read inside a write, given back first, keeps others out until the write is given back",
     {{0, W},
      {0, R},
      {1, R, kBlocks},
      {0, RU},
      {1, R, kStillOut},
      {2, W, kBlocks},
      {0, WU},
      {2, W, kGetsIn},
      {1, R, kStillOut},
      {2, WU},
      {1, R, kGetsIn},
      {1, RU}}},
    {"a write given back before the read inside it leaves the lock exclusive to its holder",
     {{0, W},
      {0, R},
      {1, R, kBlocks},
      {0, WU},
      {1, R, kStillOut},
      {0, W},
      {0, WU},
      {2, W, kBlocks},
      {0, RU},
      {2, W, kGetsIn},
      {1, R, kStillOut},
      {2, WU},
      {1, R, kGetsIn},
      {1, RU}}},
    {"two writes need two write unlocks", {{0, W}, {0, W}, {1, R, kBlocks}, {0, WU}, {1, R, kStillOut}, {0, WU},
                                           {1, R, kGetsIn}, {1, RU}}},
};

void Do(CSyncRWLock& lock, Op op) {
    switch (op) {
        case R: return lock.ReadLock(0);
        case RU: return lock.ReadUnlock(0);
        case W: return lock.WriteLock(0);
        default: return lock.WriteUnlock(0);
    }
}

bool IsFree(const CSyncRWLock& lock) {
    const CSyncRWLock::Counts c = lock.Snapshot();
    return c.activeReaders + c.activeWriters + c.waitingReaders + c.waitingWriters + c.owner == 0;
}

}  // namespace

TEST(SyncRWLock, AdmitsAndHoldsOffThreadsAsEachScenarioSays) {
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        CSyncRWLock lock;
        WorkerThread threads[3];
        std::shared_ptr<sync_test::Completion> pending[3];
        for (size_t n = 0; n < scenario.steps.size(); ++n) {
            const Step& step = scenario.steps[n];
            SCOPED_TRACE("step " + std::to_string(n));
            auto& waiting = pending[step.thread];
            if (step.expect == kGetsIn || step.expect == kStillOut) {
                if (waiting != nullptr) {
                    ASSERT_EQ(waiting->WaitFor(step.expect == kGetsIn ? kFinishes : kStaysBlocked),
                              step.expect == kGetsIn);
                    if (step.expect == kGetsIn) {
                        waiting.reset();
                    }
                    continue;
                }
                ASSERT_TRUE(threads[step.thread].Run([&] { Do(lock, step.op); })) << "blocked";
                continue;
            }
            const CSyncRWLock::Counts before = lock.Snapshot();
            waiting = threads[step.thread].Post([&lock, op = step.op] { Do(lock, op); });
            // Blocked means counted as waiting, so that the next step meets it in the queue.
            ASSERT_TRUE(Eventually([&] {
                const CSyncRWLock::Counts now = lock.Snapshot();
                return step.op == R ? now.waitingReaders > before.waitingReaders
                                    : now.waitingWriters > before.waitingWriters;
            })) << "did not wait";
            ASSERT_FALSE(waiting->WaitFor(kStaysBlocked));
        }
        EXPECT_TRUE(IsFree(lock));
    }
}

// More waiting readers than the reader table holds inline must still all be recorded after their wait.
TEST(SyncRWLock, WaitingReadersGetInTogetherWhenTheWriterLeavesAndEachHoldsOffTheNextWriter) {
    for (int count : {3, 12}) {
        CSyncRWLock lock;
        WorkerThread writer;
        std::vector<std::unique_ptr<WorkerThread>> readers;
        std::vector<std::shared_ptr<sync_test::Completion>> reads;
        ASSERT_TRUE(writer.Run([&] { lock.WriteLock(0); }));
        for (int i = 0; i < count; ++i) {
            readers.push_back(std::make_unique<WorkerThread>());
            reads.push_back(readers.back()->Post([&] { lock.ReadLock(0); }));
        }
        ASSERT_TRUE(Eventually([&] { return lock.Snapshot().waitingReaders == static_cast<unsigned long>(count); }));
        ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
        ASSERT_TRUE(sync_test::AllWithin(reads)) << count << " readers";
        auto written = writer.Post([&] { lock.WriteLock(0); });
        ASSERT_TRUE(Eventually([&] { return lock.Snapshot().waitingWriters == 1; }));
        for (auto& reader : readers) {
            EXPECT_FALSE(written->WaitFor(0));
            ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
        }
        EXPECT_TRUE(written->WaitFor(kFinishes));
        ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
        EXPECT_TRUE(IsFree(lock));
    }
}

// Twenty threads reading twice each, released from first to last: one release does not let a thread go, and
// the reader table keeps track of every one as threads leave from its front.
TEST(SyncRWLock, ManyNestedReadersHoldOffAWriterUntilTheLastLeaves) {
    CSyncRWLock lock;
    std::vector<std::unique_ptr<WorkerThread>> readers;
    for (int i = 0; i < 20; ++i) {
        readers.push_back(std::make_unique<WorkerThread>());
        ASSERT_TRUE(readers.back()->Run([&] {
            lock.ReadLock(0);
            lock.ReadLock(GetCurrentThreadId());  // an explicit ID is the same holder as 0
        }));
    }
    WorkerThread writer;
    auto written = writer.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(Eventually([&] { return lock.Snapshot().waitingWriters == 1; }));
    for (auto& reader : readers) {
        ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
        EXPECT_FALSE(written->WaitFor(0));
        ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
    }
    EXPECT_TRUE(written->WaitFor(kFinishes));
    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(writer.Id()); }));
    EXPECT_TRUE(IsFree(lock));
}

namespace {

struct Misuse {
    const char* name;
    void (*act)(CSyncRWLock& lock);
};

// Each ends the process before it returns; the last is correct use, the control that lets its child return.
const Misuse kMisuses[] = {
    {"read unlock never locked", [](CSyncRWLock& l) { l.ReadUnlock(0); }},
    {"read unlock once too often", [](CSyncRWLock& l) { l.ReadLock(0), l.ReadUnlock(0), l.ReadUnlock(0); }},
    {"read unlock by a writer without a nested read", [](CSyncRWLock& l) { l.WriteLock(0), l.ReadUnlock(0); }},
    {"read unlock for another thread", [](CSyncRWLock& l) { l.ReadLock(0), l.ReadUnlock(GetCurrentThreadId() + 4); }},
    {"write unlock never locked", [](CSyncRWLock& l) { l.WriteUnlock(0); }},
    {"write unlock by another thread than the writer",
     [](CSyncRWLock& l) {
         (new WorkerThread())->Run([&] { l.WriteLock(0); });  // never joined: the process ends here
         l.WriteUnlock(0);
     }},
    {"write unlock with only the nested read left",
     [](CSyncRWLock& l) { l.WriteLock(0), l.ReadLock(0), l.WriteUnlock(0), l.WriteUnlock(0); }},
    {"upgrade from read to write", [](CSyncRWLock& l) { l.ReadLock(0), l.WriteLock(0); }},
    {"balanced use",
     [](CSyncRWLock& l) {
         l.ReadLock(0), l.ReadLock(0), l.ReadUnlock(0), l.ReadUnlock(0);
         l.WriteLock(0), l.ReadLock(0), l.WriteUnlock(0), l.ReadUnlock(0);
     }},
};
constexpr UINT kReturned = 7;

}  // namespace

TEST(SyncRWLockChild, DISABLED_Misuse) {
    CSyncRWLock lock;
    kMisuses[std::stoi(ChildArgument())].act(lock);
    ExitProcess(kReturned);
}

TEST(SyncRWLock, MisuseEndsTheProcessWithTheFailFastCode) {
    for (size_t i = 0; i < std::size(kMisuses); ++i) {
        const int code = RunTestInChild("SyncRWLockChild.DISABLED_Misuse", std::to_wstring(i), 3 * kFinishes);
        EXPECT_EQ(static_cast<UINT>(code), i + 1 < std::size(kMisuses) ? qv::kFailFastExitCode : kReturned)
            << kMisuses[i].name;
    }
}
