// The soak's policy clients and their checks.
#include "tools/qvhost/soak/policies.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "equipment/text.h"
#include "interfaces/client.h"
#include "interfaces/event_descriptor.h"
#include "interfaces/interface_ids.h"
#include "stand_ins/agent/agent_clock.h"

namespace qvhost {

namespace {

using Endpoint::Vorn::IClient;
using Endpoint::Vorn::IPolicy;
using Endpoint::Vorn::IPolicyHandle;

constexpr unsigned long kMinLifeMs = 600;
constexpr unsigned long kMaxLifeMs = 4000;
constexpr size_t kMaxTransients = 3;
constexpr size_t kReportsPerTurn = 2;
constexpr DWORD kCatchUpMs = 5000;
constexpr DWORD kCatchUpPollMs = 20;
constexpr DWORD kDisconnectMs = 5000;
// The anchor holds each walk this long, as a subscriber doing real work would, so that the host's removals land
// inside walks and a removal that does not wait for the walk shows.
constexpr DWORD kWalkDwellMs = 3;
// Between the agent reading a link's hello and the link counting itself connected; a report begun sooner may
// find the link not yet up.
constexpr long long kLinkSettleUs = 500000;
// The descriptions the plug-in gives its two policy events, and the soak's own event's.
const char kStartedDescription[] = "Policy run started";
const char kRunDescription[] = "Policy run stopped/succeeded";
const char kEventDescription[] = "soak event";

long long Now() { return vorn_agent::NowMicroseconds(); }

struct Receipt {
    bool removal = false;
    std::string id;
    long long us = 0;  // when the walk reached the anchor
};

class Anchor;

// The walk the calling thread is in, as its anchor saw it.
struct Walk {
    const Anchor* anchor = nullptr;
    size_t index = 0;
};
thread_local Walk current_walk;

class Anchor final : public IPolicyHandle {
public:
    void OnRunPolicy(const IPolicy* policy) override {
        const long long us = Now();
        // As a host does: it takes its copies during the call.
        const qv::WString content = policy->GetContent();
        Take(false, equipment::ToUtf8(policy->GetId().c_str()), us);
    }
    void OnRemovePolicy(const qv::WString& id) override { Take(true, equipment::ToUtf8(id.c_str()), Now()); }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return receipts_.size();
    }
    std::vector<Receipt> Since(size_t first, size_t most) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Receipt> since;
        for (size_t n = first; n < receipts_.size() && since.size() < most; ++n) {
            since.push_back(receipts_[n]);
        }
        return since;
    }
    std::vector<Receipt> All() {
        std::lock_guard<std::mutex> lock(mutex_);
        return receipts_;
    }

private:
    void Take(bool removal, std::string id, long long us) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            current_walk = Walk{this, receipts_.size()};
            receipts_.push_back(Receipt{removal, std::move(id), us});
        }
        Sleep(kWalkDwellMs);
    }

    std::mutex mutex_;
    std::vector<Receipt> receipts_;
};

// One call of a transient subscriber: the walk it came in (as the anchor numbered it), the policy, and when.
struct TransientCall {
    size_t walk = 0;
    std::string id;
    long long us = 0;
};

class Transient final : public IPolicyHandle {
public:
    explicit Transient(const Anchor& anchor) : anchor_(anchor) {}
    void OnRunPolicy(const IPolicy* policy) override { Take(equipment::ToUtf8(policy->GetId().c_str()), Now()); }
    void OnRemovePolicy(const qv::WString& id) override { Take(equipment::ToUtf8(id.c_str()), Now()); }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}

    std::vector<TransientCall> Got() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }
    unsigned long Strays() {
        std::lock_guard<std::mutex> lock(mutex_);
        return strays_;
    }

    long long add_call = 0;
    long long add_return = 0;
    long long remove_call = 0;
    long long remove_return = 0;

private:
    void Take(std::string id, long long us) {
        const Walk walk = current_walk;
        std::lock_guard<std::mutex> lock(mutex_);
        if (walk.anchor != &anchor_) {
            ++strays_;
        } else {
            got_.push_back(TransientCall{walk.index, std::move(id), us});
        }
    }

    const Anchor& anchor_;
    std::mutex mutex_;
    std::vector<TransientCall> got_;
    unsigned long strays_ = 0;
};

struct Report {
    std::string key;  // EventKey of the event the agent should record
    long long from_us = 0;
    long long to_us = 0;
    bool waits = true;  // the plug-in's send waits for the agent
    bool sent = true;   // the plug-in sends it at all
};

