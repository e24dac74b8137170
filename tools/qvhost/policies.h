// "Vorn.Client" as the host drives it: a subscriber that prints and keeps what the agent hands over, and the
// round of start, receive, report the runs, stop.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/client.h"
#include "tools/qvhost/plugin.h"

namespace qvhost {

struct ReceivedPolicy {
    std::wstring id;
    std::wstring content;
};

// Called on the agent library's threads: it prints at once and keeps copies, since a policy is valid only during
// the call. The runs are reported later from the host's own thread, as the client's send operations want.
class PrintingSubscriber final : public Endpoint::Vorn::IPolicyHandle {
public:
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override;
    void OnRemovePolicy(const qv::WString& id) override;
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}

    // Waits until policies and removals together number at least count, or timeout_ms passed.
    bool WaitForCount(size_t count, unsigned long timeout_ms);
    std::vector<ReceivedPolicy> Policies();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedPolicy> policies_;
    size_t removals_ = 0;
};

struct PolicyRound {
    int client_number = 1;
    size_t expected = 0;  // policies and removals to wait for; 0: wait the whole time
    unsigned long wait_ms = 3000;
    std::wstring deliver;  // a policy for the stand-in vornint.dll to hand over, or empty
};

// Init, AddPolicyHandle, Start; wait for what the agent hands over; report each policy's run; Stop,
// RemovePolicyHandle, Uninit. Returns how many policies arrived and were reported, or -1 when the client did not
// start.
int RunPolicyRound(const Plugin& plugin, const PolicyRound& round);

// The styled JSON text on one line, without the whitespace between tokens.
std::wstring OneLine(const std::wstring& json);

}  // namespace qvhost
