// The soak: its state folder, its warm-up, its run and its account.
#include "tools/qvhost/soak/soak.h"

#include <windows.h>

#include <json/json.h>

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "equipment/files.h"
#include "equipment/folders.h"
#include "equipment/processes.h"
#include "equipment/resources.h"
#include "stand_ins/agent/agent_clock.h"
#include "stand_ins/vorn/vorn_control.h"
#include "tools/qvhost/agent_host.h"
#include "tools/qvhost/console.h"
#include "tools/qvhost/scripted.h"
#include "tools/qvhost/soak/churn.h"
#include "tools/qvhost/soak/policies.h"
#include "tools/qvhost/soak/settings.h"

namespace qvhost {

namespace {

constexpr int kPolicyThreads = 3;
constexpr int kSettingsThreads = 2;
constexpr unsigned long kWarmUpSeconds = 3;
// The settings threads' customdata members: the warm-up's apart from the soak's, whose values are checked.
constexpr int kWarmUpMembers = 100;
constexpr int kSoakMembers = 1;
constexpr DWORD kWatchMs = 100;
constexpr ULONGLONG kRefreshMs = 1000;
constexpr ULONGLONG kProgressMs = 10000;
// After the end, the host threads finish what they are in: at worst an Update that waits for a server that was
// down, then for its reply.
constexpr ULONGLONG kFinishMs = 60000;
// What the process may keep after every object has gone: what the system, the runtime and the stand-ins cache;
// and, for each library client that Stop and Uninit let go of without destroying it (as they are specified to),
// that client's small remains.
constexpr long kHandleMargin = 32;
constexpr long long kMemoryMargin = 4LL << 20;
constexpr long long kLetGoClientBytes = 512;

const char kSettings[] = R"({
    "conn": {
        "srvaddrlist": ["soak1.vorn.example", "soak2.vorn.example"],
        "srvaddr": "soak1.vorn.example",
        "storeevs": true,
        "timesec": 300,
        "proxy": {"server": "proxy.soak.example", "port": 3128, "username": "soak", "password": "soak"}
    },
    "id": {"appid": 7, "custid": "CUST-SOAK", "userid": "USER-SOAK", "groupid": "GROUP-SOAK", "token": "t",
           "customdata": {"soak": true}}
})";

struct FolderFile {
    const wchar_t* name;
    const char* text;
};

// The agent's folder: two policies and a removal, handed to every client as it connects, and the settings.
const FolderFile kFolderFiles[] = {
    {L"policies\\01-soak.json", R"({"polid": "soak-folder-1", "content": {"files": [{"rule": 1}]}})"},
    {L"policies\\02-soak.json", R"({"polid": "soak-folder-2", "content": {"files": []}})"},
    {L"removals\\01-soak.json", R"({"polid": "soak-removed", "content": {"files": [{"rule": 0}]}})"},
    {L"settings.json", kSettings},
};

std::wstring MakeFolder() {
    const std::wstring made_folder = equipment::NewTempFolder(L"vorn-soak-");
    const std::wstring folder = made_folder.substr(0, made_folder.size() - 1);
    bool made = equipment::FileExists(folder) && CreateDirectoryW((folder + L"\\policies").c_str(), nullptr) &&
                CreateDirectoryW((folder + L"\\removals").c_str(), nullptr);
    for (const FolderFile& file : kFolderFiles) {
        made = made && equipment::WriteFileText(folder + L"\\" + file.name, file.text);
    }
    return made ? folder : std::wstring();
}

// Every check reads the agent's journal: lines it could not write would pass for things that never happened.
void CheckJournalWhole(Findings& findings) {
    using CountsFn = void (*)(VornControlCounts*);
    const auto get_counts = equipment::ExportOf<CountsFn>(L"vorn.dll", "VornControlGetCounts");
    VornControlCounts counts{};
    if (get_counts == nullptr) {
        findings.Lost("the loaded vorn.dll is not the simulated agent's: its journal cannot be vouched for");
        return;
    }
    get_counts(&counts);
    if (counts.journal_failures != 0) {
        findings.Lost("the agent could not write %lu line(s) of its journal.jsonl: its account is incomplete",
                      counts.journal_failures);
    }
}

