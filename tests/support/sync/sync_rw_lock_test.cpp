// CSyncRWLock across real threads: re-entry, writer preference, admission of waiting readers, nested reads
// inside an exclusive hold.
#include "support/sync/sync_rw_lock.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "worker_thread.h"

namespace {

using sync_test::Eventually;
using sync_test::kFinishes;
using sync_test::kStaysBlocked;
using sync_test::WorkerThread;

bool WritersWaiting(const CSyncRWLock& lock, unsigned long count) {
    return Eventually([&] { return lock.Snapshot().waitingWriters == count; });
}

bool ReadersWaiting(const CSyncRWLock& lock, unsigned long count) {
    return Eventually([&] { return lock.Snapshot().waitingReaders == count; });
}

TEST(SyncRWLock, ReadersOnDifferentThreadsShareTheLock) {
    CSyncRWLock lock;
    WorkerThread first, second;
    ASSERT_TRUE(first.Run([&] { lock.ReadLock(0); }));
    ASSERT_TRUE(second.Run([&] { lock.ReadLock(0); }));
    EXPECT_EQ(lock.Snapshot().activeReaders, 2u);
    ASSERT_TRUE(first.Run([&] { lock.ReadUnlock(0); }));
    ASSERT_TRUE(second.Run([&] { lock.ReadUnlock(0); }));
}

TEST(SyncRWLock, NestedReadsHoldOffWriterUntilLastReadUnlock) {
    CSyncRWLock lock;
    WorkerThread reader, writer;
    ASSERT_TRUE(reader.Run([&] {
        lock.ReadLock(0);
        lock.ReadLock(0);
    }));
    auto written = writer.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(WritersWaiting(lock, 1));

    ASSERT_TRUE(reader.Run([&] { lock.ReadUnlock(0); }));
    EXPECT_FALSE(written->WaitFor(kStaysBlocked));

    ASSERT_TRUE(reader.Run([&] { lock.ReadUnlock(0); }));
    EXPECT_TRUE(written->WaitFor(kFinishes));
    EXPECT_EQ(lock.Snapshot().owner, writer.Id());
    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
}

TEST(SyncRWLock, WaitingWriterHoldsOffNewReaderButNotReenteringReader) {
    CSyncRWLock lock;
    WorkerThread reader, writer, latecomer;
    ASSERT_TRUE(reader.Run([&] { lock.ReadLock(0); }));
    auto written = writer.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(WritersWaiting(lock, 1));

    auto lateRead = latecomer.Post([&] { lock.ReadLock(0); });
    ASSERT_TRUE(ReadersWaiting(lock, 1));
    EXPECT_FALSE(lateRead->WaitFor(kStaysBlocked));

    // The thread that already reads must not queue behind the writer that waits for it.
    EXPECT_TRUE(reader.Run([&] { lock.ReadLock(0); }));

    ASSERT_TRUE(reader.Run([&] {
        lock.ReadUnlock(0);
        lock.ReadUnlock(0);
    }));
    ASSERT_TRUE(written->WaitFor(kFinishes));
    EXPECT_FALSE(lateRead->WaitFor(kStaysBlocked));

    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
    EXPECT_TRUE(lateRead->WaitFor(kFinishes));
    ASSERT_TRUE(latecomer.Run([&] { lock.ReadUnlock(0); }));
}

// 12 waiting readers are more than the reader table holds inline: the last of them must still be recorded
// after its wait, without the table having to grow then.
class WaitingReadersAdmitted : public ::testing::TestWithParam<int> {};

TEST_P(WaitingReadersAdmitted, AllTogetherWhenTheWriterReleases) {
    const int readerCount = GetParam();
    CSyncRWLock lock;
    WorkerThread writer;
    std::vector<std::unique_ptr<WorkerThread>> readers;
    std::vector<std::shared_ptr<sync_test::Completion>> reads;
    ASSERT_TRUE(writer.Run([&] { lock.WriteLock(0); }));
    for (int i = 0; i < readerCount; ++i) {
        readers.push_back(std::make_unique<WorkerThread>());
        reads.push_back(readers.back()->Post([&] { lock.ReadLock(0); }));
    }
    ASSERT_TRUE(ReadersWaiting(lock, static_cast<unsigned long>(readerCount)));
    EXPECT_FALSE(reads.front()->WaitFor(kStaysBlocked));

    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
    for (auto& read : reads) {
        EXPECT_TRUE(read->WaitFor(kFinishes));
    }
    // All hold the lock at once: none had to wait for another's release.
    EXPECT_EQ(lock.Snapshot().activeReaders, static_cast<unsigned long>(readerCount));

    auto written = writer.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(WritersWaiting(lock, 1));
    for (auto& reader : readers) {
        EXPECT_FALSE(written->WaitFor(0));
        ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
    }
    EXPECT_TRUE(written->WaitFor(kFinishes));
    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
}

INSTANTIATE_TEST_SUITE_P(SyncRWLock, WaitingReadersAdmitted, ::testing::Values(3, 12));

TEST(SyncRWLock, ReleasingWriterHandsOverToWaitingWriterBeforeWaitingReaders) {
    CSyncRWLock lock;
    WorkerThread first, second, reader;
    ASSERT_TRUE(first.Run([&] { lock.WriteLock(0); }));
    auto read = reader.Post([&] { lock.ReadLock(0); });
    ASSERT_TRUE(ReadersWaiting(lock, 1));
    auto written = second.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(WritersWaiting(lock, 1));

    ASSERT_TRUE(first.Run([&] { lock.WriteUnlock(0); }));
    EXPECT_TRUE(written->WaitFor(kFinishes));
    EXPECT_FALSE(read->WaitFor(kStaysBlocked));

    ASSERT_TRUE(second.Run([&] { lock.WriteUnlock(0); }));
    EXPECT_TRUE(read->WaitFor(kFinishes));
    ASSERT_TRUE(reader.Run([&] { lock.ReadUnlock(0); }));
}

TEST(SyncRWLock, ManyReadersAtOnceHoldOffWriterUntilTheLastLeaves) {
    constexpr int kReaders = 20;
    CSyncRWLock lock;
    std::vector<std::unique_ptr<WorkerThread>> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.push_back(std::make_unique<WorkerThread>());
        ASSERT_TRUE(readers.back()->Run([&] {
            lock.ReadLock(0);
            lock.ReadLock(0);
        }));
    }
    EXPECT_EQ(lock.Snapshot().activeReaders, static_cast<unsigned long>(kReaders));

