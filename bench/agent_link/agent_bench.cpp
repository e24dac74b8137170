// What a host engineer asks of the policy client and the settings manager against the simulated agent, through the
// real pipe of the stand-in vornint.dll in connected mode:
//   - the latency from the agent handing over a policy to the subscriber receiving it (median and 99th percentile);
//   - the round trips of Settings Read and Update;
//   - the memory held per subscriber and per object.
// The agent runs in this process on its own threads; the plug-in's objects are made from its core library, as the
// DLL makes them. The stand-in log.dll beside this program runs with recording off.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "agent_link/client_impl.h"
#include "bench/bench_timing.h"
#include "equipment/folders.h"
#include "equipment/resources.h"
#include "interfaces/settings_data.h"
#include "settings/settings_impl.h"
#include "stand_ins/agent/agent_server.h"
#include "stand_ins/log/log_stand_in.h"
#include "stand_ins/vornint/vornint_control.h"
#include "support/logging/log_handle.h"

namespace {

using Endpoint::Vorn::IPolicy;
using Endpoint::Vorn::IPolicyHandle;
using Endpoint::Vorn::NG::ClientImpl;
using Endpoint::Vorn::NG::SettingsImpl;

constexpr int kPolicies = 1000;
constexpr int kWarmUp = 50;
constexpr int kReads = 300;
constexpr int kUpdates = 100;
constexpr int kSubscribers = 10000;
constexpr int kObjects = 1000;
constexpr DWORD kWait = 15000;

double Seconds(LONGLONG ticks) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return static_cast<double>(ticks) / static_cast<double>(frequency);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Notes when each policy arrives and wakes the sender.
class TimingHandle : public IPolicyHandle {
public:
    TimingHandle() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~TimingHandle() { CloseHandle(arrived_); }
    void OnRunPolicy(const IPolicy* policy) override {
        received_at = Now();
        id = policy->GetId();
        SetEvent(arrived_);
    }
    void OnRemovePolicy(const qv::WString&) override {}
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}
    bool Wait() const { return WaitForSingleObject(arrived_, kWait) == WAIT_OBJECT_0; }

    LONGLONG received_at = 0;
    qv::WString id;

private:
    HANDLE arrived_;
};

struct NoPolicies : IPolicyHandle {
    void OnRunPolicy(const IPolicy*) override {}
    void OnRemovePolicy(const qv::WString&) override {}
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}
};

void PrintTimes(const char* label, const std::vector<double>& microseconds) {
    const bench::Stats stats = bench::StatsOf(microseconds);
    std::printf("  %-44s median %9.1f us   p99 %9.1f us   [%.1f .. %.1f]\n", label, stats.median,
                bench::Percentile(microseconds, 0.99), stats.low, stats.high);
}

// The bytes of every allocated block in every heap of the process (no other thread allocates meanwhile).
double HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    double bytes = 0;
    for (DWORD n = 0; n < count && n < 256; ++n) {
        if (!HeapLock(heaps[n])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[n], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                bytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[n]);
    }
    return bytes;
}

double HandlesInUse() { return equipment::MeasureResources().handles; }

// Heap bytes and handles that `count` things made by make hold, per thing.
struct Held {
    double bytes;
    double handles;
};
template <typename Make>
Held HeldPer(int count, Make make) {
    const double bytes = HeapBytesInUse();
    const double handles = HandlesInUse();
    auto held = make(count);
    return Held{(HeapBytesInUse() - bytes) / count, (HandlesInUse() - handles) / count};
}

void Memory() {
    std::printf(
        "Memory held: heap blocks in use (every heap of the process) and handles, before and after making\n"
        "them, median of 5 measurements [lowest .. highest]:\n");
    std::vector<NoPolicies> handles(kSubscribers);
    std::vector<double> per_subscriber, per_client, per_settings, client_handles, settings_handles;
    for (int round = 0; round < 5; ++round) {
        per_subscriber.push_back(HeldPer(kSubscribers, [&](int count) {
                                     auto client = std::make_unique<ClientImpl>();
                                     for (int n = 0; n < count; ++n) {
                                         client->AddPolicyHandle(&handles[n]);
                                     }
                                     return client;
                                 }).bytes);
        const Held client = HeldPer(kObjects, [](int count) {
            std::vector<std::unique_ptr<ClientImpl>> made;
            for (int n = 0; n < count; ++n) {
                made.push_back(std::make_unique<ClientImpl>());
            }
            return made;
        });
        per_client.push_back(client.bytes);
        client_handles.push_back(client.handles);
        const Held settings = HeldPer(kObjects, [](int count) {
            std::vector<std::unique_ptr<SettingsImpl>> made;
            for (int n = 0; n < count; ++n) {
                made.push_back(std::make_unique<SettingsImpl>());
            }
            return made;
        });
        per_settings.push_back(settings.bytes);
        settings_handles.push_back(settings.handles);
    }
    char label[96];
    std::snprintf(label, sizeof label, "per policy subscriber (%d in one client)", kSubscribers);
    bench::PrintFigure(label, bench::StatsOf(per_subscriber), "B");
    std::snprintf(label, sizeof label, "per Vorn.Client object (%d, not started)", kObjects);
    bench::PrintFigure(label, bench::StatsOf(per_client), "B");
    bench::PrintFigure("  handles per Vorn.Client object", bench::StatsOf(client_handles), "");
    std::snprintf(label, sizeof label, "per Vorn.Settings object (%d, not started)", kObjects);
    bench::PrintFigure(label, bench::StatsOf(per_settings), "B");
    bench::PrintFigure("  handles per Vorn.Settings object", bench::StatsOf(settings_handles), "");
}

