// WorkerThread: scripted test threads with bounded waits.
#include "equipment/worker_thread.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace equipment {

Completion::Completion() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!done_) {
        throw std::runtime_error("CreateEventW failed");
    }
}

WorkerThread::WorkerThread() : queued_(CreateSemaphoreW(nullptr, 0, 0x7fffffff, nullptr)) {
    thread_.reset(CreateThread(nullptr, 0, &WorkerThread::Main, this, 0, &id_));
    if (!queued_ || !thread_) {
        throw std::runtime_error("cannot start a worker thread");
    }
}

WorkerThread::~WorkerThread() {
    Post(nullptr);
    // Once the test has failed, a thread that is still blocked is most likely part of the same deadlock.
    const DWORD grace = ::testing::Test::HasFailure() ? kStaysBlocked : kFinishes;
    if (WaitForSingleObject(thread_.get(), grace) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "worker thread " << id_ << " is still blocked; terminating it";
        TerminateThread(thread_.get(), 1);
        WaitForSingleObject(thread_.get(), kFinishes);
    }
}

std::shared_ptr<Completion> WorkerThread::Post(std::function<void()> task) {
    auto done = std::make_shared<Completion>();
    {
        qv::CriticalSectionGuard hold(queueGuard_);
        queue_.push_back(Item{std::move(task), done});
    }
    ReleaseSemaphore(queued_.get(), 1, nullptr);
    return done;
}

bool WorkerThread::Run(std::function<void()> task, DWORD milliseconds) {
    return Post(std::move(task))->WaitFor(milliseconds);
}

DWORD WINAPI WorkerThread::Main(void* self) {
    auto& worker = *static_cast<WorkerThread*>(self);
    for (;;) {
        WaitForSingleObject(worker.queued_.get(), INFINITE);
        Item item;
        {
            qv::CriticalSectionGuard hold(worker.queueGuard_);
            item = std::move(worker.queue_.front());
            worker.queue_.pop_front();
        }
        if (!item.task) {
            item.done->Signal();
            return 0;
        }
        item.task();
        item.done->Signal();
    }
}

bool AllWithin(const std::vector<std::shared_ptr<Completion>>& completions, DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (const auto& completion : completions) {
        const ULONGLONG now = GetTickCount64();
        if (!completion->WaitFor(now < deadline ? static_cast<DWORD>(deadline - now) : 0)) {
            return false;
        }
    }
    return true;
}

bool Eventually(const std::function<bool()>& condition, DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!condition()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

}  // namespace equipment
