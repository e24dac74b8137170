// ISyncRWLock and CSyncRWLock: the re-entrant reader/writer lock behind every subscriber list.
//
// Design. All bookkeeping (waiting and active counts, the exclusive owner and its depths, the reader table)
// lives under one critical section, the guard, which is held only for that bookkeeping: nobody waits on a
// gate while holding it. Threads that cannot be admitted count themselves as waiting, leave the guard and
// block on one of two semaphores, the reader gate or the writer gate, without a time-out.
//
// Hand-over: admission is decided by the thread that releases, never by the thread that wakes. Before it
// opens a gate the releasing thread moves the woken threads from "waiting" to "active" (one writer, or all
// waiting readers at once), so a woken thread never re-checks the state and cannot lose its turn to a thread
// that arrives in between; it only records itself (owner, or its reader-table entry) after the wait.
//
// Writer preference: a thread that does not yet read waits while any writer waits, and a writer's release
// opens the writer gate before the reader gate, so a stream of readers cannot starve the host's Add and
// Remove. A thread that already reads takes the lock again at once whatever waits: making it queue behind a
// writer that waits for its own release would deadlock a nested walk.
//
// Re-entry: shared depth is counted per thread in the reader table; the exclusive holder counts its
// exclusive acquisitions (write depth) and its shared ones (owner's read depth) separately and keeps the
// lock until both reach 0, in whichever order it releases them. Upgrading a shared hold to an exclusive one
// is refused: two readers upgrading at once would wait for each other forever.
//
// Misuse (releasing what the thread does not hold, upgrading) ends the process through qv::FailFast before
// any state changes: a lock whose counts are wrong no longer protects anything.
#pragma once

#include <windows.h>

#include "support/sync/reader_table.h"
#include "support/sync/thread_annotations.h"
#include "support/unique_resource.h"

// The four lock operations. A thread ID of 0 stands for the calling thread, the only one the product passes,
// and the one the annotations describe.
struct CAPABILITY("reader/writer lock") ISyncRWLock {
    virtual void ReadLock(unsigned long threadId) ACQUIRE_SHARED() = 0;
    virtual void ReadUnlock(unsigned long threadId) RELEASE_SHARED() = 0;
    virtual void WriteLock(unsigned long threadId) ACQUIRE() = 0;
    virtual void WriteUnlock(unsigned long threadId) RELEASE() = 0;

protected:
    ~ISyncRWLock() = default;
};

class CSyncRWLock : public ISyncRWLock {
public:
    // A consistent copy of the counters, for diagnostics and tests.
    struct Counts {
        unsigned long waitingReaders;
        unsigned long waitingWriters;
        unsigned long activeReaders;
        unsigned long activeWriters;
        unsigned long owner;
        unsigned long ownerReadDepth;
        unsigned long writeDepth;
    };

    // Throws std::system_error when a gate cannot be created.
    CSyncRWLock();
    CSyncRWLock(const CSyncRWLock&) = delete;
    CSyncRWLock& operator=(const CSyncRWLock&) = delete;
    // Does not wait for holders; destroying a lock that is held or waited on is the owner's error.
    ~CSyncRWLock() = default;

    // May throw std::bad_alloc, without taking the lock, only when more threads read at once than the
    // reader table holds inline and the heap is exhausted. The other three never throw.
    void ReadLock(unsigned long threadId) final;
    void ReadUnlock(unsigned long threadId) final;
    void WriteLock(unsigned long threadId) final;
    void WriteUnlock(unsigned long threadId) final;

    Counts Snapshot() const;

private:
    // The gate a releasing thread opens once it has left the guard, and how many threads it admits
    // (0: nobody waits).
    struct Admission {
        HANDLE gate;
        long count;
    };
    // Inside the guard: the exclusive holder has released its last acquisition; passes the lock on.
    Admission HandOver() noexcept REQUIRES(guard_);
    static void Open(const Admission& admission) noexcept;
    static void Wait(HANDLE gate) noexcept;
    // Room for every reader that holds or waits, plus `extra`, so that no thread admitted through the reader
    // gate needs to allocate after its wait.
    void ReserveReaders(unsigned long extra) REQUIRES(guard_);

    mutable qv::CriticalSection guard_;
    // Made by the constructor and never changed: read without the guard.
    qv::UniqueHandle readerGate_;
    qv::UniqueHandle writerGate_;
    unsigned long waitingReaders_ GUARDED_BY(guard_) = 0;
    unsigned long waitingWriters_ GUARDED_BY(guard_) = 0;
    unsigned long activeReaders_ GUARDED_BY(guard_) = 0;
    unsigned long activeWriters_ GUARDED_BY(guard_) = 0;
    unsigned long owner_ GUARDED_BY(guard_) = 0;
    unsigned long ownerReadDepth_ GUARDED_BY(guard_) = 0;
    unsigned long writeDepth_ GUARDED_BY(guard_) = 0;
    ReaderTable readers_ GUARDED_BY(guard_);
};
