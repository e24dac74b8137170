// The two exports as the host calls them through LoadLibrary and GetProcAddress.
#include <gtest/gtest.h>

#include "interfaces/interface_ids.h"
#include "tests/plugin_loader.h"

using namespace Endpoint::Vorn;

TEST(Exports, UnknownNamesAndCaseVariantsAreNotFoundAndStoreNull) {
    PluginLoader plugin;
    ASSERT_TRUE(plugin.Loaded());
    for (const wchar_t* name : {L"", L"Vorn", L"vorn.client", L"VORN.AL", L"Vorn.Client ", L"Vorn.Settings2"}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(plugin.Create(name, IID_IQvBaseInterface, &object), static_cast<unsigned long>(ERROR_NOT_FOUND))
            << "name: " << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(object, nullptr);
    }
}
