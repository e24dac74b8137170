// The SDK's host helper: loading by full path only, the exports' errors passed on, and each object given back
// once under the name it was made with.
#include "interfaces/plugin_library.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "equipment/plugin_loader.h"
#include "interfaces/interface_ids.h"
#include "interfaces/service.h"
#include "tests/named_rows.h"

using Endpoint::Vorn::PluginLibrary;
using Endpoint::Vorn::UniqueObject;
using equipment::ExecutableFolder;

namespace {

struct Thing {};

struct Given {
    std::wstring name;
    void* object;
};
std::vector<Given> g_given;

void RecordDestroy(const wchar_t* name, void* object) { g_given.push_back({name, object}); }

bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

std::wstring PluginPath() { return ExecutableFolder() + L"vornplug.dll"; }

struct PathCase {
    const char* name;
    const wchar_t* path;
};

// A vornplug.dll lies beside this executable, so a search by any of these would find one.
const PathCase kNotFull[] = {
    {"BareName", L"vornplug.dll"},
    {"RelativeToTheCurrentFolder", L".\\vornplug.dll"},
    {"RelativeToAFolder", L"bin\\vornplug.dll"},
    {"RootedWithoutADrive", L"\\vornplug.dll"},
    {"DriveRelative", L"C:vornplug.dll"},
};

class PluginLibraryPath : public testing::TestWithParam<PathCase> {};

struct GiveBackCase {
    const char* name;
    void (*use)(Thing& object);
};

const GiveBackCase kGiveBacks[] = {
    {"Destruction", [](Thing& a) { UniqueObject<Thing> owner(&a, L"A", RecordDestroy); }},
    {"ResetTwice",
     [](Thing& a) {
         UniqueObject<Thing> owner(&a, L"A", RecordDestroy);
         owner.reset();
         owner.reset();
     }},
    {"MoveConstruction",
     [](Thing& a) {
         UniqueObject<Thing> source(&a, L"A", RecordDestroy);
         UniqueObject<Thing> target(std::move(source));
     }},
    {"MoveAssignmentOntoAnEmptyOwner",
     [](Thing& a) {
         UniqueObject<Thing> target;
         UniqueObject<Thing> source(&a, L"A", RecordDestroy);
         target = std::move(source);
     }},
};

class UniqueObjectGiveBack : public testing::TestWithParam<GiveBackCase> {};

}  // namespace

TEST_P(PluginLibraryPath, RefusesAPathThatIsNotFull) {
    PluginLibrary plugin;
    EXPECT_EQ(plugin.Load(GetParam().path), static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(plugin.Loaded());
    EXPECT_FALSE(IsLoaded(PluginPath()));
}

INSTANTIATE_TEST_SUITE_P(Each, PluginLibraryPath, testing::ValuesIn(kNotFull), NameOfRow());

TEST(PluginLibrary, LoadsByFullPathAndUnloads) {
    PluginLibrary plugin;
    ASSERT_EQ(plugin.Load(PluginPath().c_str()), 0ul);
    EXPECT_TRUE(plugin.Loaded());
    EXPECT_NE(plugin.CreateFunction(), nullptr);
    EXPECT_NE(plugin.DestroyFunction(), nullptr);
    plugin.Unload();
    EXPECT_FALSE(IsLoaded(PluginPath()));
}

TEST(PluginLibrary, RefusesAndUnloadsAModuleWithoutTheExports) {
    // The log stand-in exports the log binding's functions, not the plug-in's.
    const std::wstring other = ExecutableFolder() + L"log.dll";
    PluginLibrary plugin;
    EXPECT_EQ(plugin.Load(other.c_str()), static_cast<unsigned long>(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(plugin.Loaded());
    EXPECT_FALSE(IsLoaded(other));
}

TEST(PluginLibrary, PassesOnTheLoadersError) {
    PluginLibrary plugin;
    EXPECT_EQ(plugin.Load((ExecutableFolder() + L"missing.dll").c_str()),
              static_cast<unsigned long>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(plugin.Loaded());
}

TEST(PluginLibrary, CreateWithNothingLoadedGivesAnEmptyOwner) {
    PluginLibrary plugin;
    unsigned long result = 0;
    EXPECT_FALSE(plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IService, &result));
    EXPECT_EQ(result, static_cast<unsigned long>(ERROR_INVALID_HANDLE));
}

TEST(PluginLibrary, CreateHandsOnThePluginsErrorForAWrongNameOrInterface) {
    PluginLibrary plugin;
    ASSERT_EQ(plugin.Load(PluginPath().c_str()), 0ul);
    unsigned long result = 0;
    EXPECT_FALSE(plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Servic", Endpoint::Vorn::IID_IService, &result));
    EXPECT_EQ(result, static_cast<unsigned long>(ERROR_NOT_FOUND)) << "unknown name";
    EXPECT_FALSE(plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IClient, &result));
    EXPECT_EQ(result, static_cast<unsigned long>(ERROR_NOT_FOUND)) << "interface the object lacks";
}

TEST(PluginLibrary, CreateOwnsAWorkingObjectUnderItsName) {
    PluginLibrary plugin;
    ASSERT_EQ(plugin.Load(PluginPath().c_str()), 0ul);
    unsigned long result = 1;
    auto service = plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IService, &result);
    EXPECT_EQ(result, 0ul);
    ASSERT_TRUE(service);
    EXPECT_STREQ(service.name(), L"Vorn.Service");
    EXPECT_EQ(service->Init(), 0ul);
    service->Uninit();
}

TEST_P(UniqueObjectGiveBack, GivesTheObjectBackOnceUnderItsName) {
    Thing a;
    g_given.clear();
    GetParam().use(a);
    ASSERT_EQ(g_given.size(), 1u);
    EXPECT_EQ(g_given[0].name, L"A");
    EXPECT_EQ(g_given[0].object, &a);
}

INSTANTIATE_TEST_SUITE_P(Each, UniqueObjectGiveBack, testing::ValuesIn(kGiveBacks), NameOfRow());

TEST(UniqueObject, AssigningOverAHeldObjectGivesThatOneBackFirst) {
    Thing a;
    Thing b;
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
