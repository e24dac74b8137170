// CSyncRWLock across real threads: re-entry, writer preference, hand-over to waiting readers, nested reads inside
// an exclusive hold, and misuse ending the process.
#include "support/sync/sync_rw_lock.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "equipment/processes.h"
#include "equipment/worker_thread.h"
#include "tests/named_rows.h"

using namespace equipment;

namespace {

// A scenario is a line of steps "<thread><op>[mark]": R ReadLock, r ReadUnlock, W WriteLock, w WriteUnlock. Without
// a mark the call returns at once; "+" starts it and it must block, "?" says it is still blocked, "!" that it
// got the lock now.
const std::pair<const char*, const char*> kScenarios[] = {
    {"readers share; a thread reads again after it let go", "0R 1R 0r 1r 0R 0r"},
    {"nested reads hold off a writer until the last read unlock", "0R 0R 1W+ 0r 1W? 0r 1W! 1w"},
    {"a waiting writer holds off a new reader but not one that already reads", "0R 1W+ 2R+ 0R 0r 0r 1W! 2R? 1w 2R! 2r"},
    {"a releasing writer hands over to the next writer before waiting readers",
     "0W 2R+ 1W+ 0w 1W! 2R? 0W+ 1w 0W! 0w 2R! 2r"},
    {"a read inside a write, given back first, keeps others out until the write goes",
     "0W 0R 1R+ 0r 1R? 2W+ 0w 2W! 1R? 2w 1R! 1r"},
    {"a write given back before the read inside it leaves the lock to its holder",
     "0W 0R 1R+ 0w 1R? 0W 0w 2W+ 0r 2W! 1R? 2w 1R! 1r"},
    {"two writes need two write unlocks", "0W 0W 1R+ 0w 1R? 0w 1R! 1r"},
};

void Do(CSyncRWLock& lock, char op) {
    op == 'R' ? lock.ReadLock(0) : op == 'r' ? lock.ReadUnlock(0) : op == 'W' ? lock.WriteLock(0) : lock.WriteUnlock(0);
}

bool IsFree(const CSyncRWLock& lock) {
    const CSyncRWLock::Counts c = lock.Snapshot();
    return c.activeReaders + c.activeWriters + c.waitingReaders + c.waitingWriters + c.owner == 0;
}

}  // namespace

TEST(SyncRWLock, AdmitsThreadsAsEachScenarioSays) {
    ForEachRow(kScenarios, [](const auto& scenario) {
        CSyncRWLock lock;
        WorkerThread threads[3];
        std::shared_ptr<Completion> pending[3];
        std::istringstream in(scenario.second);
        for (std::string step; in >> step;) {
            SCOPED_TRACE(step);
            const int t = step[0] - '0';
            const char op = step[1];
            const char mark = step.size() > 2 ? step[2] : ' ';
            if (mark == '?' || mark == '!') {
                ASSERT_NE(pending[t], nullptr);
                ASSERT_EQ(pending[t]->WaitFor(mark == '!' ? kFinishes : kStaysBlocked), mark == '!');
                if (mark == '!') {
                    pending[t].reset();
                }
            } else if (mark == '+') {
                const CSyncRWLock::Counts before = lock.Snapshot();
                pending[t] = threads[t].Post([&lock, op] { Do(lock, op); });
                // Blocked means counted as waiting, so that the next step meets it in the queue.
                ASSERT_TRUE(Eventually([&] {
                    const CSyncRWLock::Counts now = lock.Snapshot();
                    return op == 'R' ? now.waitingReaders > before.waitingReaders
                                     : now.waitingWriters > before.waitingWriters;
                })) << "did not wait";
                ASSERT_FALSE(pending[t]->WaitFor(kStaysBlocked));
            } else {
                ASSERT_TRUE(threads[t].Run([&lock, op] { Do(lock, op); })) << "blocked";
            }
        }
        EXPECT_TRUE(IsFree(lock));
    });
}

// More waiting readers than the reader table holds inline must still all be recorded after their wait.
TEST(SyncRWLock, WaitingReadersGetInTogetherWhenTheWriterLeaves) {
    const std::pair<const char*, int> readers_waiting[] = {{"fewer than the table holds inline", 3},
                                                           {"more than the table holds inline", 12}};
    ForEachRow(readers_waiting, [](const auto& row) {
        const int count = row.second;
        CSyncRWLock lock;
        WorkerThread writer;
        std::vector<std::unique_ptr<WorkerThread>> readers;
        std::vector<std::shared_ptr<Completion>> reads;
        ASSERT_TRUE(writer.Run([&] { lock.WriteLock(0); }));
        for (int i = 0; i < count; ++i) {
            readers.push_back(std::make_unique<WorkerThread>());
            reads.push_back(readers.back()->Post([&] { lock.ReadLock(0); }));
        }
        ASSERT_TRUE(Eventually([&] { return lock.Snapshot().waitingReaders == static_cast<unsigned long>(count); }));
        ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
        ASSERT_TRUE(AllWithin(reads));
        auto written = writer.Post([&] { lock.WriteLock(0); });
        ASSERT_TRUE(Eventually([&] { return lock.Snapshot().waitingWriters == 1; }));
        for (auto& reader : readers) {
            EXPECT_FALSE(written->WaitFor(0));
            ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
        }
        EXPECT_TRUE(written->WaitFor(kFinishes));
        ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
        EXPECT_TRUE(IsFree(lock));
    });
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
        EXPECT_EQ(static_cast<UINT>(code), i + 1 < std::size(kMisuses) ? kFailFastExitSeen : kReturned)
            << kMisuses[i].name;
    }
}
