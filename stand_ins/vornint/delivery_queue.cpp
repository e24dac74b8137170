// One client's callback queue and delivery threads.
#include "stand_ins/vornint/delivery_queue.h"

#include <utility>

namespace vornint {

void DeliveryQueue::SetKey(const ClientKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    key_ = key;
}

void DeliveryQueue::SetPolicyHandler(vorn::policy_handler* handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    policy_handler_ = handler;
}

void DeliveryQueue::SetNotificationHandler(vorn::notification_handler* handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    notification_handler_ = handler;
}

void DeliveryQueue::Start(int threads) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) {
        return;
    }
    running_ = true;
    const unsigned run = ++run_;
    for (int n = 0; n < (threads < 1 ? 1 : threads); ++n) {
        threads_.emplace_back([self = shared_from_this(), run] { self->Deliver(run); });
    }
}

int DeliveryQueue::Push(Delivery delivery) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
        return VORNINT_NOT_RUNNING;
    }
    const bool to_policy_handler = delivery.kind != VORNINT_NOTIFICATION;
    if ((to_policy_handler ? static_cast<void*>(policy_handler_) : static_cast<void*>(notification_handler_)) ==
        nullptr) {
        return VORNINT_NO_HANDLER;
    }
    queue_.push_back(std::move(delivery));
    work_.notify_one();
    return VORNINT_OK;
}

DeliveryQueue::Ended DeliveryQueue::End() {
    std::deque<Delivery> dropped;
    std::vector<std::thread> threads;
    ClientKey key;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        ++run_;
        dropped.swap(queue_);
        threads.swap(threads_);
        key = key_;
        work_.notify_all();
        if (busy_ == 0) {
            idle_.notify_all();
        }
    }
    Ended ended;
    ended.dropped = static_cast<int>(dropped.size());
    for (const Delivery& delivery : dropped) {
        vornint_entry entry{};
        entry.kind = VORNINT_DROPPED;
        entry.delivery = delivery.kind;
        entry.notification_id = delivery.notification_id;
        Recorder::Instance().Record(key, entry, delivery.text_null ? nullptr : delivery.text.c_str());
    }
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            // Joining itself would deadlock; this thread leaves the loop once the running callback returns.
            thread.detach();
            ended.inside_callback = true;
        } else {
            thread.join();
        }
    }
    return ended;
}

void DeliveryQueue::Deliver(unsigned run) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return run_ != run || !queue_.empty(); });
        if (run_ != run) {
            return;
        }
        Delivery delivery = std::move(queue_.front());
        queue_.pop_front();
        vorn::policy_handler* policy_handler = policy_handler_;
        vorn::notification_handler* notification_handler = notification_handler_;
        const ClientKey key = key_;
        ++busy_;
        lock.unlock();

        const char* text = delivery.text_null ? nullptr : delivery.text.c_str();
        vornint_entry entry{};
        entry.kind = VORNINT_DELIVERED;
        entry.delivery = delivery.kind;
        entry.notification_id = delivery.notification_id;
        try {
            switch (delivery.kind) {
                case VORNINT_RUN_POLICY:
                    entry.handler = policy_handler;
                    policy_handler->on_run_policy(text);
                    break;
                case VORNINT_ADD_POLICY:
                    entry.handler = policy_handler;
                    policy_handler->on_add_policy(text);
                    break;
                case VORNINT_REMOVE_POLICY:
                    entry.handler = policy_handler;
                    policy_handler->on_remove_policy(text);
                    break;
                case VORNINT_POLICY_NOTIFICATION:
                    entry.handler = policy_handler;
                    policy_handler->on_notification(text);
                    break;
                default:
                    entry.handler = notification_handler;
                    notification_handler->on_notification(delivery.notification_id, text);
                    break;
            }
        } catch (...) {
            // The real library would not survive this; the record lets a test see that an exception got out.
            entry.threw = 1;
        }
        // Recorded before the callback counts as finished, so that a waiter that sees idle finds it in the record.
        Recorder::Instance().Record(key, entry, text);

        lock.lock();
        --busy_;
        if (busy_ == 0 && queue_.empty()) {
            idle_.notify_all();
        }
    }
}

bool DeliveryQueue::WaitIdle(DWORD timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return busy_ == 0 && queue_.empty(); });
}

bool DeliveryQueue::Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

int DeliveryQueue::Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(queue_.size());
}

}  // namespace vornint
