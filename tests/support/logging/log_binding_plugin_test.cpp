// Where the plug-in finds log.dll and how it lets go of it, seen from a host process. Each case runs in a fresh
// process on a copy of the plug-in in a scratch folder, so that no log.dll is loaded beforehand.
#include <gtest/gtest.h>

#include "equipment/folders.h"
#include "equipment/log_records.h"
#include "equipment/plugin_loader.h"
#include "equipment/processes.h"
#include "interfaces/interface_ids.h"
#include "tests/named_rows.h"

using namespace equipment;

namespace {

const std::vector<int> kWholeLife = {StandInLogCallInit, StandInLogCallDeinit, StandInLogCallUninitDeskMetrics,
                                     StandInLogCallRemoveModule};

// Loads the plug-in and unloads it again; the log.dll expected to be bound must see LogInit at load and the
// rest of its life at unload, and get back every reference the plug-in took.
void ExpectBoundFromLoadToUnload(const std::wstring& plugin_path, const std::wstring& log_path) {
    PluginLoader plugin(plugin_path);
    ASSERT_TRUE(plugin.Loaded());
    HMODULE pin = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(0, L"log.dll", &pin));
    EXPECT_EQ(LoadedModulesNamed(L"log.dll"), std::vector<std::wstring>{log_path});
    StandInLogApi api(pin);
    ASSERT_TRUE(api.Valid());
    EXPECT_EQ(LifecycleCalls(AllRecords(api)), std::vector<int>{StandInLogCallInit});
    plugin.Unload();
    EXPECT_EQ(LifecycleCalls(AllRecords(api)), kWholeLife);
    EXPECT_STREQ(RecordsOf(AllRecords(api), StandInLogCallRemoveModule).at(0).text, L"logging::CLogDLL::~CLogDLL");
    FreeLibrary(pin);
}

}  // namespace

// The child's own folder holds log.dll; the plug-in's folder does not, and the plug-in must not look elsewhere.
TEST(LogBindingInChild, DISABLED_WithoutLogDllBesideThePluginNothingIsLoaded) {
    PluginLoader plugin(ParentFolder() + L"vornplug.dll");
    ASSERT_TRUE(plugin.Loaded());
    void* object = nullptr;
    EXPECT_EQ(plugin.Create(L"Vorn.Service", Endpoint::Vorn::IID_IService, &object), 0ul);
    plugin.Destroy(L"Vorn.Service", object);
    EXPECT_EQ(LoadedLogDll(), nullptr);
}

// log.dll beside the plug-in (with or without LogWrite) is bound for the plug-in's life and given back at unload.
TEST(LogBindingInChild, DISABLED_LogDllBesideThePluginIsBoundUntilUnload) {
    ExpectBoundFromLoadToUnload(ParentFolder() + L"vornplug.dll", ParentFolder() + L"log.dll");
    EXPECT_EQ(LoadedLogDll(), nullptr) << "the plug-in kept its reference on log.dll";
}

// The host already has a log.dll from elsewhere: the plug-in binds that module, not the one beside it.
TEST(LogBindingInChild, DISABLED_LogDllAlreadyLoadedByTheHostIsTheOneUsed) {
    HMODULE host_loaded = LoadLibraryW((ParentFolder() + L"log.dll").c_str());
    ASSERT_NE(host_loaded, nullptr);
    ExpectBoundFromLoadToUnload(ExecutableFolder() + L"vornplug.dll", ParentFolder() + L"log.dll");
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), host_loaded) << "the plug-in gave back more than it took";
}

TEST(LogBindingThroughPlugin, BindsOnlyTheLogDllWhereTheHostPutIt) {
    struct Case {
        const char* name;
        const char* child;
        const wchar_t* log_copy;  // copied into the scratch folder as log.dll, or null
        bool plugin_copy;
    } cases[] = {
        {"none beside the plug-in", "WithoutLogDllBesideThePluginNothingIsLoaded", nullptr, true},
        {"one beside the plug-in", "LogDllBesideThePluginIsBoundUntilUnload", L"log.dll", true},
        {"one without its write function beside the plug-in", "LogDllBesideThePluginIsBoundUntilUnload",
         L"nolog\\log.dll", true},
        {"one the host loaded", "LogDllAlreadyLoadedByTheHostIsTheOneUsed", L"log.dll", false},
    };
    ForEachRow(cases, [](const Case& c) {
        TempFolder folder;
        ASSERT_TRUE(!c.plugin_copy || folder.CopyIn(ExecutableFolder() + L"vornplug.dll", L"vornplug.dll"));
        ASSERT_TRUE(c.log_copy == nullptr || folder.CopyIn(ExecutableFolder() + c.log_copy, L"log.dll"));
        EXPECT_EQ(RunTestInChild((std::string("LogBindingInChild.DISABLED_") + c.child).c_str(), folder.Path()), 0);
    });
}
