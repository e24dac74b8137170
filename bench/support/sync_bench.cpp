// Costs of the subscriber lists' lock and walk against Windows' SRWLOCK, measured in the same run: an
// uncontended shared pair, an uncontended walk over 8 subscribers, and a fixed amount of contended work, which is
// also run on a reference lock built from the same kernel objects as CSyncRWLock.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "support/sync/event.h"
#include "support/sync/event_walk.h"
#include "support/sync/member_function.h"
#include "bench/bench_timing.h"

namespace {

struct ISink {
    virtual void OnValue(int value) = 0;

protected:
    ~ISink() = default;
};

struct Sink : ISink {
    void OnValue(int value) override { total += value; }
    long long total = 0;
};

using SinkEvent = Event<MemberFunction_1_args<ISink, void, int>, &ISink::OnValue>;

constexpr int kSubscribers = 8;
constexpr long kPairCalls = 500000;
constexpr long kWalkCalls = 250000;
constexpr int kRounds = 15;
constexpr int kWalkers = 2;
constexpr long kContendedWalks = 200000;  // over all walkers
constexpr long kContendedChanges = 2000;  // adds and removes, on one thread
constexpr int kContendedRounds = 21;

// Keeps the compiler from seeing through the object behind a pointer.
template <typename T>
T* Opaque(T* pointer) {
    T* volatile laundered = pointer;
    return laundered;
}

// The least a guarded lock operation does: the caller's thread ID and one pass through a critical section.
void GuardedPass(CRITICAL_SECTION* guard) {
    volatile DWORD self = GetCurrentThreadId();
    (void)self;
    EnterCriticalSection(guard);
    LeaveCriticalSection(guard);
}

// A reader/writer lock made of the same kernel objects as CSyncRWLock (a critical section guarding the counts, a
// reader gate and a writer gate) with the same hand-over and writer preference, but without re-entry: no reader
// table, no owner, no depths. What CSyncRWLock costs beyond it is its re-entrant bookkeeping.
class ReferenceLock {
public:
    ReferenceLock()
        : readerGate_(CreateSemaphoreW(nullptr, 0, MAXLONG, nullptr)),
          writerGate_(CreateSemaphoreW(nullptr, 0, MAXLONG, nullptr)) {
        InitializeCriticalSection(&guard_);
    }
    ~ReferenceLock() {
        DeleteCriticalSection(&guard_);
        CloseHandle(readerGate_);
        CloseHandle(writerGate_);
    }
    ReferenceLock(const ReferenceLock&) = delete;
    ReferenceLock& operator=(const ReferenceLock&) = delete;

    void ReadLock() {
        EnterCriticalSection(&guard_);
        if (activeWriters_ == 0 && waitingWriters_ == 0) {
            ++activeReaders_;
            LeaveCriticalSection(&guard_);
            return;
        }
        ++waitingReaders_;
        LeaveCriticalSection(&guard_);
        WaitForSingleObject(readerGate_, INFINITE);
    }

    void ReadUnlock() {
        EnterCriticalSection(&guard_);
        if (--activeReaders_ == 0 && waitingWriters_ > 0) {
            --waitingWriters_;
            activeWriters_ = 1;
            LeaveCriticalSection(&guard_);
            ReleaseSemaphore(writerGate_, 1, nullptr);
            return;
        }
        LeaveCriticalSection(&guard_);
    }

    void WriteLock() {
        EnterCriticalSection(&guard_);
        if (activeReaders_ == 0 && activeWriters_ == 0) {
            activeWriters_ = 1;
            LeaveCriticalSection(&guard_);
            return;
        }
        ++waitingWriters_;
        LeaveCriticalSection(&guard_);
        WaitForSingleObject(writerGate_, INFINITE);
    }

