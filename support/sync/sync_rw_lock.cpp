// CSyncRWLock: the four lock operations and the hand-over.
#include "support/sync/sync_rw_lock.h"

#include <system_error>

#include "support/fail_fast.h"

namespace {

constexpr LONG kGateMaximum = 2147483647;

static_assert(sizeof(unsigned long) == sizeof(DWORD), "thread IDs and counts are 32-bit");

unsigned long ResolveThread(unsigned long threadId) noexcept { return threadId != 0 ? threadId : GetCurrentThreadId(); }

qv::UniqueHandle CreateGate() {
    qv::UniqueHandle gate(CreateSemaphoreW(nullptr, 0, kGateMaximum, nullptr));
    if (!gate) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateSemaphoreW");
    }
    return gate;
}

}  // namespace

CSyncRWLock::CSyncRWLock() : readerGate_(CreateGate()), writerGate_(CreateGate()) {}

void CSyncRWLock::Wait(HANDLE gate) noexcept {
    if (WaitForSingleObject(gate, INFINITE) != WAIT_OBJECT_0) {
        // Going on would hand this thread a lock nobody admitted it to.
        qv::FailFast();
    }
}

void CSyncRWLock::Open(const Admission& admission) noexcept {
    if (admission.count > 0 && !ReleaseSemaphore(admission.gate, admission.count, nullptr)) {
        // The admitted threads are already counted as active; without the release they would never run.
        qv::FailFast();
    }
}

void CSyncRWLock::ReserveReaders(unsigned long extra) {
    readers_.Reserve(static_cast<std::size_t>(activeReaders_) + waitingReaders_ + extra);
}

void CSyncRWLock::ReadLock(unsigned long threadId) {
    const unsigned long self = ResolveThread(threadId);
    {
        qv::CriticalSectionGuard guard(guard_);
        if (activeReaders_ > 0) {
            if (unsigned long* depth = readers_.Find(self)) {
                ++*depth;
                return;
            }
            if (waitingWriters_ == 0) {
                ReserveReaders(1);
                readers_.Insert(self, 1);
                ++activeReaders_;
                return;
            }
        } else if (activeWriters_ > 0) {
            if (owner_ == self) {
                ++ownerReadDepth_;
                return;
            }
        } else if (waitingWriters_ == 0) {
            ReserveReaders(1);
            readers_.Insert(self, 1);
            ++activeReaders_;
            return;
        }
        ReserveReaders(1);
        ++waitingReaders_;
    }
    Wait(readerGate_.get());
    qv::CriticalSectionGuard guard(guard_);
    // The thread that opened the gate already counted this one as active; room was reserved before the wait.
    readers_.Insert(self, 1);
}

void CSyncRWLock::ReadUnlock(unsigned long threadId) {
    const unsigned long self = ResolveThread(threadId);
    Admission admission{nullptr, 0};
    {
        qv::CriticalSectionGuard guard(guard_);
        if (activeReaders_ == 0) {
            if (activeWriters_ == 0 || owner_ != self || ownerReadDepth_ == 0) {
                qv::FailFast();
            }
            --ownerReadDepth_;
            if (ownerReadDepth_ > 0 || writeDepth_ > 0) {
                return;
            }
            admission = HandOver();
        } else {
            unsigned long* depth = readers_.Find(self);
            if (depth == nullptr) {
                qv::FailFast();
            }
            if (*depth != 1) {
                --*depth;
                return;
            }
            readers_.Erase(depth);
            --activeReaders_;
            if (activeReaders_ > 0 || waitingWriters_ == 0) {
                return;
            }
            --waitingWriters_;
            activeWriters_ = 1;
            admission = Admission{writerGate_.get(), 1};
        }
    }
    Open(admission);
}

void CSyncRWLock::WriteLock(unsigned long threadId) {
    const unsigned long self = ResolveThread(threadId);
    {
        qv::CriticalSectionGuard guard(guard_);
        if (activeReaders_ == 0) {
            if (activeWriters_ == 0) {
                owner_ = self;
                ownerReadDepth_ = 0;
                writeDepth_ = 1;
                activeWriters_ = 1;
                return;
            }
            if (owner_ == self) {
                ++writeDepth_;
                return;
            }
        } else if (readers_.Find(self) != nullptr) {
            qv::FailFast();
        }
        ++waitingWriters_;
    }
    Wait(writerGate_.get());
    qv::CriticalSectionGuard guard(guard_);
    owner_ = self;
    ownerReadDepth_ = 0;
    writeDepth_ = 1;
}

void CSyncRWLock::WriteUnlock(unsigned long threadId) {
    const unsigned long self = ResolveThread(threadId);
    Admission admission{nullptr, 0};
    {
        qv::CriticalSectionGuard guard(guard_);
        if (activeWriters_ == 0 || owner_ != self || writeDepth_ == 0) {
            qv::FailFast();
        }
        --writeDepth_;
        if (ownerReadDepth_ > 0 || writeDepth_ > 0) {
            return;
        }
        admission = HandOver();
    }
    Open(admission);
}

CSyncRWLock::Admission CSyncRWLock::HandOver() noexcept {
    --activeWriters_;
    owner_ = 0;
    if (waitingWriters_ > 0) {
        --waitingWriters_;
        activeWriters_ = 1;
        return Admission{writerGate_.get(), 1};
    }
    if (waitingReaders_ > 0) {
        const unsigned long admitted = waitingReaders_;
        waitingReaders_ = 0;
        activeReaders_ = admitted;
        return Admission{readerGate_.get(), static_cast<long>(admitted)};
    }
    return Admission{nullptr, 0};
}

CSyncRWLock::Counts CSyncRWLock::Snapshot() const {
    qv::CriticalSectionGuard guard(guard_);
    return Counts{waitingReaders_, waitingWriters_, activeReaders_, activeWriters_,
                  owner_,          ownerReadDepth_, writeDepth_};
}