class ClientLife {
public:
    ClientLife(SoakContext& context, CallSlot& slot, Dice& dice)
        : context_(context), slot_(slot), dice_(dice), number_(context.next_client++) {}

    void Live();

private:
    template <typename Body>
    auto Do(Call call, Body&& body) {
        return Timed(context_, slot_, Target::kClient, call, std::forward<Body>(body));
    }
    void Expect(const char* what, unsigned long result) {
        if (result != 0) {
            context_.findings.Lost("client %d: %s returned %lu", number_, what, result);
        }
    }
    void AddTransient(IClient& client);
    void RemoveTransient(IClient& client, size_t which);
    void ReportRuns(IClient& client);
    void SendEvent(IClient& client);
    long long CatchUp();
    bool Valid(const AgentDelivery& delivery) const;
    void CheckTransients(const std::vector<Receipt>& receipts);
    void CheckAnchor(const std::vector<Receipt>& receipts, const ClientAccount& account, long long caught_up_us);
    void CheckReports(ClientAccount& account);

    SoakContext& context_;
    CallSlot& slot_;
    Dice& dice_;
    const int number_;
    Anchor anchor_;
    std::vector<std::unique_ptr<Transient>> transients_;
    std::vector<Transient*> alive_;
    std::vector<Report> reports_;
    size_t reported_ = 0;
    int serial_ = 0;
};

void ClientLife::AddTransient(IClient& client) {
    transients_.push_back(std::make_unique<Transient>(anchor_));
    Transient& transient = *transients_.back();
    Expect("AddPolicyHandle", Do(Call::kAddPolicyHandle, [&] {
               transient.add_call = Now();
               const unsigned long result = client.AddPolicyHandle(&transient);
               transient.add_return = Now();
               return result;
           }));
    alive_.push_back(&transient);
}

void ClientLife::RemoveTransient(IClient& client, size_t which) {
    Transient& transient = *alive_[which];
    Expect("RemovePolicyHandle", Do(Call::kRemovePolicyHandle, [&] {
               transient.remove_call = Now();
               const unsigned long result = client.RemovePolicyHandle(&transient);
               transient.remove_return = Now();
               return result;
           }));
    alive_.erase(alive_.begin() + static_cast<std::ptrdiff_t>(which));
}

void ClientLife::ReportRuns(IClient& client) {
    for (const Receipt& receipt : anchor_.Since(reported_, kReportsPerTurn)) {
        ++reported_;
        if (receipt.removal) {
            continue;
        }
        const std::string name = "soak/" + std::to_string(number_) + "/" + std::to_string(++serial_) + "/" + receipt.id;
        const qv::WString wide_name(equipment::FromUtf8(name).c_str());
        Report started{EventKey(name, kStartedDescription), Now()};
        Do(Call::kSendPolicyStarted, [&] { client.SendPolicyStarted(wide_name); });
        started.to_us = Now();
        reports_.push_back(started);
        // Now and then a run result that is not JSON: it is reported all the same.
        const std::wstring result = dice_.Pick(0, 5) == 0
                                        ? L"applied, not JSON"
                                        : L"{\"result\": \"applied\", \"serial\": " + std::to_wstring(serial_) + L"}";
        Report run{EventKey(name, kRunDescription), Now()};
        Do(Call::kSendPolicyRun, [&] { client.SendPolicyRun(wide_name, qv::WString(result.c_str())); });
        run.to_us = Now();
        reports_.push_back(run);
    }
}

void ClientLife::SendEvent(IClient& client) {
    const std::string name = "soak/" + std::to_string(number_) + "/event/" + std::to_string(++serial_);
    // Now and then content that is not JSON: the plug-in drops that event.
    const bool valid = dice_.Pick(0, 4) != 0;
    const std::wstring content = valid ? L"{\"serial\": " + std::to_wstring(serial_) + L"}" : L"{broken";
    Endpoint::Vorn::EventDescriptor event{7,
                                          3,
                                          1,
                                          qv::WString(equipment::FromUtf8(name).c_str()),
                                          qv::WString(equipment::FromUtf8(kEventDescription).c_str()),
                                          qv::WString(content.c_str()),
                                          dice_.Pick(0, 1) == 0};
    Report report{EventKey(name, kEventDescription), Now(), 0, !event.async, valid};
    Do(Call::kSendEvent, [&] { client.SendEvent(event); });
    report.to_us = Now();
    reports_.push_back(report);
}

