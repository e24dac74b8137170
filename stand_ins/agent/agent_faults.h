// The faults a scenario has armed in the simulated agent's server, consulted where the server decides: whether
// its server is up, whether a new connection is refused, how late the next command is answered, and what the
// next get_settings reply says. It outlives a restart of the server, as the agent's own state does.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace vorn_agent {

class AgentFaults {
public:
    bool ServerUp() const { return server_up_; }
    void SetServerUp(bool up) { server_up_ = up; }

    void RefuseConnectionsFor(unsigned long ms) { refuse_until_ = GetTickCount64() + ms; }
    bool RefusingConnections() const { return GetTickCount64() < refuse_until_; }

    void DelayReplies(unsigned long ms, unsigned long count);
    // The delay for the command at hand (0: none), used up by the asking.
    unsigned long TakeReplyDelay();

    // Arms one more get_settings reply; armed replies go out in the order they were armed.
    void AddSettingsReply(std::string text, int step);
    // The next armed reply and its step, used up by the asking.
    std::optional<std::pair<std::string, int>> TakeSettingsReply();

    // Forgets every armed fault: a new agent starts well.
    void Reset();

private:
    std::atomic<bool> server_up_{true};
    std::atomic<ULONGLONG> refuse_until_{0};
    std::mutex mutex_;
    unsigned long delay_ms_ = 0;
    unsigned long delays_left_ = 0;
    std::deque<std::pair<std::string, int>> settings_replies_;
};

}  // namespace vorn_agent
