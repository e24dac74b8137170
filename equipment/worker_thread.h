// WorkerThread: a thread that runs posted tasks in order, so a test can script what each thread does and
// when, and wait for every step with a time-out.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "support/unique_resource.h"

namespace equipment {

// Long enough for any step that must finish under load; short enough that a deadlock fails in seconds.
constexpr DWORD kFinishes = 5000;
// How long a step that must stay blocked is watched before it counts as blocked.
constexpr DWORD kStaysBlocked = 200;

// Signalled when a posted task has run.
class Completion {
public:
    Completion();
    bool WaitFor(DWORD milliseconds) const { return WaitForSingleObject(done_.get(), milliseconds) == WAIT_OBJECT_0; }
    void Signal() const { SetEvent(done_.get()); }

private:
    qv::UniqueHandle done_;
};

class WorkerThread {
public:
    WorkerThread();
    // Ends the thread after its queued tasks. A thread still blocked after kFinishes (kStaysBlocked once the
    // test has failed) fails the test and is terminated, so one deadlock does not hang the whole run.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    std::shared_ptr<Completion> Post(std::function<void()> task);
    // Posts and waits up to `milliseconds`; true when the task ran.
    bool Run(std::function<void()> task, DWORD milliseconds = kFinishes);
    DWORD Id() const { return id_; }

private:
    struct Item {
        std::function<void()> task;  // empty: end the thread
        std::shared_ptr<Completion> done;
    };
    static DWORD WINAPI Main(void* self);

    qv::CriticalSection queueGuard_;
    std::deque<Item> queue_;
    qv::UniqueHandle queued_;  // semaphore counting the items in queue_
    qv::UniqueHandle thread_;
    DWORD id_ = 0;
};

// Waits for all completions within one shared time-out; true when all were signalled in time.
bool AllWithin(const std::vector<std::shared_ptr<Completion>>& completions, DWORD milliseconds = kFinishes);

// Polls `condition` until it holds or `milliseconds` pass; true when it held.
bool Eventually(const std::function<bool()>& condition, DWORD milliseconds = kFinishes);

}  // namespace equipment
