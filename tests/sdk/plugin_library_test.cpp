// The SDK's host helper: loading by full path only, the exports' errors passed on, and each object given back
// once under the name it was made with.
#include "interfaces/plugin_library.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/service.h"
#include "tests/plugin_loader.h"

using Endpoint::Vorn::PluginLibrary;
using Endpoint::Vorn::UniqueObject;

namespace {

struct Thing {};

struct Given {
    std::wstring name;
    void* object;
};
std::vector<Given> g_given;

void RecordDestroy(const wchar_t* name, void* object) { g_given.push_back({name, object}); }

bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

}  // namespace

TEST(PluginLibrary, LoadsOnlyByFullPath) {
    // A vornplug.dll lies beside this executable, so a search by bare or relative name would find one.
    for (const wchar_t* path : {L"vornplug.dll", L".\\vornplug.dll", L"bin\\vornplug.dll", L"\\vornplug.dll"}) {
        PluginLibrary plugin;
        EXPECT_EQ(plugin.Load(path), static_cast<unsigned long>(ERROR_INVALID_PARAMETER)) << path;
        EXPECT_FALSE(plugin.Loaded()) << path;
    }
    EXPECT_FALSE(IsLoaded(ExecutableFolder() + L"vornplug.dll"));

    PluginLibrary plugin;
    ASSERT_EQ(plugin.Load((ExecutableFolder() + L"vornplug.dll").c_str()), 0ul);
    EXPECT_TRUE(plugin.Loaded());
    EXPECT_NE(plugin.CreateFunction(), nullptr);
    EXPECT_NE(plugin.DestroyFunction(), nullptr);
    plugin.Unload();
    EXPECT_FALSE(IsLoaded(ExecutableFolder() + L"vornplug.dll"));
}

TEST(PluginLibrary, RefusesAndUnloadsAModuleWithoutTheExports) {
    // The log stand-in exports the log binding's functions, not the plug-in's.
    const std::wstring other = ExecutableFolder() + L"log.dll";
    PluginLibrary plugin;
    EXPECT_EQ(plugin.Load(other.c_str()), static_cast<unsigned long>(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(plugin.Loaded());
    EXPECT_FALSE(IsLoaded(other));
    EXPECT_EQ(plugin.Load((ExecutableFolder() + L"missing.dll").c_str()),
              static_cast<unsigned long>(ERROR_MOD_NOT_FOUND));
}

TEST(PluginLibrary, CreateHandsOnThePluginsErrorWithAnEmptyOwner) {
    PluginLibrary plugin;
    unsigned long result = 0;
    EXPECT_FALSE(plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IService, &result));
    EXPECT_EQ(result, static_cast<unsigned long>(ERROR_INVALID_HANDLE)) << "nothing loaded";

    ASSERT_EQ(plugin.Load((ExecutableFolder() + L"vornplug.dll").c_str()), 0ul);
    EXPECT_FALSE(plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Servic", Endpoint::Vorn::IID_IService, &result));
    EXPECT_EQ(result, static_cast<unsigned long>(ERROR_NOT_FOUND)) << "unknown name";
    EXPECT_FALSE(plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IClient, &result));
    EXPECT_EQ(result, static_cast<unsigned long>(ERROR_NOT_FOUND)) << "interface the object lacks";

    auto service = plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IService, &result);
    EXPECT_EQ(result, 0ul);
    ASSERT_TRUE(service);
    EXPECT_STREQ(service.name(), L"Vorn.Service");
    EXPECT_EQ(service->Init(), 0ul);
    service->Uninit();
}

TEST(UniqueObject, GivesTheObjectBackOnceUnderItsName) {
    Thing a;
    Thing b;
    const std::vector<std::pair<const char*, void (*)(Thing&, Thing&)>> cases = {
        {"destruction", [](Thing& a, Thing&) { UniqueObject<Thing> owner(&a, L"A", RecordDestroy); }},
        {"reset, then destruction",
         [](Thing& a, Thing&) {
             UniqueObject<Thing> owner(&a, L"A", RecordDestroy);
             owner.reset();
             owner.reset();
         }},
        {"move construction",
         [](Thing& a, Thing&) {
             UniqueObject<Thing> source(&a, L"A", RecordDestroy);
             UniqueObject<Thing> target(std::move(source));
         }},
        {"move assignment onto an empty owner",
         [](Thing& a, Thing&) {
             UniqueObject<Thing> target;
             UniqueObject<Thing> source(&a, L"A", RecordDestroy);
             target = std::move(source);
         }},
    };
    for (const auto& [name, use] : cases) {
        g_given.clear();
        use(a, b);
        ASSERT_EQ(g_given.size(), 1u) << name;
        EXPECT_EQ(g_given[0].name, L"A") << name;
        EXPECT_EQ(g_given[0].object, &a) << name;
    }

    // Assigning over a held object gives that one back first, under its own name.
    g_given.clear();
    {
        UniqueObject<Thing> target(&b, L"B", RecordDestroy);
        UniqueObject<Thing> source(&a, L"A", RecordDestroy);
        target = std::move(source);
        ASSERT_EQ(g_given.size(), 1u);
        EXPECT_EQ(g_given[0].name, L"B");
        EXPECT_EQ(g_given[0].object, &b);
    }
    ASSERT_EQ(g_given.size(), 2u);
    EXPECT_EQ(g_given[1].name, L"A");
    EXPECT_EQ(g_given[1].object, &a);
}

TEST(UniqueObject, MoveLeavesTheSourceEmpty) {
    Thing a;
    UniqueObject<Thing> source(&a, L"A", RecordDestroy);
    UniqueObject<Thing> target(std::move(source));
    EXPECT_FALSE(source);  // NOLINT(bugprone-use-after-move): the state after a move is what is tested
    EXPECT_EQ(source.get(), nullptr);
    EXPECT_EQ(target.get(), &a);

    UniqueObject<Thing> assigned;
    assigned = std::move(target);
    EXPECT_FALSE(target);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(assigned.get(), &a);
    EXPECT_STREQ(assigned.name(), L"A");
}

TEST(UniqueObject, ReleaseGivesNothingBack) {
    Thing a;
    g_given.clear();
    {
        UniqueObject<Thing> owner(&a, L"A", RecordDestroy);
        EXPECT_EQ(owner.release(), &a);
        EXPECT_FALSE(owner);
    }
    EXPECT_TRUE(g_given.empty());
}
