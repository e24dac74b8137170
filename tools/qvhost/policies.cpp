// The host's policy subscriber and the policy client's round.
#include "tools/qvhost/policies.h"

#include <chrono>

#include "interfaces/interface_ids.h"
#include "tools/qvhost/console.h"
#include "tools/qvhost/scripted.h"

namespace qvhost {

namespace {

// What this host reports as the result of every run: it enforces nothing, it only shows the round trip.
constexpr wchar_t kRunResult[] = L"{\"result\":\"applied\",\"host\":\"qvhost\"}";

// Reports each policy's run from this thread: started, then ended with the host's result.
void ReportRuns(Endpoint::Vorn::IClient& client, const std::vector<ReceivedPolicy>& policies) {
    for (const ReceivedPolicy& policy : policies) {
        const qv::WString name(policy.id.c_str());
        client.SendPolicyStarted(name);
        client.SendPolicyRun(name, qv::WString(kRunResult));
        Say(L"   reported %ls: SendPolicyStarted, SendPolicyRun %ls\n", policy.id.c_str(), kRunResult);
    }
}

}  // namespace

std::wstring OneLine(const std::wstring& json) {
    std::wstring line;
    bool in_text = false;
    bool escaped = false;
    for (wchar_t c : json) {
        if (in_text) {
            line += c;
            escaped = !escaped && c == L'\\';
            in_text = escaped || c != L'"';
            continue;
        }
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            continue;
        }
        in_text = c == L'"';
        line += c;
    }
    return line;
}

void PrintingSubscriber::OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) {
    ReceivedPolicy received{policy->GetId().c_str(), policy->GetContent().c_str()};
    Say(L"   received policy %ls: %ls\n", received.id.c_str(), OneLine(received.content).c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    policies_.push_back(std::move(received));
    changed_.notify_all();
}

void PrintingSubscriber::OnRemovePolicy(const qv::WString& id) {
    Say(L"   removed policy %ls\n", id.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    ++removals_;
    changed_.notify_all();
}

bool PrintingSubscriber::WaitForCount(size_t count, unsigned long timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return policies_.size() + removals_ >= count; });
}

std::vector<ReceivedPolicy> PrintingSubscriber::Policies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return policies_;
}

int RunPolicyRound(const Plugin& plugin, const PolicyRound& round) {
    Object<Endpoint::Vorn::IClient> client(plugin, L"Vorn.Client", Endpoint::Vorn::IID_IClient);
    if (!client) {
        Say(L"   Vorn.Client is not available (result %lu)\n", client.CreateResult());
        return -1;
    }
    PrintingSubscriber subscriber;
    client->Init();
    client->AddPolicyHandle(&subscriber);
    const unsigned long started = client->Start(round.client_number);
    Say(L"   Init, AddPolicyHandle, Start(%d) -> %lu\n", round.client_number, started);
    int reported = -1;
    if (started == 0) {
        if (!round.deliver.empty()) {
            DeliverThroughStandIn(round.deliver);
        }
        if (round.expected == 0) {
            Say(L"   waiting %lu s for policies\n", round.wait_ms / 1000);
            Sleep(round.wait_ms);
        } else if (!subscriber.WaitForCount(round.expected, round.wait_ms)) {
            Say(L"   fewer than the %zu policies and removals of the agent's folder arrived within %lu s\n",
                round.expected, round.wait_ms / 1000);
        }
        const std::vector<ReceivedPolicy> policies = subscriber.Policies();
        ReportRuns(*client, policies);
        reported = static_cast<int>(policies.size());
    }
    client->Stop();
    client->RemovePolicyHandle(&subscriber);
    client->Uninit();
    Say(L"   Stop, RemovePolicyHandle, Uninit\n");
    return reported;
}

}  // namespace qvhost
