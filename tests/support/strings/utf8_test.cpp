// ToUtf8 and FromUtf8: round trips, and malformed input converted exactly as the platform converter does.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/strings/utf8.h"

namespace {

std::string Bytes(const qv::AString& s) { return std::string(s.GetString(), s.GetLength()); }
std::wstring Units(const qv::WString& s) { return std::wstring(s.GetString(), s.GetLength()); }

}  // namespace

TEST(Utf8, RoundTripsTextOfEveryPlane) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"", ""},
        {L"plain ascii", "plain ascii"},
        {L"Gr\u00FC\u00DFe", "Gr\xC3\xBC\xC3\x9F\x65"},
        {L"\u65E5\u672C\u8A9E", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {L"a\U00010348b\U0010FFFF", "a\xF0\x90\x8D\x88\x62\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [wide, utf8] : cases) {
        EXPECT_EQ(Bytes(qv::ToUtf8(qv::WString(wide))), utf8);
        EXPECT_EQ(Units(qv::FromUtf8(qv::AString(utf8))), wide);
    }
    std::wstring long_text;
    for (int i = 0; i < 3000; ++i) {
        long_text += L"\U0001F600\u00E9x";
    }
    const qv::AString narrow = qv::ToUtf8(long_text.c_str());
    EXPECT_EQ(narrow.GetLength(), 3000u * 7u);
    EXPECT_EQ(Units(qv::FromUtf8(narrow)), long_text);
}

TEST(Utf8, MalformedTextBecomesWhatThePlatformMakesOfIt) {
    for (const char* input :
         {"\xC3\x28", "a\xFF\x62", "\x80", "\xC0\xAF", "\xE2\x82", "\xED\xA0\x80", "ok\xF0\x9F\x98x"}) {
        std::vector<wchar_t> expected(64);
        EXPECT_GT(MultiByteToWideChar(CP_UTF8, 0, input, -1, expected.data(), 64), 1);
        EXPECT_EQ(Units(qv::FromUtf8(input)), expected.data());
    }
    for (const std::wstring input : {std::wstring(1, wchar_t(0xD800)), std::wstring(L"a") + wchar_t(0xDFFF) + L"b"}) {
        std::vector<char> expected(64);
        EXPECT_GT(WideCharToMultiByte(CP_UTF8, 0, input.c_str(), -1, expected.data(), 64, nullptr, nullptr), 1);
        EXPECT_EQ(Bytes(qv::ToUtf8(qv::WString(input.c_str()))), expected.data());
    }
}

TEST(Utf8, EmptyResultsGetAFirstBuffer) {
    for (const qv::AString& empty : {qv::ToUtf8(qv::WString()), qv::ToUtf8(static_cast<const wchar_t*>(nullptr))}) {
        EXPECT_EQ(empty.GetLength(), 0u);
        EXPECT_EQ(empty.GetCapacity(), 64u);
    }
    EXPECT_EQ(qv::FromUtf8(qv::AString()).GetCapacity(), 64u);
    EXPECT_EQ(qv::FromUtf8(static_cast<const char*>(nullptr)).GetLength(), 0u);
}

TEST(Utf8, ConversionStopsAtTheFirstNul) {
    qv::WString wide;
    ASSERT_TRUE(wide.Assign(L"ab\0cd", 5));
    EXPECT_EQ(Bytes(qv::ToUtf8(wide)), "ab");
}

TEST(Utf8, ResultsGrowToTheMeasuredSize) {
    // 63 bytes with the NUL fit the first buffer; 65 need a doubling; 201 need 64 + max(137, 64).
    const std::pair<std::wstring, size_t> sizes[] = {
        {std::wstring(62, L'a'), 64}, {std::wstring(64, L'a'), 128}, {std::wstring(100, L'\u00E9'), 201}};
    for (const auto& [text, capacity] : sizes) {
        EXPECT_EQ(qv::ToUtf8(text.c_str()).GetCapacity(), capacity) << text.size();
    }
}

TEST(Utf8, AssignFromUtf8GivesWhatFromUtf8GivesInTheStringsOwnBuffer) {
    std::string long_text;
    for (int i = 0; i < 300; ++i) {
        long_text += "\xF0\x9F\x98\x80\xC3\xA9x";
    }
    const char* const inputs[] = {nullptr, "", "policy-0001", "Gr\xC3\xBC\xC3\x9F\x65", "a\xFF\x62", long_text.c_str()};
    for (const char* input : inputs) {
        qv::WString target(L"an earlier, longer text that the conversion replaces");
        const wchar_t* buffer = target.GetString();
        const size_t capacity = target.GetCapacity();
        qv::AssignFromUtf8(target, input);
        const std::wstring expected = Units(qv::FromUtf8(input));
        EXPECT_EQ(Units(target), expected);
        if (expected.size() <= capacity) {
            EXPECT_EQ(target.GetString(), buffer) << "a text that fits stays in the string's buffer";
        }
    }
}