    void WriteUnlock() {
        EnterCriticalSection(&guard_);
        activeWriters_ = 0;
        HANDLE gate = nullptr;
        LONG admitted = 0;
        if (waitingWriters_ > 0) {
            --waitingWriters_;
            activeWriters_ = 1;
            gate = writerGate_;
            admitted = 1;
        } else if (waitingReaders_ > 0) {
            activeReaders_ = waitingReaders_;
            admitted = static_cast<LONG>(waitingReaders_);
            waitingReaders_ = 0;
            gate = readerGate_;
        }
        LeaveCriticalSection(&guard_);
        if (gate != nullptr) {
            ReleaseSemaphore(gate, admitted, nullptr);
        }
    }

private:
    CRITICAL_SECTION guard_;
    HANDLE readerGate_;
    HANDLE writerGate_;
    unsigned long waitingReaders_ = 0;
    unsigned long waitingWriters_ = 0;
    unsigned long activeReaders_ = 0;
    unsigned long activeWriters_ = 0;
};

// A list of the same subscribers under a lock of another kind, walked and changed the way the container does it.
template <typename Shared, typename Exclusive>
struct LockedList {
    void Walk() {
        shared.first();
        for (ISink* sink : sinks) {
            Opaque(sink)->OnValue(1);
        }
        shared.second();
    }
    void AddThenRemove(ISink* extra) {
        exclusive.first();
        if (std::find(sinks.begin(), sinks.end(), extra) == sinks.end()) {
            sinks.push_back(extra);
        }
        exclusive.second();
        exclusive.first();
        const auto found = std::find(sinks.begin(), sinks.end(), extra);
        if (found != sinks.end()) {
            sinks.erase(found);
        }
        exclusive.second();
    }
    std::vector<ISink*> sinks;
    Shared shared;
    Exclusive exclusive;
};

// kWalkers threads share kContendedWalks walks while one thread makes kContendedChanges changes (half adds, half
// removes); all start together. Returns the milliseconds until the last one is done.
template <typename Walk, typename AddThenRemove>
double ContendedMilliseconds(Walk walk, AddThenRemove addThenRemove) {
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWalkers; ++i) {
        threads.emplace_back([&] {
            WaitForSingleObject(start, INFINITE);
            for (long n = 0; n < kContendedWalks / kWalkers; ++n) {
                walk();
            }
        });
    }
    threads.emplace_back([&] {
        WaitForSingleObject(start, INFINITE);
        for (long n = 0; n < kContendedChanges / 2; ++n) {
            addThenRemove();
        }
    });
    Sleep(10);  // every thread waits on the start event
    const auto begun = std::chrono::steady_clock::now();
    SetEvent(start);
    for (auto& thread : threads) {
        thread.join();
    }
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - begun;
    CloseHandle(start);
    return elapsed.count();
}

}  // namespace

