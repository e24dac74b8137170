// One client's callbacks on threads of the stand-in's own: a queue and the delivery threads that start_async starts.
//
// Several delivery threads share one queue, so a client scripted with more than one sees its callbacks overlap.
// End drops what is still queued and waits for every callback that is running, except one running on the calling
// thread itself (stop or the destructor called from inside a callback): that thread is let go and ends by itself
// when its callback returns. The threads hold the queue by shared pointer, so it outlives a client destroyed from
// inside its own callback.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_link/vorn_comm_client.h"
#include "stand_ins/vornint/recorder.h"

namespace vornint {

struct Delivery {
    int kind = 0;  // vornint_delivery
    int notification_id = 0;
    bool text_null = false;
    std::string text;
};

class DeliveryQueue : public std::enable_shared_from_this<DeliveryQueue> {
public:
    void SetKey(const ClientKey& key);
    void SetPolicyHandler(vorn::policy_handler* handler);
    void SetNotificationHandler(vorn::notification_handler* handler);

    // Starts the delivery threads unless they run already.
    void Start(int threads);

    // VORNINT_OK, VORNINT_NOT_RUNNING or VORNINT_NO_HANDLER.
    int Push(Delivery delivery);

    struct Ended {
        int dropped = 0;
        bool inside_callback = false;
    };
    // After End returns no callback runs (but the caller's own) and none can follow until Start.
    Ended End();

    bool WaitIdle(DWORD timeout_ms);
    bool Running();
    int Pending();

private:
    void Deliver(unsigned run);

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable idle_;
    ClientKey key_;
    vorn::policy_handler* policy_handler_ = nullptr;
    vorn::notification_handler* notification_handler_ = nullptr;
    std::deque<Delivery> queue_;
    std::vector<std::thread> threads_;
    unsigned run_ = 0;  // each Start begins a new run; threads of an ended run leave
    bool running_ = false;
    int busy_ = 0;  // callbacks running now
};

}  // namespace vornint
