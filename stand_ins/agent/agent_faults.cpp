// The simulated agent's armed faults.
#include "stand_ins/agent/agent_faults.h"

namespace vorn_agent {

void AgentFaults::DelayReplies(unsigned long ms, unsigned long count) {
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ms_ = ms;
    delays_left_ = count;
}

unsigned long AgentFaults::TakeReplyDelay() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (delays_left_ == 0) {
        return 0;
    }
    --delays_left_;
    return delay_ms_;
}

void AgentFaults::SetNextSettingsReply(std::string text, int step) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_reply_ = std::make_pair(std::move(text), step);
}

std::optional<std::pair<std::string, int>> AgentFaults::TakeSettingsReply() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<std::pair<std::string, int>> reply;
    reply.swap(settings_reply_);
    return reply;
}

void AgentFaults::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    server_up_ = true;
    refuse_until_ = 0;
    delay_ms_ = 0;
    delays_left_ = 0;
    settings_reply_.reset();
}

}  // namespace vorn_agent