bool Until(bool (*condition)(const vorn_agent::AgentServer&), const vorn_agent::AgentServer& agent) {
    for (DWORD waited = 0; waited < kWait; waited += 10) {
        if (condition(agent)) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

int PolicyLatency(vorn_agent::AgentServer& agent) {
    ClientImpl client;
    TimingHandle subscriber;
    client.Init();
    client.AddPolicyHandle(&subscriber);
    if (client.Start(1) != 0 || !Until([](const vorn_agent::AgentServer& a) { return a.Clients() >= 1; }, agent)) {
        std::printf("the client did not link to the agent\n");
        return 1;
    }
    std::vector<double> latencies;
    size_t bytes = 0;
    for (int n = -kWarmUp; n < kPolicies; ++n) {
        const std::string polid = "bench-" + std::to_string(n + kWarmUp);
        const std::string text = R"({"polid":")" + polid +
                                 R"(","version":3,"content":{"files":[{"name":"scan","rules":[{"id":1,)"
                                 R"("path":"C:\\Data","action":"quarantine","on":true}]}]}})";
        bytes = text.size();
        const LONGLONG handed_over = Now();
        if (agent.Deliver(vorn_agent::kRunPolicy, text, "bench", polid) != 1 || !subscriber.Wait()) {
            std::printf("policy %s did not arrive\n", polid.c_str());
            return 1;
        }
        if (n >= 0) {
            latencies.push_back(Seconds(subscriber.received_at - handed_over) * 1e6);
        }
    }
    std::printf(
        "\nPolicy latency, from the agent's Deliver to the subscriber's OnRunPolicy, through the pipe, the\n"
        "stand-in vornint's delivery thread and on_run_policy (%d policies of %zu bytes, one at a time):\n",
        kPolicies, bytes);
    PrintTimes("agent hands over -> subscriber receives", latencies);
    client.Stop();
    return 0;
}

int SettingsRoundTrips() {
    SettingsImpl settings;
    if (settings.Init() != 0) {
        std::printf("the settings manager did not start\n");
        return 1;
    }
    Endpoint::Vorn::Settings::Record record;
    // The link comes up in the background: the first reads may find it down.
    for (int tries = 0, result = 0; (result = static_cast<int>(settings.Read(record))) != 0; ++tries) {
        if (tries == 100) {
            std::printf("the settings manager did not link to the agent: Read gives %d\n", result);
            return 1;
        }
        Sleep(50);
    }
    std::vector<double> reads, updates;
    for (int n = 0; n < kReads; ++n) {
        const LONGLONG start = Now();
        const unsigned long result = settings.Read(record);
        const LONGLONG end = Now();
        if (result != 0) {
            std::printf("Read failed with %lu\n", result);
            return 1;
        }
        reads.push_back(Seconds(end - start) * 1e6);
    }
    for (int n = 0; n < kUpdates; ++n) {
        Endpoint::Vorn::Settings::IData* change = settings.CreateData();
        change->SetCustId(qv::WString((L"CUST-BENCH-" + std::to_wstring(n)).c_str()));
        const LONGLONG start = Now();
        const unsigned long result = settings.Update(change);
        const LONGLONG end = Now();
        settings.DestroyData(change);
        if (result != 0) {
            std::printf("Update failed with %lu\n", result);
            return 1;
        }
        updates.push_back(Seconds(end - start) * 1e6);
    }
    std::printf("\nSettings round trips against the agent (each call waits for the agent's answer):\n");
    PrintTimes("Read (command 1, document loaded)", reads);
    PrintTimes("Update (one field, command 2, settings.json written)", updates);
    settings.Uninit();
    return 0;
}

}  // namespace

int main() {
    // The module's handle in the plug-in: binds the stand-in log.dll beside this program for the whole run. Each
    // line is formatted and dropped.
    logging::LogHandle module_handle;
    module_handle.Acquire();
    StandInLogApi log_api(GetModuleHandleW(L"log.dll"));
    if (!log_api.Valid()) {
        std::printf("the stand-in log.dll is not beside this program\n");
        return 1;
    }
    log_api.SetRecording(0);
    // The stand-in vornint keeps no record of the thousands of calls.
    SetEnvironmentVariableW(L"VORNINT_RECORD", L"off");

    Memory();

    equipment::TempFolder folder(L"vorn-bench-");
    folder.Write(L"settings.json",
                 R"({"conn":{"srvaddrlist":["mgmt1.vorn.example"],"srvaddr":"mgmt1.vorn.example","storeevs":true,)"
                 R"("timesec":300,"proxy":{"server":"proxy.corp.example","port":3128,"username":"u","password":"p"}},)"
                 R"("id":{"appid":42,"custid":"CUST-0001","userid":"USER-0001","groupid":"GROUP-LAB","token":"t",)"
                 R"("customdata":{"site":"lab"}}})");
    const std::wstring pipe = L"\\\\.\\pipe\\vorn-bench-" + std::to_wstring(GetCurrentProcessId());
    vorn_agent::AgentServer agent;
    vorn_agent::AgentOptions options;
    options.state_dir = folder.Dir();
    options.pipe_name = pipe;
    if (agent.Start(options) != 0) {
        std::printf("the simulated agent did not start\n");
        return 1;
    }
    vornint_reset();
    vornint_connect_to_agent(pipe.c_str());
    int status = PolicyLatency(agent);
    if (status == 0) {
        status = SettingsRoundTrips();
    }
    agent.Stop();
    vornint_connect_to_agent(nullptr);
    return status;
}
