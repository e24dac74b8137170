// Where the plug-in binds vornint.dll and vorn.dll: never from the current directory or PATH; beside the plug-in,
// else in the safe folders, also when the host adds one later; only a library that exports everything the plug-in
// calls; and once bound, for the rest of the process. Run in a child from a copy of this test, with copies of the
// plug-in and log.dll in a folder of their own, so that at first no agent library is anywhere.
#include <gtest/gtest.h>

#include <windows.h>

#include "equipment/environment.h"
#include "equipment/files.h"
#include "equipment/folders.h"
#include "equipment/log_records.h"
#include "equipment/plugin_loader.h"
#include "equipment/processes.h"
#include "equipment/text.h"
#include "interfaces/client.h"
#include "interfaces/interface_ids.h"
#include "interfaces/serv_plugin.h"
#include "interfaces/service.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/vornint/vornint_control.h"

using namespace equipment;

namespace {

using namespace Endpoint::Vorn;

struct PolicyIds : IPolicyHandle {
    void OnRunPolicy(const IPolicy* policy) override { ids.push_back(policy->GetId().c_str()); }
    void OnRemovePolicy(const qv::WString&) override {}
    void OnLiveCommand(ILiveCommand*) override {}
    std::vector<std::wstring> ids;
};

TEST(AgentLibraries, ComeOnlyFromThePluginFolderOrTheHostsSafeFolders) {
    TempFolder root;
    for (const wchar_t* folder : {L"host", L"plugin", L"cwd", L"path"}) {
        ASSERT_TRUE(CreateDirectoryW(root.File(folder).c_str(), nullptr));
    }
    const std::wstring bin = ExecutableFolder();
    ASSERT_TRUE(root.CopyIn(bin + L"agent_link_library_test.exe", L"host\\test.exe"));
    ASSERT_TRUE(root.CopyIn(bin + L"vornplug.dll", L"plugin\\vornplug.dll"));
    ASSERT_TRUE(root.CopyIn(bin + L"log.dll", L"plugin\\log.dll"));
    ASSERT_TRUE(root.CopyIn(bin + L"planted.dll", L"cwd\\vornint.dll"));
    ASSERT_TRUE(root.CopyIn(bin + L"planted.dll", L"path\\vorn.dll"));
    ASSERT_TRUE(root.CopyIn(bin + L"planted.dll", L"planted.dll"));
    ASSERT_TRUE(root.CopyIn(bin + L"older\\vornint.dll", L"older-vornint.dll"));
    ScopedEnvironment path(L"PATH", (root.File(L"path;") + EnvironmentValue(L"PATH")).c_str());
    ScopedEnvironment agent_folder(L"VORN_TEST_AGENT_LIBRARIES", bin.c_str());
    ScopedEnvironment mark(L"VORN_PLANTED_MARK", root.File(L"mark.txt").c_str());
    EXPECT_EQ(RunProgram(root.File(L"host\\test.exe"), L"--gtest_also_run_disabled_tests --gtest_filter=*DISABLED*"),
              0);
    EXPECT_EQ(root.Read(L"ran.txt"), "ok") << "the child did not run to its end";
}

TEST(AgentLibrariesChild, DISABLED_Run) {
    std::wstring root = ExecutableFolder();
    root.resize(root.size() - std::wstring(L"host\\").size());
    ASSERT_TRUE(SetCurrentDirectoryW((root + L"cwd").c_str()));
    // The plants are where a search by name finds them.
    for (const wchar_t* name : {L"vornint.dll", L"vorn.dll"}) {
        HMODULE planted = LoadLibraryW(name);
        ASSERT_NE(planted, nullptr) << name;
        FreeLibrary(planted);
    }
    ASSERT_EQ(ReadFileLines(root + L"mark.txt").size(), 2u);
    ASSERT_TRUE(DeleteFileW((root + L"mark.txt").c_str()));

    PluginLoader plugin(root + L"plugin\\vornplug.dll");
    StandInLogApi log(GetModuleHandleW(L"log.dll"));
    ASSERT_TRUE(plugin.Loaded() && log.Valid());
    auto service = plugin.Make<IService>(L"Vorn.Service", IID_IService);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->Install(qv::WString(ExecutableFolder().c_str())), 2u) << "no VornHostService.exe there";
    service.reset();

