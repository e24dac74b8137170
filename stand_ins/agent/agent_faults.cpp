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

void AgentFaults::AddSettingsReply(std::string text, int step) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_replies_.emplace_back(std::move(text), step);
}

std::optional<std::pair<std::string, int>> AgentFaults::TakeSettingsReply() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (settings_replies_.empty()) {
        return std::nullopt;
    }
    std::optional<std::pair<std::string, int>> reply(std::move(settings_replies_.front()));
    settings_replies_.pop_front();
    return reply;
}

void AgentFaults::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    server_up_ = true;
    refuse_until_ = 0;
    delay_ms_ = 0;
    delays_left_ = 0;
    settings_replies_.clear();
}

}  // namespace vorn_agent