bool ClientLife::Valid(const AgentDelivery& delivery) const {
    if (delivery.source.compare(0, 5, "step ") != 0) {
        return true;  // the soak's own policies and removals in the agent's folder
    }
    const auto planned = context_.schedule.policy_valid.find(std::atoi(delivery.source.c_str() + 5));
    return planned == context_.schedule.policy_valid.end() || planned->second;  // a burst's are valid
}

// Waits until the anchor has what the agent says it delivered so far; returns the time up to which that holds.
long long ClientLife::CatchUp() {
    const long long began = Now();
    const ULONGLONG until = GetTickCount64() + kCatchUpMs;
    for (;;) {
        const long long looked = Now();
        const size_t delivered =
            context_.ledger.CountDeliveries(number_, [this](const AgentDelivery& delivery) { return Valid(delivery); });
        if (anchor_.Count() >= delivered) {
            return looked;
        }
        if (GetTickCount64() >= until) {
            return began;
        }
        Sleep(kCatchUpPollMs);
    }
}

void ClientLife::Live() {
    auto client = Do(Call::kCreate, [&] {
        return std::make_unique<Object<IClient>>(context_.plugin, L"Vorn.Client", Endpoint::Vorn::IID_IClient);
    });
    if (!*client) {
        context_.findings.Lost("QvCreateObject(\"Vorn.Client\") returned %lu", client->CreateResult());
        return;
    }
    Expect("Init", Do(Call::kInit, [&] { return (*client)->Init(); }));
    Expect("AddPolicyHandle", Do(Call::kAddPolicyHandle, [&] { return (*client)->AddPolicyHandle(&anchor_); }));
    const int number = number_;
    Expect("Start", Do(Call::kStart, [&] { return (*client)->Start(number); }));
    const ULONGLONG end = GetTickCount64() + dice_.Pick(kMinLifeMs, kMaxLifeMs);
    while (!context_.stopping && GetTickCount64() < end) {
        switch (dice_.Pick(0, 9)) {
            case 0:
            case 1:
                if (alive_.size() < kMaxTransients) {
                    AddTransient(**client);
                }
                break;
            case 2:
            case 3:
                if (!alive_.empty()) {
                    RemoveTransient(**client, dice_.Pick(0, static_cast<unsigned long>(alive_.size() - 1)));
                }
                break;
            case 4:
            case 5:
            case 6:
                ReportRuns(**client);
                break;
            case 7:
                SendEvent(**client);
                break;
            default:
                Sleep(dice_.Pick(1, 20));
                break;
        }
    }
    const long long caught_up_us = CatchUp();
    while (!alive_.empty()) {
        RemoveTransient(**client, alive_.size() - 1);
    }
    Do(Call::kStop, [&] { (*client)->Stop(); });
    Expect("RemovePolicyHandle",
           Do(Call::kRemovePolicyHandle, [&] { return (*client)->RemovePolicyHandle(&anchor_); }));
    Do(Call::kUninit, [&] { (*client)->Uninit(); });
    Do(Call::kDestroy, [&] { client->Reset(); });

    const std::vector<Receipt> receipts = anchor_.All();
    CheckTransients(receipts);
    if (!context_.ledger.WaitDisconnected(number_, kDisconnectMs)) {
        context_.findings.Stuck("client %d: the agent still has a connection of it open %lu ms after Stop", number_,
                                kDisconnectMs);
    }
    ClientAccount account = context_.ledger.Take(number_);
    CheckAnchor(receipts, account, caught_up_us);
    CheckReports(account);
    context_.counts.anchor_policies += receipts.size();
    context_.counts.reports += reports_.size();
    ++context_.counts.client_cycles;
}