    log.Clear();
    PolicyIds subscriber;
    auto client = plugin.Make<IClient>(L"Vorn.Client", IID_IClient);
    ASSERT_TRUE(client);
    ASSERT_EQ(client->AddPolicyHandle(&subscriber), 0u);
    EXPECT_EQ(client->Start(1), 126u);
    auto settings = plugin.Make<Settings::IManager>(L"Vorn.Settings", IID_ISettingsManager);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->Init(), 126u);
    Settings::Record record;
    EXPECT_EQ(settings->Read(record), 1627u);
    auto loader = plugin.Make<IServPlugin>(L"Vorn.AL", IID_IServPlugin);
    ASSERT_TRUE(loader);
    EXPECT_EQ(loader->Init(nullptr), 0u);
    EXPECT_EQ(loader->Start(), 0u);
    loader->Stop();
    const std::wstring ns = L"Endpoint::Vorn::NG::";
    // The line a method writes when a library could not be bound.
    const auto failed = [&](const wchar_t* method, const wchar_t* library, unsigned long error) {
        return LogLine{0x04, ns + method,
                       L"failed to load " + std::wstring(library) + L". error [" + std::to_wstring(error) + L"]"};
    };
    const std::vector<LogLine> expected = {
        failed(L"ClientImpl::Start", L"vornint.dll", 126),
        failed(L"SettingsImpl::Init", L"vornint.dll", 126),
        {0x04, ns + L"SettingsImpl::Read", L"no vorn client (Init not called, or Uninit called)"},
        failed(L"AL::Init", L"vorn.dll", 126),
        failed(L"AL::Start", L"vorn.dll", 126),
        failed(L"AL::Stop", L"vorn.dll", 126),
    };
    EXPECT_EQ(Messages(WrittenLines(log)), expected);
    EXPECT_TRUE(LoadedModulesNamed(L"vornint.dll").empty() && LoadedModulesNamed(L"vorn.dll").empty());

    // A file beside the plug-in that is no library, one that exports nothing, one of an older version: each is
    // refused with the loader's error or 127, let go of (so that it can be deleted), and no other place is tried.
    const std::wstring beside = root + L"plugin\\vornint.dll";
    ASSERT_TRUE(WriteFileText(beside, "not a library"));
    ASSERT_EQ(LoadLibraryW(beside.c_str()), nullptr);
    const unsigned long not_a_library = GetLastError();
    EXPECT_NE(not_a_library, 126u);
    log.Clear();
    EXPECT_EQ(client->Start(1), not_a_library);
    for (const wchar_t* unfit : {L"planted.dll", L"older-vornint.dll"}) {
        ASSERT_TRUE(DeleteFileW(beside.c_str())) << unfit;
        ASSERT_TRUE(CopyFileW((root + unfit).c_str(), beside.c_str(), FALSE));
        EXPECT_EQ(client->Start(1), 127u) << unfit;
        EXPECT_EQ(settings->Init(), 127u) << unfit;
    }
    ASSERT_TRUE(CopyFileW((root + L"planted.dll").c_str(), (root + L"plugin\\vorn.dll").c_str(), FALSE));
    EXPECT_EQ(loader->Init(nullptr), 0u);
    const std::vector<LogLine> refused = {
        failed(L"ClientImpl::Start", L"vornint.dll", not_a_library), failed(L"ClientImpl::Start", L"vornint.dll", 127),
        failed(L"SettingsImpl::Init", L"vornint.dll", 127),          failed(L"ClientImpl::Start", L"vornint.dll", 127),
        failed(L"SettingsImpl::Init", L"vornint.dll", 127),          failed(L"AL::Init", L"vorn.dll", 127),
    };
    EXPECT_EQ(Messages(WrittenLines(log)), refused);
    EXPECT_TRUE(DeleteFileW(beside.c_str()) && DeleteFileW((root + L"plugin\\vorn.dll").c_str()));
    const std::string plugin_folder = ToUtf8(root);
    EXPECT_EQ(ReadFileLines(root + L"mark.txt"),
              (std::vector<std::string>{plugin_folder + "plugin\\vornint.dll", plugin_folder + "plugin\\vornint.dll",
                                        plugin_folder + "plugin\\vorn.dll"}));
    ASSERT_TRUE(DeleteFileW((root + L"mark.txt").c_str()));
    EXPECT_TRUE(LoadedModulesNamed(L"vornint.dll").empty() && LoadedModulesNamed(L"vorn.dll").empty());

    // The agent installed after the plug-in was loaded: once its folder is added, the next Start and Init find it.
    const std::wstring agent_folder = EnvironmentValue(L"VORN_TEST_AGENT_LIBRARIES");
    ASSERT_NE(AddDllDirectory(agent_folder.c_str()), nullptr);
    ASSERT_EQ(client->Start(1), 0u);
    EXPECT_EQ(settings->Init(), 0u);
    EXPECT_EQ(LoadedModulesNamed(L"vornint.dll"), std::vector<std::wstring>{agent_folder + L"vornint.dll"});
    const auto deliver = equipment::ExportOf<decltype(&vornint_deliver)>(L"vornint.dll", "vornint_deliver");
    const auto wait_idle = equipment::ExportOf<decltype(&vornint_wait_idle)>(L"vornint.dll", "vornint_wait_idle");
    ASSERT_TRUE(deliver != nullptr && wait_idle != nullptr);
    ASSERT_EQ(deliver(0, VORNINT_RUN_POLICY, 0, R"({"polid":"p-1","content":{"files":[{"scan":"C:\\"}]}})"), 0);
    ASSERT_EQ(wait_idle(VORNINT_ALL_CLIENTS, 10000), 0);
    EXPECT_EQ(subscriber.ids, std::vector<std::wstring>{L"p-1"});
    client->Stop();
    settings->Uninit();
    // vorn.dll beside the plug-in is taken before the one in the folder the host added.
    ASSERT_TRUE(CopyFileW((agent_folder + L"vorn.dll").c_str(), (root + L"plugin\\vorn.dll").c_str(), FALSE));
    EXPECT_EQ(loader->Init(nullptr), 0u);
    EXPECT_EQ(LoadedModulesNamed(L"vorn.dll"), std::vector<std::wstring>{root + L"plugin\\vorn.dll"});
    EXPECT_FALSE(FileExists(root + L"mark.txt")) << ReadFileText(root + L"mark.txt");
    loader.reset();
    settings.reset();
    client.reset();
    // Bound libraries outlive the plug-in: the agent's objects and threads that may still use them live on.
    plugin.Unload();
    EXPECT_TRUE(LoadedModulesNamed(L"vornplug.dll").empty());
    EXPECT_EQ(LoadedModulesNamed(L"vornint.dll"), std::vector<std::wstring>{agent_folder + L"vornint.dll"});
    EXPECT_EQ(LoadedModulesNamed(L"vorn.dll"), std::vector<std::wstring>{root + L"plugin\\vorn.dll"});
    EXPECT_TRUE(WriteFileText(root + L"ran.txt", "ok"));
}

}  // namespace
