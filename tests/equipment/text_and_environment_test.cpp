// Text conversion and environment variables: what the stand-ins read their instructions from and write their
// records with.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "equipment/environment.h"
#include "equipment/text.h"

namespace {

using namespace equipment;

// Embedded NULs and characters outside the basic plane included.
TEST(Text, RoundTripKeepsEveryCharacter) {
    const std::wstring wide{L'a', L'\0', 0x00E9, 0xD83D, 0xDE00, L'z'};
    const std::string utf8{'a', '\0', '\xC3', '\xA9', '\xF0', '\x9F', '\x98', '\x80', 'z'};
    EXPECT_EQ(ToUtf8(wide), utf8);
    EXPECT_EQ(FromUtf8(utf8), wide);
    EXPECT_EQ(ToUtf8(std::wstring()), "");
    EXPECT_EQ(FromUtf8(std::string()), L"");
}

constexpr wchar_t kName[] = L"VORN_EQUIPMENT_TEST_VALUE";

TEST(Environment, ValueLongerThanAFirstGuessComesWhole) {
    const std::wstring long_value(5000, L'x');
    ScopedEnvironment set(kName, long_value.c_str());
    EXPECT_EQ(EnvironmentValue(kName), long_value);
}

TEST(Environment, SaysComparesTheWholeValueIgnoringCase) {
    ScopedEnvironment set(kName, L"Connected");
    EXPECT_TRUE(EnvironmentSays(kName, L"connected"));
    EXPECT_FALSE(EnvironmentSays(kName, L"connect"));
}

TEST(Environment, ScopedChangesAreUndoneInTurn) {
    const std::wstring long_value(5000, L'x');
    {
        ScopedEnvironment set(kName, long_value.c_str());
        {
            ScopedEnvironment changed(kName, L"changed");
            ScopedEnvironment removed(kName, nullptr);
            EXPECT_EQ(EnvironmentValue(kName), L"");
        }
        EXPECT_EQ(EnvironmentValue(kName), long_value);
    }
    EXPECT_EQ(GetEnvironmentVariableW(kName, nullptr, 0), 0u) << "the variable was not removed again";
}

}  // namespace