    WorkerThread writer;
    auto written = writer.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(WritersWaiting(lock, 1));
    for (auto& reader : readers) {
        // Each reader's second acquisition is still recorded: one release does not let it go.
        ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
        EXPECT_FALSE(written->WaitFor(0));
        ASSERT_TRUE(reader->Run([&] { lock.ReadUnlock(0); }));
    }
    EXPECT_TRUE(written->WaitFor(kFinishes));
    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
}

struct NestedReleaseOrder {
    const char* name;
    bool readUnlockFirst;
};

std::ostream& operator<<(std::ostream& out, const NestedReleaseOrder& order) { return out << order.name; }

class ReadInsideWrite : public ::testing::TestWithParam<NestedReleaseOrder> {};

// The lock stays exclusive to its holder until both its exclusive and its nested shared acquisition are
// given back, in either order.
TEST_P(ReadInsideWrite, KeepsOthersOutUntilBothAreReleased) {
    CSyncRWLock lock;
    WorkerThread holder, reader, writer;
    ASSERT_TRUE(holder.Run([&] {
        lock.WriteLock(0);
        lock.ReadLock(0);
    }));
    auto read = reader.Post([&] { lock.ReadLock(0); });
    ASSERT_TRUE(ReadersWaiting(lock, 1));

    if (GetParam().readUnlockFirst) {
        ASSERT_TRUE(holder.Run([&] { lock.ReadUnlock(0); }));
    } else {
        ASSERT_TRUE(holder.Run([&] { lock.WriteUnlock(0); }));
        const CSyncRWLock::Counts counts = lock.Snapshot();
        EXPECT_EQ(counts.owner, holder.Id());
        EXPECT_EQ(counts.writeDepth, 0u);
        EXPECT_EQ(counts.ownerReadDepth, 1u);
        // Exclusive only by its nested read, the holder may still take the lock exclusively again.
        ASSERT_TRUE(holder.Run([&] {
            lock.WriteLock(0);
            lock.WriteUnlock(0);
        }));
    }
    EXPECT_FALSE(read->WaitFor(kStaysBlocked));
    auto written = writer.Post([&] { lock.WriteLock(0); });
    EXPECT_FALSE(written->WaitFor(kStaysBlocked));

    if (GetParam().readUnlockFirst) {
        ASSERT_TRUE(holder.Run([&] { lock.WriteUnlock(0); }));
    } else {
        ASSERT_TRUE(holder.Run([&] { lock.ReadUnlock(0); }));
    }
    // The waiting writer goes first, then the reader.
    ASSERT_TRUE(written->WaitFor(kFinishes));
    EXPECT_FALSE(read->WaitFor(kStaysBlocked));
    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(0); }));
    EXPECT_TRUE(read->WaitFor(kFinishes));
    ASSERT_TRUE(reader.Run([&] { lock.ReadUnlock(0); }));
}

INSTANTIATE_TEST_SUITE_P(SyncRWLock, ReadInsideWrite,
                         ::testing::Values(NestedReleaseOrder{"ReadUnlockFirst", true},
                                           NestedReleaseOrder{"WriteUnlockFirst", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SyncRWLock, DoubleWriteLockNeedsTwoWriteUnlocks) {
    CSyncRWLock lock;
    WorkerThread holder, reader;
    ASSERT_TRUE(holder.Run([&] {
        lock.WriteLock(0);
        lock.WriteLock(0);
    }));
    auto read = reader.Post([&] { lock.ReadLock(0); });
    ASSERT_TRUE(holder.Run([&] { lock.WriteUnlock(0); }));
    EXPECT_FALSE(read->WaitFor(kStaysBlocked));
    ASSERT_TRUE(holder.Run([&] { lock.WriteUnlock(0); }));
    EXPECT_TRUE(read->WaitFor(kFinishes));
    ASSERT_TRUE(reader.Run([&] { lock.ReadUnlock(0); }));
}

TEST(SyncRWLock, ExplicitThreadIdIsTheSameHolderAsZero) {
    CSyncRWLock lock;
    WorkerThread reader, writer;
    ASSERT_TRUE(reader.Run([&] { lock.ReadLock(GetCurrentThreadId()); }));
    auto written = writer.Post([&] { lock.WriteLock(0); });
    ASSERT_TRUE(WritersWaiting(lock, 1));
    ASSERT_TRUE(reader.Run([&] { lock.ReadUnlock(0); }));
    EXPECT_TRUE(written->WaitFor(kFinishes));
    ASSERT_TRUE(writer.Run([&] { lock.WriteUnlock(writer.Id()); }));
    EXPECT_EQ(lock.Snapshot().activeWriters, 0u);
}

}  // namespace
