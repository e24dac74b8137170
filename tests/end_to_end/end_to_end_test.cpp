// The whole system as a host engineer meets it: the plug-in, the stand-in agent libraries and the simulated
// agent, on a fresh copy of samples/agent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "equipment/environment.h"
#include "equipment/folders.h"
#include "equipment/plugin_loader.h"
#include "equipment/processes.h"
#include "equipment/worker_thread.h"
#include "interfaces/interface_ids.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/agent/vorn_agent.h"
#include "stand_ins/vornint/vornint_control.h"
#include "support/unique_resource.h"

using namespace equipment;

namespace {

// A scratch agent folder holding what samples/agent ships, and a pipe name of its own.
struct AgentFolder : TempFolder {
    AgentFolder() : TempFolder(L"vorn-agent-") {
        std::wstring sample = L"Z:" + std::wstring(VORN_SOURCE_DIR, VORN_SOURCE_DIR + strlen(VORN_SOURCE_DIR));
        std::replace(sample.begin(), sample.end(), L'/', L'\\');
        EXPECT_EQ(RunProgram(L"C:\\windows\\system32\\xcopy.exe",
                             L"/E /I /Q /Y \"" + sample + L"\\samples\\agent\" \"" + Dir() + L"\""),
                  0);
    }
    bool Holds(const wchar_t* file, const std::string& s) const { return Read(file).find(s) != std::string::npos; }
    const std::wstring pipe = L"\\\\.\\pipe\\vorn-e2e-" + std::to_wstring(GetTickCount64());
};

// bin/qvhost.exe runs the demo in its own process: the agent in-process through Vorn.AL, a policy round through
// Vorn.Client, a settings change through Vorn.Settings, the service installed and removed through Vorn.Service.
TEST(DemoRun, LeavesATraceInEachPlaceItTouches) {
    AgentFolder folder;
    ScopedEnvironment pipe(L"VORN_AGENT_PIPE", folder.pipe.c_str());
    ScopedEnvironment log(L"VORN_LOG_FILE", folder.File(L"plugin.log").c_str());
    ASSERT_EQ(RunProgram(ExecutableFolder() + L"qvhost.exe", L"demo \"" + folder.Dir() + L"\"", 120000), 0);
    EXPECT_TRUE(folder.Holds(L"events.jsonl", "\"desc\":\"Policy run started\",\"name\":\"POL-1001\"") &&
                folder.Holds(L"events.jsonl", "\"desc\":\"Policy run stopped/succeeded\",\"name\":\"POL-1003\""));
    EXPECT_TRUE(folder.Holds(L"settings.json", "CUST-DEMO"));
    qv::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    EXPECT_FALSE(qv::UniqueServiceHandle(OpenServiceW(manager.get(), L"VornHostService", SERVICE_QUERY_STATUS)));
    EXPECT_TRUE(
        folder.Holds(L"plugin.log", "]   trace vornplug.dll Endpoint::Vorn::NG::AL::SetPreStartLoggerSettings: ->") &&
        folder.Holds(L"plugin.log", "VornHostService.exe] [/uninstall]"))
        << folder.Read(L"plugin.log");
}

// The settings manager over the connected stand-in vornint.dll while the agent goes away: an Update is held
// back until the agent is back, and then the change arrives.
TEST(SettingsAcrossAgentRestart, UpdateCompletesOnceTheAgentIsBack) {
    using namespace Endpoint::Vorn;
    auto notified = [](const std::vector<int>& ids) {
        std::vector<int> delivered;
        for (const vornint::Entry& entry : vornint::Entries(VORNINT_DELIVERED)) {
            delivered.push_back(entry.data.notification_id);
        }
        return delivered == ids;
    };
    AgentFolder folder;
    PluginLoader plugin;
    vornint_reset();
    vornint_connect_to_agent(folder.pipe.c_str());
    ASSERT_EQ(vorn_agent_start_on(folder.Dir().c_str(), folder.pipe.c_str()), 0u);
    Settings::IManager* manager = nullptr;
    ASSERT_EQ(plugin.Create(L"Vorn.Settings", IID_ISettingsManager, reinterpret_cast<void**>(&manager)), 0u);
    ASSERT_EQ(manager->Init(), 0u);
    ASSERT_TRUE(Eventually([&] { return notified({4}); }));
    vorn_agent_stop();
    ASSERT_TRUE(Eventually([&] { return notified({4, 5}); }));
    Settings::IData* change = manager->CreateData();
    ASSERT_EQ(change->SetCustId(qv::WString(L"CUST-AFTER-RESTART")), 0u);
    WorkerThread host;
    auto updated = host.Post([&] { EXPECT_EQ(manager->Update(change), 0u); });
    EXPECT_FALSE(updated->WaitFor(1500));
    EXPECT_TRUE(vornint::Entries(VORNINT_SENT_COMMAND).empty()) << "the change went out while the agent was away";
    ASSERT_EQ(vorn_agent_start_on(folder.Dir().c_str(), folder.pipe.c_str()), 0u);
    ASSERT_TRUE(updated->WaitFor(2 * kFinishes));
    EXPECT_TRUE(notified({4, 5, 4}));
    EXPECT_TRUE(folder.Holds(L"settings.json", "CUST-AFTER-RESTART"));
    manager->DestroyData(change);
    plugin.Destroy(L"Vorn.Settings", manager);
    vorn_agent_stop();
    vornint_connect_to_agent(nullptr);
}

}  // namespace