int main() {
    SRWLOCK srw = SRWLOCK_INIT;
    SRWLOCK* srwPointer = Opaque(&srw);
    CRITICAL_SECTION guard;
    InitializeCriticalSection(&guard);
    CRITICAL_SECTION* guardPointer = Opaque(&guard);

    std::printf(
        "Uncontended shared pair: ReadLock + ReadUnlock through ISyncRWLock (guard, thread ID, reader table)\n"
        "against AcquireSRWLockShared + ReleaseSRWLockShared. Floor: two guarded passes (GetCurrentThreadId,\n"
        "critical section in and out), which the design prescribes for every lock operation.\n"
        "Median of %d interleaved rounds [lowest .. highest]:\n",
        kRounds);
    CSyncRWLock lock;
    ISyncRWLock* lockPointer = Opaque<ISyncRWLock>(&lock);
    const bench::Rounds pair(kRounds, {[&] {
                                           return bench::NanosecondsPerCall(
                                               [&](long) {
                                                   AcquireSRWLockShared(srwPointer);
                                                   ReleaseSRWLockShared(srwPointer);
                                               },
                                               kPairCalls);
                                       },
                                       [&] {
                                           return bench::NanosecondsPerCall(
                                               [&](long) {
                                                   lockPointer->ReadLock(0);
                                                   lockPointer->ReadUnlock(0);
                                               },
                                               kPairCalls);
                                       },
                                       [&] {
                                           return bench::NanosecondsPerCall(
                                               [&](long) {
                                                   GuardedPass(guardPointer);
                                                   GuardedPass(guardPointer);
                                               },
                                               kPairCalls);
                                       }});
    bench::PrintFigure("SRWLOCK shared pair", pair.Of(0), "ns");
    bench::PrintFigure("CSyncRWLock shared pair", pair.Of(1), "ns");
    bench::PrintFigure("floor: two guarded passes", pair.Of(2), "ns");
    bench::PrintRatio("CSyncRWLock / SRWLOCK", pair.Ratio(1, 0), bench::AtMost(1.3));
    bench::PrintRatio("floor / SRWLOCK", pair.Ratio(2, 0), bench::NoTarget());
    bench::PrintFloorVerdict(pair.Ratio(2, 0), bench::AtMost(1.3));
    bench::PrintRatio("CSyncRWLock / floor", pair.Ratio(1, 2), bench::NoTarget());

    Sink sinks[kSubscribers];
    SynchronyzedObjectContainer<ISink*> list;
    std::vector<ISink*> plain;
    for (Sink& sink : sinks) {
        list.Add(&sink);
        plain.push_back(&sink);
    }
    SinkEvent event(&list);
    SinkEvent* eventPointer = Opaque(&event);
    auto callEach = [&] {
        for (ISink* sink : plain) {
            Opaque(sink)->OnValue(1);
        }
    };
    std::printf(
        "\nUncontended walk of %d subscribers, one virtual call each. Event: NotifyEach as the policy client\n"
        "walks (Begin takes a walk state and the shared lock, Next per subscriber, End gives both back).\n"
        "SRWLOCK: the same calls between AcquireSRWLockShared and ReleaseSRWLockShared. Floor: the same calls\n"
        "between two guarded passes.\n",
        kSubscribers);
    const bench::Rounds walk(
        kRounds, {[&] {
                      return bench::NanosecondsPerCall(
                          [&](long) {
                              AcquireSRWLockShared(srwPointer);
                              callEach();
                              ReleaseSRWLockShared(srwPointer);
                          },
                          kWalkCalls);
                  },
                  [&] { return bench::NanosecondsPerCall([&](long) { NotifyEach(*eventPointer, 1); }, kWalkCalls); },
                  [&] {
                      return bench::NanosecondsPerCall(
                          [&](long) {
                              GuardedPass(guardPointer);
                              callEach();
                              GuardedPass(guardPointer);
                          },
                          kWalkCalls);
                  }});
    bench::PrintFigure("SRWLOCK walk", walk.Of(0), "ns");
    bench::PrintFigure("Event walk", walk.Of(1), "ns");
    bench::PrintFigure("floor: walk between two guarded passes", walk.Of(2), "ns");
    bench::PrintRatio("Event / SRWLOCK", walk.Ratio(1, 0), bench::AtMost(1.5));
    bench::PrintRatio("floor / SRWLOCK", walk.Ratio(2, 0), bench::NoTarget());
    bench::PrintFloorVerdict(walk.Ratio(2, 0), bench::AtMost(1.5));
    bench::PrintRatio("Event / floor", walk.Ratio(1, 2), bench::NoTarget());

    std::printf(
        "\nContended: %d threads share %ld walks of the list while one thread makes %ld changes (add, remove,\n"
        "add, ...); time until all are done, %d interleaved rounds. Reference: a lock of the same kernel\n"
        "objects (critical section, two semaphores, the same hand-over) without re-entry; SRWLOCK for scale.\n",
        kWalkers, kContendedWalks, kContendedChanges, kContendedRounds);
    Sink extra;
    ReferenceLock reference;
    struct ReferenceShared {
        ReferenceLock* lock;
        void first() { lock->ReadLock(); }
        void second() { lock->ReadUnlock(); }
    };
    struct ReferenceExclusive {
        ReferenceLock* lock;
        void first() { lock->WriteLock(); }
        void second() { lock->WriteUnlock(); }
    };
    struct SrwShared {
        SRWLOCK* lock;
        void first() { AcquireSRWLockShared(lock); }
        void second() { ReleaseSRWLockShared(lock); }
    };
    struct SrwExclusive {
        SRWLOCK* lock;
        void first() { AcquireSRWLockExclusive(lock); }
        void second() { ReleaseSRWLockExclusive(lock); }
    };
    LockedList<ReferenceShared, ReferenceExclusive> referenceList{plain, {&reference}, {&reference}};
    LockedList<SrwShared, SrwExclusive> srwList{plain, {srwPointer}, {srwPointer}};
    // Most walks find the lock free even here, so a walk's own cost carries into the contended figure; the same
    // two walks on one thread alone show that share, and what is left is what waiting costs.
    const bench::Rounds alone(
        kRounds, {[&] { return bench::NanosecondsPerCall([&](long) { referenceList.Walk(); }, kWalkCalls); },
                  [&] { return bench::NanosecondsPerCall([&](long) { NotifyEach(*eventPointer, 1); }, kWalkCalls); }});
    const bench::Rounds contended(
        kContendedRounds,
        {[&] {
             return ContendedMilliseconds([&] { referenceList.Walk(); }, [&] { referenceList.AddThenRemove(&extra); });
         },
         [&] {
             return ContendedMilliseconds([&] { NotifyEach(*eventPointer, 1); },
                                          [&] {
                                              list.Add(&extra);
                                              list.Remove(&extra);
                                          });
         },
         [&] { return ContendedMilliseconds([&] { srwList.Walk(); }, [&] { srwList.AddThenRemove(&extra); }); }});
    bench::PrintFigure("reference lock", contended.Of(0), "ms");
    bench::PrintFigure("Event and SynchronyzedObjectContainer", contended.Of(1), "ms");
    bench::PrintFigure("SRWLOCK", contended.Of(2), "ms");
    bench::PrintRatio("throughput Event / reference lock", contended.Ratio(0, 1), bench::AtLeast(0.8));
    bench::PrintRatio("throughput Event / SRWLOCK", contended.Ratio(2, 1), bench::NoTarget());
    bench::PrintFigure("alone: reference lock walk", alone.Of(0), "ns");
    bench::PrintFigure("alone: Event walk", alone.Of(1), "ns");
    const bench::Stats aloneRatio = alone.Ratio(0, 1);
    bench::PrintRatio("throughput Event / reference lock, one thread alone", aloneRatio, bench::NoTarget());
    std::printf(
        "  -> waiting's own share: contended / alone = %.3f (1.0: the re-entrant lock waits no worse than\n"
        "     the reference; below: its waits cost more)\n",
        contended.Ratio(0, 1).median / aloneRatio.median);

    DeleteCriticalSection(&guard);
    long long total = extra.total;
    for (const Sink& sink : sinks) {
        total += sink.total;
    }
    return total > 0 ? 0 : 1;
}
