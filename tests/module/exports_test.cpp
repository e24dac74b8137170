// The two exports as the host calls them: object names, interface IDs and which object answers which ID.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "equipment/plugin_loader.h"
#include "interfaces/interface_ids.h"
#include "interfaces/qv_base_interface.h"

using namespace equipment;

namespace {

// Written out from the interface table as the host's own headers carry it, not taken from ours: bytes 0-7 and
// 8-15, each little-endian.
struct Id {
    const char* name;
    std::uint64_t low, high;
    const GUID& ours;
};
const Id kIds[] = {
    {"IQvBaseInterface", 13587637854503508659ull, 5858024861175464543ull, Endpoint::Vorn::IID_IQvBaseInterface},
    {"IBaseObject", 9998714120988027890ull, 9849928103203784862ull, Endpoint::Vorn::IID_IBaseObject},
    {"IClient", 13650297718606906208ull, 5607039322995642099ull, Endpoint::Vorn::IID_IClient},
    {"IService", 13292519429467472090ull, 11553549314151107158ull, Endpoint::Vorn::IID_IService},
    {"Settings::IManager", 9558816421908038390ull, 13850486193403744137ull, Endpoint::Vorn::IID_ISettingsManager},
    {"IServPlugin", 10967114810072638243ull, 16812643696960356726ull, Endpoint::Vorn::IID_IServPlugin},
    {"ILoggerConfiguration", 11396795280040302812ull, 13252348746197912987ull,
     Endpoint::Vorn::IID_ILoggerConfiguration},
};
enum { kBase, kBaseObject, kClient, kService, kSettings, kServPlugin, kLogger, kIdCount };

GUID HostId(const Id& id, int flipped_byte = -1) {
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(id.low >> (8 * i));
        bytes[8 + i] = static_cast<unsigned char>(id.high >> (8 * i));
    }
    if (flipped_byte >= 0) {
        bytes[flipped_byte] ^= 0x01;
    }
    GUID guid;
    std::memcpy(&guid, bytes, sizeof guid);
    return guid;
}

}  // namespace

TEST(InterfaceIds, HeaderHoldsTheHostsBytes) {
    for (const Id& id : kIds) {
        const GUID expected = HostId(id);
        EXPECT_EQ(std::memcmp(&id.ours, &expected, sizeof expected), 0) << id.name;
    }
}

TEST(Exports, EachObjectAnswersOnlyItsOwnIds) {
    struct Object {
        const wchar_t* name;
        bool answers[kIdCount];
    } objects[] = {
        {L"Vorn.Client", {true, true, true, false, false, false, false}},
        {L"Vorn.Service", {true, true, false, true, false, false, false}},
        {L"Vorn.Settings", {true, true, false, false, true, false, false}},
        {L"Vorn.AL", {true, false, false, false, false, true, false}},
    };
    PluginLoader plugin;
    ASSERT_TRUE(plugin.Loaded());
    for (const Object& o : objects) {
        for (int i = 0; i < kIdCount; ++i) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(o.name)) + " as " + kIds[i].name);
            void* object = reinterpret_cast<void*>(0x1);
            const unsigned long result = plugin.Create(o.name, HostId(kIds[i]), &object);
            EXPECT_EQ(result, o.answers[i] ? 0ul : static_cast<unsigned long>(ERROR_NOT_FOUND));
            EXPECT_EQ(object != nullptr, o.answers[i]);
            if (object == nullptr) {
                continue;
            }
            auto* base = static_cast<IQvBaseInterface*>(object);
            for (int j = 0; j < kIdCount; ++j) {
                EXPECT_EQ(base->QueryInterface(HostId(kIds[j])), o.answers[j] ? object : nullptr) << kIds[j].name;
                // One differing byte, in any of the GUID's fields, makes another ID.
                for (int byte : {0, 4, 6, 8, 15}) {
                    EXPECT_EQ(base->QueryInterface(HostId(kIds[j], byte)), nullptr) << kIds[j].name << " " << byte;
                }
            }
            plugin.Destroy(o.name, object);
        }
    }
}

TEST(Exports, PerCallObjectsAreNewEachTime) {
    PluginLoader plugin;
    ASSERT_TRUE(plugin.Loaded());
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(plugin.Create(L"Vorn.Client", HostId(kIds[kClient]), &first), 0ul);
    ASSERT_EQ(plugin.Create(L"Vorn.Client", HostId(kIds[kClient]), &second), 0ul);
    EXPECT_NE(first, second);
    // Given back under another object's name, an object is left alone.
    plugin.Destroy(L"Vorn.Service", first);
    EXPECT_EQ(static_cast<IQvBaseInterface*>(first)->QueryInterface(HostId(kIds[kClient])), first);
    plugin.Destroy(L"Vorn.Client", first);
    plugin.Destroy(L"Vorn.Client", second);
}

TEST(Exports, TheLoaderIsShared) {
    PluginLoader plugin;
    ASSERT_TRUE(plugin.Loaded());
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(plugin.Create(L"Vorn.AL", HostId(kIds[kServPlugin]), &first), 0ul);
    ASSERT_EQ(plugin.Create(L"Vorn.AL", HostId(kIds[kBase]), &second), 0ul);
    EXPECT_EQ(first, second);
    plugin.Destroy(L"Vorn.AL", nullptr);  // the loader's pointer is not looked at
    EXPECT_EQ(static_cast<IQvBaseInterface*>(first)->QueryInterface(HostId(kIds[kServPlugin])), first);
    plugin.Destroy(L"Vorn.AL", first);
}

TEST(Exports, AnUnknownNameStoresNull) {
    PluginLoader plugin;
    ASSERT_TRUE(plugin.Loaded());
    for (const wchar_t* name : {L"", L"Vorn", L"vorn.client", L"VORN.AL", L"Vorn.Client ", L"Vorn.Settings2"}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(plugin.Create(name, HostId(kIds[kBase]), &object), static_cast<unsigned long>(ERROR_NOT_FOUND))
            << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(object, nullptr);
        plugin.Destroy(name, nullptr);
    }
}