std::string MiB(long long bytes) {
    char text[32];
    snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

std::string Signed(long long bytes) { return (bytes >= 0 ? "+" : "") + MiB(bytes); }

// One host thread of the soak, which says when it is done.
class HostThread {
public:
    template <typename Body>
    explicit HostThread(Body body)
        : thread_([this, body]() mutable {
              body();
              done_ = true;
          }) {}
    ~HostThread() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool Done() const { return done_; }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class Soak {
public:
    Soak(const Plugin& plugin, const SoakOptions& options, const std::wstring& folder, unsigned long long seed)
        : plugin_(plugin),
          options_(options),
          folder_(folder),
          seed_(seed),
          pipe_(L"\\\\.\\pipe\\vorn-soak-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64())),
          schedule_(MakeSchedule(seed, options.seconds)),
          ledger_(folder, findings_),
          monitor_(findings_, [this](long long from, long long to) { return ledger_.ServerWaitMs(from, to); }),
          context_(plugin, monitor_, ledger_, findings_, schedule_) {}

    int Run();

private:
    bool WarmUp();
    void Drive(unsigned long seconds, int first_member);
    bool WaitForHostThreads(const std::vector<std::unique_ptr<HostThread>>& threads);
    void CheckSettingsAtEnd();
    bool CheckResources(const equipment::ProcessResources& before, const equipment::ProcessResources& after,
                        unsigned long long let_go_clients);
    void Progress(ULONGLONG started);
    int Finish(bool hung);

    const Plugin& plugin_;
    const SoakOptions options_;
    const std::wstring folder_;
    const unsigned long long seed_;
    const std::wstring pipe_;
    const SoakSchedule schedule_;
    Findings findings_;
    Ledger ledger_;
    CallMonitor monitor_;
    SoakContext context_;
    std::vector<std::unique_ptr<SettingsWorker>> settings_workers_;
    Ledger::Totals totals_;
    std::string resources_line_;
};

// The whole soak for a moment on a well agent, so that what the process keeps for good once it has had that much
// going at once (the runtime's and the system's caches, the stand-ins' and the plug-in's statics) is there before
// the soak measures where it starts.
bool Soak::WarmUp() {
    AgentLoader agent(plugin_, false);
    if (!agent.Run(pipe_)) {
        return false;
    }
    Drive(kWarmUpSeconds, kWarmUpMembers);
    CallSlot& slot = monitor_.NewSlot();
    Timed(context_, slot, Target::kLoader, Call::kStop, [&] { agent.Halt(); });
    ledger_.ForgetAll();
    context_.counts.Clear();
    return true;
}

void Soak::Progress(ULONGLONG started) {
    const Ledger::Totals totals = ledger_.Sum();
    Say(L"soak: %llu s: %lu faults, %llu policies delivered, %llu events recorded, %llu updates applied, "
        L"%lu lost, %lu stuck\n",
        (GetTickCount64() - started) / 1000, totals.fault_count, totals.delivered, totals.events,
        context_.counts.updates_applied.load(), findings_.LostCount(), findings_.StuckCount());
}

bool Soak::WaitForHostThreads(const std::vector<std::unique_ptr<HostThread>>& threads) {
    const ULONGLONG until = GetTickCount64() + kFinishMs;
    for (;;) {
        monitor_.Watch();
        size_t done = 0;
        for (const auto& thread : threads) {
            done += thread->Done() ? 1 : 0;
        }
        if (done == threads.size()) {
            return true;
        }
        if (GetTickCount64() >= until) {
            findings_.Stuck("%u host thread(s) still inside the plug-in %llu s after the soak's end",
                            static_cast<unsigned>(threads.size() - done), kFinishMs / 1000);
            return false;
        }
        Sleep(kWatchMs);
    }
}

void Soak::CheckSettingsAtEnd() {
    const Json::Value latest = ledger_.Latest();
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const std::string text = equipment::ReadFileText(folder_ + L"\\settings.json");
    Json::Value file;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &file, &errors) || file != latest) {
        findings_.Lost("the agent's settings.json is not the last settings document it journaled");
    }
    for (const auto& worker : settings_workers_) {
        const Json::Value held = At(latest, {"id", "customdata", worker->Member().c_str(), "n"});
        if (worker->LastApplied() >= 0 && (!held.isInt64() || held.asInt64() != worker->LastApplied())) {
            findings_.Lost("the agent's settings end with customdata/%s/n = %s, not %lld from the last Update",
                           worker->Member().c_str(), held.toStyledString().c_str(), worker->LastApplied());
        }
    }
}

bool Soak::CheckResources(const equipment::ProcessResources& before, const equipment::ProcessResources& after,
                          unsigned long long let_go_clients) {
    const long handles = static_cast<long>(after.handles) - static_cast<long>(before.handles);
    const long long in_use = static_cast<long long>(after.InUse()) - static_cast<long long>(before.InUse());
    const long long margin = kMemoryMargin + kLetGoClientBytes * static_cast<long long>(let_go_clients);
    char line[512];
    snprintf(line, sizeof(line),
             "resources: handles %lu -> %lu (%+ld, margin %ld); private memory %s -> %s, of which in use %s -> %s "
             "(%s, margin %s with %llu library clients let go)",
             before.handles, after.handles, handles, kHandleMargin, MiB(before.private_bytes).c_str(),
             MiB(after.private_bytes).c_str(), MiB(before.InUse()).c_str(), MiB(after.InUse()).c_str(),
             Signed(in_use).c_str(), MiB(margin).c_str(), let_go_clients);
    resources_line_ = line;
    if (handles > kHandleMargin || in_use > margin) {
        findings_.Lost("the process did not give back what the soak's objects held: %s", line);
        return false;
    }
    return true;
}

void Soak::Drive(unsigned long seconds, int first_member) {
    context_.stopping = false;
    settings_workers_.clear();
    std::vector<std::unique_ptr<PolicyWorker>> policy_workers;
    std::vector<std::unique_ptr<HostThread>> threads;
    for (int n = 0; n < kPolicyThreads; ++n) {
        policy_workers.push_back(std::make_unique<PolicyWorker>(context_, seed_ + 100 + n));
    }
    for (int n = 0; n < kSettingsThreads; ++n) {
        settings_workers_.push_back(std::make_unique<SettingsWorker>(context_, first_member + n, seed_ + 200 + n));
    }
    ChurnWorker churn(context_, seed_ + 300);
    for (const auto& worker : policy_workers) {
        threads.push_back(std::make_unique<HostThread>([&worker] { worker->Run(); }));
    }
    for (const auto& worker : settings_workers_) {
        threads.push_back(std::make_unique<HostThread>([&worker] { worker->Run(); }));
    }
    threads.push_back(std::make_unique<HostThread>([&churn] { churn.Run(); }));

    const ULONGLONG started = GetTickCount64();
    const ULONGLONG end = started + seconds * 1000ull;
    ULONGLONG refreshed = started;
    ULONGLONG reported = started;
    while (GetTickCount64() < end) {
        Sleep(kWatchMs);
        monitor_.Watch();
        const ULONGLONG now = GetTickCount64();
        if (now - refreshed >= kRefreshMs) {
            ledger_.Refresh();
            refreshed = now;
        }
        if (now - reported >= kProgressMs && now + kProgressMs / 2 < end) {
            Progress(started);
            reported = now;
        }
    }
    context_.stopping = true;
    if (!WaitForHostThreads(threads)) {
        // A thread stuck inside the plug-in may hold what an orderly exit needs; the account is out, so end here.
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(Finish(true)));
    }
    threads.clear();
}

