// A host that loads and frees the plug-in again and again (an update, a configuration change): each unload gives
// back what its load took, so the host lives through any number of reloads. Not timed: it counts what is left.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <vector>

#include "equipment/plugin_loader.h"
#include "equipment/processes.h"
#include "equipment/resources.h"
#include "interfaces/client.h"
#include "interfaces/interface_ids.h"
#include "interfaces/policy_handle.h"
#include "interfaces/serv_plugin.h"
#include "interfaces/service.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/vornint/vornint_control.h"

namespace {

using namespace Endpoint::Vorn;
using equipment::PluginLoader;

constexpr int kReloads = 1200;
constexpr int kLifeCycleEvery = 100;

struct CountingPolicies : IPolicyHandle {
    void OnRunPolicy(const IPolicy*) override { ++runs; }
    void OnRemovePolicy(const qv::WString&) override {}
    void OnLiveCommand(ILiveCommand*) override {}
    int runs = 0;
};

// Every object made, driven through its life and given back, with the agent's libraries bound on the way.
void LiveThroughEveryObject(const PluginLoader& plugin) {
    CountingPolicies subscriber;
    auto client = plugin.Make<IClient>(L"Vorn.Client", IID_IClient);
    ASSERT_TRUE(client);
    client->Init();
    EXPECT_EQ(client->AddPolicyHandle(&subscriber), 0u);
    EXPECT_EQ(client->Start(1), 0u);
    // A policy walked on the agent library's thread, which takes that thread's walk states.
    const auto deliver = equipment::ExportOf<decltype(&vornint_deliver)>(L"vornint.dll", "vornint_deliver");
    const auto wait_idle = equipment::ExportOf<decltype(&vornint_wait_idle)>(L"vornint.dll", "vornint_wait_idle");
    ASSERT_TRUE(deliver != nullptr && wait_idle != nullptr);
    ASSERT_EQ(deliver(VORNINT_LATEST_CLIENT, VORNINT_RUN_POLICY, 0, R"({"polid":"p","content":{"files":[]}})"), 0);
    ASSERT_EQ(wait_idle(VORNINT_ALL_CLIENTS, 10000), 0);
    EXPECT_EQ(subscriber.runs, 1);
    client->Stop();
    EXPECT_EQ(client->RemovePolicyHandle(&subscriber), 0u);
    client->Uninit();
    client.reset();

    auto settings = plugin.Make<Settings::IManager>(L"Vorn.Settings", IID_ISettingsManager);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->Init(), 0u);
    Settings::IData* change = settings->CreateData();
    change->SetServerAddress(qv::WString(L"eu1.vorn.example"));
    settings->DestroyData(change);
    settings->Uninit();
    settings.reset();

    auto loader = plugin.Make<IServPlugin>(L"Vorn.AL", IID_IServPlugin);
    ASSERT_TRUE(loader);
    EXPECT_EQ(loader->Init(nullptr), 0u);
    EXPECT_EQ(loader->Start(), 0u);
    loader->Stop();
    loader->UnInit();
    loader.reset();

    auto service = plugin.Make<IService>(L"Vorn.Service", IID_IService);
    ASSERT_TRUE(service);
    (void)service->IsInstalled();
}

// How many slots of one kind are still free: all are taken, counted and given back.
template <typename Alloc, typename Free>
unsigned FreeSlots(Alloc alloc, Free free, DWORD out_of_indexes) {
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = alloc()) != out_of_indexes;) {
        taken.push_back(slot);
    }
    for (DWORD slot : taken) {
        free(slot);
    }
    return static_cast<unsigned>(taken.size());
}
unsigned FreeTlsSlots() { return FreeSlots(TlsAlloc, TlsFree, TLS_OUT_OF_INDEXES); }
unsigned FreeFlsSlots() {
    return FreeSlots([] { return FlsAlloc(nullptr); }, FlsFree, FLS_OUT_OF_INDEXES);
}

void Reload(bool live) {
    PluginLoader plugin;
    ASSERT_TRUE(plugin.Loaded());
    if (live) {
        LiveThroughEveryObject(plugin);
    }
}

}  // namespace

TEST(Reload, EachUnloadGivesBackWhatItsLoadTook) {
    // The plug-in imports winmm.dll, which a host keeps loaded; under Wine every load and unload of winmm.dll
    // itself keeps registry handles, which are not the plug-in's to give back.
    const HMODULE winmm = LoadLibraryW(L"winmm.dll");
    ASSERT_NE(winmm, nullptr);
    // What a first load takes once for the process (the agent's libraries stay bound) is not counted.
    Reload(true);
    const equipment::ProcessResources before = equipment::MeasureResources();
    const unsigned tls_before = FreeTlsSlots();
    const unsigned fls_before = FreeFlsSlots();
    for (int n = 1; n <= kReloads; ++n) {
        Reload(n % kLifeCycleEvery == 0);
        if (HasFatalFailure()) {
            FAIL() << "at reload " << n;
        }
    }
    const equipment::ProcessResources after = equipment::MeasureResources();
    const unsigned tls_after = FreeTlsSlots();
    const unsigned fls_after = FreeFlsSlots();
    const double heap_per_reload =
        (static_cast<double>(after.InUse()) - static_cast<double>(before.InUse())) / kReloads;
    const double handles_per_reload =
        (static_cast<double>(after.handles) - static_cast<double>(before.handles)) / kReloads;
    std::printf(
        "reload: %d reloads, heap in use %+.1f bytes per reload, handles %+.3f per reload, free TLS slots %u -> %u, "
        "free FLS slots %u -> %u\n",
        kReloads, heap_per_reload, handles_per_reload, tls_before, tls_after, fls_before, fls_after);
    EXPECT_LE(heap_per_reload, 4096.0);
    EXPECT_LE(handles_per_reload, 0.1);
    EXPECT_GE(tls_after + 1, tls_before) << "a TLS slot kept by the plug-in's loads";
    EXPECT_GE(fls_after + 1, fls_before) << "a fiber-local slot kept by the plug-in's loads";
    FreeLibrary(winmm);
}
