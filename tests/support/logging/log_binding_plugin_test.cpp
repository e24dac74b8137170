// Where the plug-in finds log.dll and how it lets go of it, seen from a host process. Each case runs in a
// fresh process on copies of the plug-in in a scratch folder, so that no log.dll is loaded beforehand.
#include <gtest/gtest.h>

#include "interfaces/interface_ids.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"
#include "tests/test_process.h"

namespace {

const std::vector<int> kWholeLife = {StandInLogCallInit, StandInLogCallDeinit, StandInLogCallUninitDeskMetrics,
                                     StandInLogCallRemoveModule};

// Asks for objects that do not exist and gives one back: the frame works whether or not it logs.
void UseThePlugin(PluginLoader& plugin) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(plugin.Create(L"No.Such.Object", Endpoint::Vorn::IID_IQvBaseInterface, &object),
              static_cast<unsigned long>(ERROR_NOT_FOUND));
    EXPECT_EQ(object, nullptr);
    plugin.Destroy(L"No.Such.Object", nullptr);
}

}  // namespace

// This executable's folder holds log.dll; the plug-in's folder does not. The plug-in must not look here.
TEST(LogBindingThroughPluginInChild, DISABLED_WithoutLogDllBesideItNothingIsLoaded) {
    const std::wstring log_file = ParentFolder() + L"run.log";
    SetEnvironmentVariableW(L"VORN_LOG_FILE", log_file.c_str());
    PluginLoader plugin(ParentFolder() + L"vornplug.dll");
    ASSERT_TRUE(plugin.Loaded());
    EXPECT_EQ(LoadedLogDll(), nullptr);
    UseThePlugin(plugin);
    plugin.Unload();
    EXPECT_EQ(LoadedLogDll(), nullptr);
    EXPECT_EQ(GetFileAttributesW(log_file.c_str()), INVALID_FILE_ATTRIBUTES) << "something was logged";
}

TEST(LogBindingThroughPlugin, WithoutLogDllBesideItNothingIsLoaded) {
    TempFolder folder;
    ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + L"vornplug.dll", L"vornplug.dll"));
    EXPECT_EQ(
        RunTestInChild("LogBindingThroughPluginInChild.DISABLED_WithoutLogDllBesideItNothingIsLoaded", folder.Path()),
        0);
}

// log.dll beside the plug-in (with or without LogWrite): loaded from there, bound for the plug-in's whole
// life, and given back at FreeLibrary of the plug-in after LogDeinit, LogUninitDeskMetrics and
// LogRemoveModule, once each.
TEST(LogBindingThroughPluginInChild, DISABLED_LogDllBesideThePluginIsBoundUntilUnload) {
    PluginLoader plugin(ParentFolder() + L"vornplug.dll");
    ASSERT_TRUE(plugin.Loaded());
    HMODULE pin = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(0, L"log.dll", &pin));
    EXPECT_EQ(LoadedModulesNamed(L"log.dll"), std::vector<std::wstring>{ParentFolder() + L"log.dll"});
    StandInLogApi api(pin);
    ASSERT_TRUE(api.Valid());
    UseThePlugin(plugin);
    EXPECT_EQ(LifecycleCalls(AllRecords(api)), std::vector<int>{StandInLogCallInit});

    plugin.Unload();
    auto records = AllRecords(api);
    EXPECT_EQ(LifecycleCalls(records), kWholeLife);
    auto removes = RecordsOf(records, StandInLogCallRemoveModule);
    ASSERT_EQ(removes.size(), 1u);
    EXPECT_STREQ(removes[0].text, L"logging::CLogDLL::~CLogDLL");
    FreeLibrary(pin);
    EXPECT_EQ(LoadedLogDll(), nullptr) << "the plug-in kept its reference on log.dll";
}

TEST(LogBindingThroughPlugin, LogDllBesideThePluginIsBoundUntilUnload) {
    const wchar_t* variants[] = {L"log.dll", L"nolog\\log.dll"};
    for (const wchar_t* variant : variants) {
        TempFolder folder;
        ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + L"vornplug.dll", L"vornplug.dll"));
        ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + variant, L"log.dll"));
        EXPECT_EQ(RunTestInChild("LogBindingThroughPluginInChild.DISABLED_LogDllBesideThePluginIsBoundUntilUnload",
                                 folder.Path()),
                  0)
            << testing::PrintToString(std::wstring(variant));
    }
}

// The host already has a log.dll (from elsewhere): the plug-in binds that module, not the one beside it.
TEST(LogBindingThroughPluginInChild, DISABLED_LogDllAlreadyLoadedByTheHostIsTheOneUsed) {
    const std::wstring hosts = ParentFolder() + L"log.dll";
    HMODULE host_loaded = LoadLibraryW(hosts.c_str());
    ASSERT_NE(host_loaded, nullptr);
    StandInLogApi api(host_loaded);
    ASSERT_TRUE(api.Valid());

    PluginLoader plugin;  // from this executable's folder, where the build's own log.dll lies beside it
    ASSERT_TRUE(plugin.Loaded());
    EXPECT_EQ(LoadedModulesNamed(L"log.dll"), std::vector<std::wstring>{hosts});
    EXPECT_EQ(LifecycleCalls(AllRecords(api)), std::vector<int>{StandInLogCallInit});
    plugin.Unload();
    EXPECT_EQ(LifecycleCalls(AllRecords(api)), kWholeLife);
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), host_loaded) << "the plug-in gave back more than it took";
    FreeLibrary(host_loaded);
}

TEST(LogBindingThroughPlugin, LogDllAlreadyLoadedByTheHostIsTheOneUsed) {
    TempFolder folder;
    ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + L"log.dll", L"log.dll"));
    EXPECT_EQ(RunTestInChild("LogBindingThroughPluginInChild.DISABLED_LogDllAlreadyLoadedByTheHostIsTheOneUsed",
                             folder.Path()),
              0);
}