int Soak::Run() {
    SetEnvironmentVariableW(L"VORN_AGENT_DIR", folder_.c_str());
    SetEnvironmentVariableW(L"VORN_AGENT_PIPE", pipe_.c_str());
    SetEnvironmentVariableW(L"VORN_AGENT_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"VORNINT_LOG", (folder_ + L"\\vornint.log").c_str());
    QuietStandIns();
    Say(L"soak: seed %llu, %lu s, %zu fault steps, agent folder %ls\n", seed_, options_.seconds, schedule_.steps,
        folder_.c_str());
    if (!WarmUp()) {
        Say(L"soak: the agent did not start\n");
        return 1;
    }
    const equipment::ProcessResources before = equipment::MeasureResources();
    if (!equipment::WriteFileText(folder_ + L"\\scenario.json", schedule_.scenario)) {
        Say(L"soak: cannot write the scenario into %ls\n", folder_.c_str());
        return 1;
    }
    {
        AgentLoader agent(plugin_, false);
        if (!agent.Run(pipe_)) {
            Say(L"soak: the agent did not start with the scenario\n");
            return 1;
        }
        Drive(options_.seconds, kSoakMembers);
        CallSlot& slot = monitor_.NewSlot();
        Timed(context_, slot, Target::kLoader, Call::kStop, [&] { agent.Halt(); });
        CheckJournalWhole(findings_);  // before "Vorn.AL" is given back, while vorn.dll is surely loaded
    }
    ledger_.Refresh();
    CheckSettingsAtEnd();
    totals_ = ledger_.Sum();
    // The soak's own memory of the agent's account goes first, so that the count is the plug-in's.
    ledger_.ForgetAll();
    CheckResources(before, equipment::MeasureResources(),
                   context_.counts.client_cycles.load() + context_.counts.settings_cycles.load());
    return Finish(false);
}

int Soak::Finish(bool hung) {
    if (hung) {
        totals_ = ledger_.Sum();
    }
    std::string faults;
    for (const auto& kind : totals_.faults) {
        faults += (faults.empty() ? "" : ", ") + kind.first + " " + std::to_string(kind.second);
    }
    const SoakCounts& counts = context_.counts;
    Say(L"\nfaults by kind: %hs\n", faults.empty() ? "none" : faults.c_str());
    Say(L"%hs", monitor_.Summary().c_str());
    Say(L"policy clients %llu, settings managers %llu; policies received by subscribers there throughout %llu, by "
        L"subscribers that came and went %llu; reports %llu; Reads checked %llu; Updates applied %llu, refused %llu\n",
        counts.client_cycles.load(), counts.settings_cycles.load(), counts.anchor_policies.load(),
        counts.transient_policies.load(), counts.reports.load(), counts.reads_checked.load(),
        counts.updates_applied.load(), counts.updates_refused.load());
    if (!resources_line_.empty()) {
        Say(L"%hs\n", resources_line_.c_str());
    }
    const bool passed = findings_.LostCount() == 0 && findings_.StuckCount() == 0;
    if (passed && !hung) {
        equipment::RemoveTree(folder_);
    } else {
        Say(L"the agent's folder is kept for a look: %ls (journal.jsonl, events.jsonl, agent.log, scenario.json)\n",
            folder_.c_str());
    }
    Say(L"soak: %lu faults, %llu policies delivered, %llu events recorded, %llu updates applied, %lu lost, %lu "
        L"stuck\n",
        totals_.fault_count, totals_.delivered, totals_.events, counts.updates_applied.load(), findings_.LostCount(),
        findings_.StuckCount());
    return passed ? 0 : 1;
}

}  // namespace

int RunSoak(const Plugin& plugin, const SoakOptions& options) {
    const std::wstring folder = MakeFolder();
    if (folder.empty()) {
        Say(L"soak: cannot make a state folder for the agent\n");
        return 1;
    }
    const unsigned long long seed =
        options.seed_given ? options.seed : (GetTickCount64() * 2654435761ull) ^ GetCurrentProcessId();
    return Soak(plugin, options, folder, seed).Run();
}

}  // namespace qvhost
