// ToUtf8 and FromUtf8: round trips, and malformed input converted exactly as the platform converter does.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/strings/utf8.h"

namespace {

std::string Bytes(const qv::AString& s) { return std::string(s.GetString(), s.GetLength()); }
std::wstring Units(const qv::WString& s) { return std::wstring(s.GetString(), s.GetLength()); }

// What the platform converter itself makes of a NUL-terminated text.
std::string PlatformToUtf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> out(n > 0 ? n : 1);
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return std::string(out.data());
}

std::wstring PlatformFromUtf8(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> out(n > 0 ? n : 1);
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    return std::wstring(out.data());
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof(buf), "%02X ", b);
        out += buf;
    }
    return out;
}

}  // namespace

static_assert(sizeof(L"\U0001F600") / sizeof(wchar_t) == 3, "a non-BMP character is a surrogate pair here");

TEST(Utf8, RoundTripsTextInsideAndOutsideTheBasicPlane) {
    struct Case {
        const wchar_t* wide;
        const char* utf8;
    };
    const Case cases[] = {
        {L"", ""},
        {L"plain ascii", "plain ascii"},
        {L"Gr\u00FC\u00DFe", "Gr\xC3\xBC\xC3\x9F\x65"},
        {L"\u65E5\u672C\u8A9E", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {L"\u20AC 5", "\xE2\x82\xAC 5"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},
        {L"a\U00010348b\U0010FFFF", "a\xF0\x90\x8D\x88\x62\xF4\x8F\xBF\xBF"},
        {L"\uFFFD\uFEFF", "\xEF\xBF\xBD\xEF\xBB\xBF"},
    };
    for (const Case& c : cases) {
        const qv::AString narrow = qv::ToUtf8(qv::WString(c.wide));
        EXPECT_EQ(Bytes(narrow), c.utf8) << Hex(c.utf8);
        const qv::WString wide = qv::FromUtf8(qv::AString(c.utf8));
        EXPECT_EQ(Units(wide), c.wide) << Hex(c.utf8);
        EXPECT_EQ(Units(qv::FromUtf8(narrow)), c.wide) << "round trip of " << Hex(c.utf8);
    }
}

TEST(Utf8, InvalidUtf8BecomesWhatThePlatformMakesOfIt) {
    const char* inputs[] = {
        "\xC3\x28",          // lead byte followed by ASCII
        "a\xFF\x62",         // byte that never occurs in UTF-8
        "\x80",              // lone continuation byte
        "\xC0\xAF",          // overlong '/'
        "\xE2\x82",          // truncated sequence at the end
        "\xED\xA0\x80",      // encoded high surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "ok\xF0\x9F\x98x",   // truncated four-byte sequence in the middle
    };
    for (const char* input : inputs) {
        const std::wstring expected = PlatformFromUtf8(input);
        ASSERT_FALSE(expected.empty()) << "the platform replaces, it does not refuse: " << Hex(input);
        EXPECT_EQ(Units(qv::FromUtf8(input)), expected) << Hex(input);
        EXPECT_EQ(Units(qv::FromUtf8(qv::AString(input))), expected) << Hex(input);
    }
}

TEST(Utf8, LoneSurrogatesBecomeWhatThePlatformMakesOfThem) {
    const std::wstring inputs[] = {
        std::wstring(1, wchar_t(0xD800)),
        std::wstring(1, wchar_t(0xDFFF)),
        std::wstring(L"a") + wchar_t(0xD83D) + L"b",
        std::wstring(L"x") + wchar_t(0xDE00) + wchar_t(0xD83D),
    };
    for (const std::wstring& input : inputs) {
        const std::string expected = PlatformToUtf8(input);
        ASSERT_FALSE(expected.empty());
        const std::string actual = Bytes(qv::ToUtf8(qv::WString(input.c_str())));
        EXPECT_EQ(actual, expected) << "expected " << Hex(expected) << "got " << Hex(actual);
    }
}

TEST(Utf8, ConversionStopsAtTheFirstNul) {
    qv::WString wide;
    ASSERT_TRUE(wide.Assign(L"ab\0cd", 5));
    EXPECT_EQ(Bytes(qv::ToUtf8(wide)), "ab");
    qv::AString narrow;
    ASSERT_TRUE(narrow.Assign("\xC3\xA9\0z", 4));
    EXPECT_EQ(Units(qv::FromUtf8(narrow)), L"\u00E9");
}

TEST(Utf8, EmptyAndNullSourcesGiveEmptyResultsWithAFirstBuffer) {
    const qv::AString fromNothing = qv::ToUtf8(qv::WString());
    EXPECT_EQ(fromNothing.GetLength(), 0u);
    EXPECT_EQ(fromNothing.GetCapacity(), 64u);
    EXPECT_EQ(qv::ToUtf8(static_cast<const wchar_t*>(nullptr)).GetLength(), 0u);
    const qv::WString wideFromNothing = qv::FromUtf8(qv::AString());
    EXPECT_EQ(wideFromNothing.GetLength(), 0u);
    EXPECT_EQ(wideFromNothing.GetCapacity(), 64u);
    EXPECT_EQ(qv::FromUtf8(static_cast<const char*>(nullptr)).GetLength(), 0u);
}

TEST(Utf8, ResultGrowsFromItsFirstBufferForTheMeasuredSize) {
    struct Case {
        std::wstring text;
        size_t expectedCapacity;
    };
    const Case cases[] = {
        {std::wstring(62, L'a'), 64},         // 63 bytes with the NUL fit the first buffer
        {std::wstring(64, L'a'), 128},        // 65 bytes need a doubling
        {std::wstring(100, L'\u00E9'), 201},  // 201 bytes: 64 + max(137, 64)
    };
    for (const Case& c : cases) {
        const qv::AString narrow = qv::ToUtf8(qv::WString(c.text.c_str()));
        EXPECT_EQ(narrow.GetCapacity(), c.expectedCapacity) << c.text.size() << " characters";
        EXPECT_EQ(Units(qv::FromUtf8(narrow)), c.text);
    }
}

TEST(Utf8, LongNonBmpTextRoundTrips) {
    std::wstring text;
    for (int i = 0; i < 3000; ++i) {
        text += L"\U0001F600\u00E9x";
    }
    const qv::AString narrow = qv::ToUtf8(qv::WString(text.c_str()));
    EXPECT_EQ(narrow.GetLength(), 3000u * 7u);
    EXPECT_EQ(Units(qv::FromUtf8(narrow)), text);
}
