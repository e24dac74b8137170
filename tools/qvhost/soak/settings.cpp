// The soak's settings managers and their checks.
#include "tools/qvhost/soak/settings.h"

#include <memory>

#include "equipment/text.h"
#include "interfaces/interface_ids.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/agent/agent_clock.h"
#include "tools/qvhost/soak/record_match.h"

namespace qvhost {

namespace {

using Endpoint::Vorn::Settings::IData;
using Endpoint::Vorn::Settings::IManager;
using Endpoint::Vorn::Settings::Record;

constexpr unsigned long kMinRounds = 3;
constexpr unsigned long kMaxRounds = 12;
constexpr unsigned long kMaxPauseMs = 30;

long long Now() { return vorn_agent::NowMicroseconds(); }

}  // namespace

SettingsWorker::SettingsWorker(SoakContext& context, int index, unsigned long long seed)
    : context_(context), slot_(context.monitor.NewSlot()), dice_(seed), member_("t" + std::to_string(index)) {}

void SettingsWorker::Run() {
    while (!context_.stopping) {
        Cycle();
    }
}

void SettingsWorker::Cycle() {
    auto manager = Timed(context_, slot_, Target::kSettings, Call::kCreate, [&] {
        return std::make_unique<Object<IManager>>(context_.plugin, L"Vorn.Settings",
                                                  Endpoint::Vorn::IID_ISettingsManager);
    });
    if (!*manager) {
        context_.findings.Lost("QvCreateObject(\"Vorn.Settings\") returned %lu", manager->CreateResult());
        return;
    }
    const unsigned long initialised =
        Timed(context_, slot_, Target::kSettings, Call::kInit, [&] { return (*manager)->Init(); });
    if (initialised != 0) {
        context_.findings.Lost("settings manager: Init returned %lu", initialised);
    }
    for (unsigned long round = dice_.Pick(kMinRounds, kMaxRounds); round > 0 && !context_.stopping; --round) {
        if (dice_.Pick(0, 2) == 0) {
            Update(**manager);
        } else {
            Read(**manager);
        }
        Sleep(dice_.Pick(0, kMaxPauseMs));
    }
    Timed(context_, slot_, Target::kSettings, Call::kUninit, [&] { (*manager)->Uninit(); });
    Timed(context_, slot_, Target::kSettings, Call::kDestroy, [&] { manager->Reset(); });
    ++context_.counts.settings_cycles;
}

void SettingsWorker::Read(IManager& manager) {
    Record record;
    const long long from = Now();
    const unsigned long result =
        Timed(context_, slot_, Target::kSettings, Call::kRead, [&] { return manager.Read(record); });
    const long long to = Now();
    if (result != 0) {
        return;
    }
    ++context_.counts.reads_checked;
    if (!context_.ledger.HeldDuring(from, to,
                                    [&](const Json::Value& document) { return RecordMatches(record, document); })) {
        context_.findings.Lost(
            "Read returned 0 with a record (custid \"%s\", customdata %s) that matches no "
            "document the agent held during the call",
            equipment::ToUtf8(record.id.custid.c_str()).c_str(),
            equipment::ToUtf8(record.id.customdata.c_str()).c_str());
    }
}

void SettingsWorker::Update(IManager& manager) {
    const long long n = ++next_;
    IData* data = Timed(context_, slot_, Target::kData, Call::kCreateData, [&] { return manager.CreateData(); });
    const std::wstring change = L"{\"" + equipment::FromUtf8(member_) + L"\": {\"n\": " + std::to_wstring(n) + L"}}";
    const unsigned long set = Timed(context_, slot_, Target::kData, Call::kSetCustomData,
                                    [&] { return data->SetCustomData(qv::WString(change.c_str())); });
    if (set != 0) {
        context_.findings.Lost("SetCustomData returned %lu for %ls", set, change.c_str());
    }
    const unsigned long result =
        Timed(context_, slot_, Target::kSettings, Call::kUpdate, [&] { return manager.Update(data); });
    Timed(context_, slot_, Target::kData, Call::kDestroyData, [&] { manager.DestroyData(data); });
    if (result != 0) {
        ++context_.counts.updates_refused;
        context_.ledger.ForbidValue(member_, n);
        return;
    }
    ++context_.counts.updates_applied;
    last_applied_ = n;
    const Json::Value held = At(context_.ledger.Latest(), {"id", "customdata", member_.c_str(), "n"});
    if (!held.isInt64() || held.asInt64() != n) {
        context_.findings.Lost("Update returned 0 for customdata/%s/n = %lld, but the agent's document holds %s",
                               member_.c_str(), n, held.toStyledString().c_str());
    }
}

}  // namespace qvhost