void ClientLife::CheckTransients(const std::vector<Receipt>& receipts) {
    Findings& findings = context_.findings;
    for (const auto& transient : transients_) {
        if (transient->Strays() != 0) {
            findings.LostMany(transient->Strays(),
                              "client %d: a subscriber was called %lu time(s) in a walk that did not begin with the "
                              "first subscriber",
                              number_, transient->Strays());
        }
        const std::vector<TransientCall> got = transient->Got();
        std::set<size_t> walks;
        for (size_t n = 0; n < got.size(); ++n) {
            const TransientCall& call = got[n];
            if (n > 0 && call.walk <= got[n - 1].walk) {
                findings.Lost("client %d: a subscriber received policy %s twice or out of order", number_,
                              call.id.c_str());
            } else if (call.walk >= receipts.size() || receipts[call.walk].id != call.id) {
                findings.Lost("client %d: a subscriber received %s where the first subscriber received %s", number_,
                              call.id.c_str(),
                              call.walk < receipts.size() ? receipts[call.walk].id.c_str() : "nothing");
            } else if (receipts[call.walk].us < transient->add_call) {
                findings.Lost("client %d: a subscriber received %s in a walk that began before it was added", number_,
                              call.id.c_str());
            }
            // The host may free a subscriber once RemovePolicyHandle has returned.
            if (call.us > transient->remove_return) {
                findings.Lost(
                    "client %d: a subscriber was called with %s %lld us after its RemovePolicyHandle returned", number_,
                    call.id.c_str(), call.us - transient->remove_return);
            }
            walks.insert(call.walk);
        }
        for (size_t walk = 0; walk < receipts.size(); ++walk) {
            const long long us = receipts[walk].us;
            if (walks.count(walk) == 0 && transient->add_return < us && us < transient->remove_call) {
                findings.Lost("client %d: a subscriber registered for the whole delivery missed %s", number_,
                              receipts[walk].id.c_str());
            }
        }
        context_.counts.transient_policies += got.size();
    }
}

void ClientLife::CheckAnchor(const std::vector<Receipt>& receipts, const ClientAccount& account,
                             long long caught_up_us) {
    std::vector<const AgentDelivery*> expected;
    size_t required = 0;
    for (const AgentDelivery& delivery : account.deliveries) {
        if (Valid(delivery)) {
            expected.push_back(&delivery);
            required += delivery.us < caught_up_us ? 1 : 0;
        }
    }
    size_t matched = 0;
    while (matched < receipts.size() && matched < expected.size() &&
           receipts[matched].removal == expected[matched]->removal &&
           receipts[matched].id == expected[matched]->polid) {
        ++matched;
    }
    if (matched < receipts.size()) {
        context_.findings.LostMany(
            static_cast<unsigned long>(receipts.size() - matched),
            "client %d: policy %u that its subscribers received, %s, is not the agent's %s: out of order, doubled "
            "or never delivered",
            number_, static_cast<unsigned>(matched), receipts[matched].id.c_str(),
            matched < expected.size() ? expected[matched]->polid.c_str() : "(none)");
    } else if (matched < required) {
        context_.findings.LostMany(static_cast<unsigned long>(required - matched),
                                   "client %d: its subscribers missed %u of the %u policies the agent delivered, "
                                   "from %s (%s) on",
                                   number_, static_cast<unsigned>(required - matched), static_cast<unsigned>(required),
                                   expected[matched]->polid.c_str(), expected[matched]->source.c_str());
    }
}

void ClientLife::CheckReports(ClientAccount& account) {
    for (const Report& report : reports_) {
        const auto found = account.events.find(report.key);
        const int recorded = found == account.events.end() ? 0 : found->second;
        if (found != account.events.end()) {
            account.events.erase(found);
        }
        bool link_up = false;
        for (const AgentConnection& connection : account.connections) {
            link_up = link_up || (connection.opened_us + kLinkSettleUs <= report.from_us &&
                                  (connection.closed_us < 0 ||
                                   report.to_us + (report.waits ? 0 : kLinkSettleUs) <= connection.closed_us));
        }
        const std::string shown = report.key.substr(0, report.key.find('\x1f'));
        if (!report.sent && recorded != 0) {
            context_.findings.Lost("client %d: the agent recorded %s, whose content the plug-in must refuse", number_,
                                   shown.c_str());
        } else if (recorded > 1) {
            context_.findings.LostMany(static_cast<unsigned long>(recorded - 1),
                                       "client %d: the agent recorded %s %d times", number_, shown.c_str(), recorded);
        } else if (report.sent && link_up && recorded == 0) {
            context_.findings.Lost("client %d: %s, reported while the link was up, is not in the agent's events",
                                   number_, shown.c_str());
        }
    }
    for (const auto& stray : account.events) {
        context_.findings.LostMany(static_cast<unsigned long>(stray.second),
                                   "client %d: the agent recorded %s, which the host never reported", number_,
                                   stray.first.substr(0, stray.first.find('\x1f')).c_str());
    }
}

}  // namespace

PolicyWorker::PolicyWorker(SoakContext& context, unsigned long long seed)
    : context_(context), slot_(context.monitor.NewSlot()), dice_(seed) {}

void PolicyWorker::Cycle() { ClientLife(context_, slot_, dice_).Live(); }

void PolicyWorker::Run() {
    while (!context_.stopping) {
        Cycle();
    }
}

}  // namespace qvhost
