// The guarded string: block layout as a debugger sees it, growth, assignment, move, Format, managers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/strings/qv_string.h"
#include "tests/support/strings/test_mem_mgr.h"

using qv::AString;
using qv::StringRecord;
using qv::WString;
using qv_test::RecordedAString;
using qv_test::RecordedWString;
using qv_test::Recorder;
using qv_test::RecordingMemMgr;

namespace {

uint32_t ReadU32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

// The block behind a string's pointer, read byte by byte the way the host's debugger reads it.
struct BlockView {
    const unsigned char* block;
    uint32_t leadingGuard;
    const StringRecord* record;
    uint32_t secondGuard;
};

template <typename S>
BlockView ViewBlock(const S& s) {
    const auto* chars = reinterpret_cast<const unsigned char*>(s.GetString());
    BlockView view{chars - 16, 0, nullptr, 0};
    view.leadingGuard = ReadU32(view.block);
    std::memcpy(&view.record, view.block + 4, sizeof(view.record));
    view.secondGuard = ReadU32(view.block + 12);
    return view;
}

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

class StringWithRecorder : public testing::Test {
protected:
    void SetUp() override { Recorder().Reset(); }
    void TearDown() override { Recorder().Reset(); }
};

}  // namespace

TEST_F(StringWithRecorder, ThreeWideCharactersMakeA150ByteBlockLaidOutByteForByte) {
    RecordedWString s;
    s = L"abc";
    ASSERT_EQ(Recorder().calls, (std::vector<std::string>{"Reallocate null 150"}));

    const BlockView view = ViewBlock(s);
    const unsigned char guardBytes[4] = {0xCD, 0xAB, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(view.block, guardBytes, 4), 0);
    EXPECT_EQ(std::memcmp(view.block + 12, guardBytes, 4), 0);
    EXPECT_EQ(std::memcmp(view.block + 150 - 4, guardBytes, 4), 0) << "trailing guard ends the 150-byte block";
    EXPECT_EQ(std::memcmp(view.block + 16, L"abc", 4 * sizeof(wchar_t)), 0);

    ASSERT_NE(view.record, nullptr);
    EXPECT_EQ(view.record->manager, qv::DefaultMemMgr<RecordingMemMgr>());
    EXPECT_EQ(view.record->length, 3u);
    EXPECT_EQ(view.record->capacity, 64u);
    EXPECT_EQ(view.record->growth, 64u);
    EXPECT_EQ(view.record->blockOwned, 1);
    EXPECT_EQ(view.record->recordOnHeap, 1);
    EXPECT_EQ(s.GetLength(), 3u);
    EXPECT_EQ(s.GetCapacity(), 64u);
}

TEST_F(StringWithRecorder, NarrowBlockCarriesItsTrailingGuardUnaligned) {
    RecordedAString s;
    s = "abc";
    ASSERT_EQ(Recorder().calls, (std::vector<std::string>{"Reallocate null 85"}));
    const BlockView view = ViewBlock(s);
    EXPECT_EQ(view.leadingGuard, qv::kStringGuard);
    EXPECT_EQ(view.secondGuard, qv::kStringGuard);
    EXPECT_EQ(ReadU32(view.block + 16 + 65), qv::kStringGuard);
    EXPECT_EQ(view.block[16 + 64], 0) << "NUL slot at index capacity";
}

TEST_F(StringWithRecorder, DestructionFreesTheBlockFromItsFirstGuardThenReleases) {
    const void* block = nullptr;
    {
        RecordedWString s(L"abc");
        block = ViewBlock(s).block;
        Recorder().calls.clear();
    }
    EXPECT_EQ(Recorder().calls, (std::vector<std::string>{"Free", "Release"}));
    ASSERT_EQ(Recorder().freed.size(), 1u);
    EXPECT_EQ(Recorder().freed[0], block);
}

TEST_F(StringWithRecorder, GrowthResizesThroughReallocate) {
    RecordedWString s(L"abc");
    Recorder().calls.clear();
    s.Append(Repeat(L'x', 100).c_str());
    EXPECT_EQ(Recorder().calls, (std::vector<std::string>{"Reallocate 278"}));  // 16 + 129 * 2 + 4
    EXPECT_EQ(s.GetCapacity(), 128u);
}

TEST(String, CapacityFollowsTheGrowthRule) {
    struct Case {
        size_t initialCapacity;  // 0: no buffer
        size_t assigned;
        size_t expectedCapacity;
    };
    const Case cases[] = {
        {0, 3, 64},         {0, 0, 64},         {0, 64, 64},        {0, 65, 65},        {64, 100, 128},
        {64, 64, 64},       {64, 65, 128},      {100, 300, 300},    {1000, 1001, 2000}, {1024, 1025, 2048},
        {2048, 5000, 5000}, {2048, 2100, 3072}, {2048, 2048, 2048}, {3072, 10, 3072},
    };
    for (const Case& c : cases) {
        WString s;
        if (c.initialCapacity != 0) {
            ASSERT_TRUE(s.Reserve(c.initialCapacity));
        }
        const std::wstring text = Repeat(L'q', c.assigned);
        ASSERT_TRUE(s.Assign(text.c_str(), text.size()));
        EXPECT_EQ(s.GetCapacity(), c.expectedCapacity)
            << "capacity " << c.initialCapacity << " assigned " << c.assigned;
        EXPECT_EQ(s.GetLength(), c.assigned);
        EXPECT_EQ(std::wstring(s.GetString()), text);
    }
}

TEST(String, WithoutBufferReadsAsEmptyNeverNull) {
    WString wide;
    AString narrow;
    ASSERT_NE(wide.GetString(), nullptr);
    ASSERT_NE(narrow.c_str(), nullptr);
    EXPECT_EQ(wide.GetString()[0], L'\0');
    EXPECT_EQ(narrow.c_str()[0], '\0');
    EXPECT_EQ(wide.GetLength(), 0u);
    EXPECT_EQ(wide.GetCapacity(), 0u);
    EXPECT_TRUE(wide.IsEmpty());
    EXPECT_FALSE(wide.HasBuffer());
    EXPECT_EQ(wide.GetBuffer(), nullptr);
}

TEST(String, ConstructedWithCapacityHasExactlyThatCapacity) {
    WString s(64);
    EXPECT_TRUE(s.HasBuffer());
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(ViewBlock(s).record->growth, 64u);
}

TEST(String, NullAssignmentEmptiesTheString) {
    WString fresh;
    fresh = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(fresh.HasBuffer());
    EXPECT_EQ(fresh.GetCapacity(), 64u);
    EXPECT_EQ(fresh.GetLength(), 0u);
    EXPECT_EQ(fresh, L"");

    WString used(Repeat(L'z', 200).c_str());
    const size_t capacity = used.GetCapacity();
    used = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(used.GetLength(), 0u);
    EXPECT_EQ(used.GetString()[0], L'\0');
    EXPECT_EQ(used.GetCapacity(), capacity) << "emptying keeps the buffer";

    WString constructed(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(constructed.GetLength(), 0u);
    EXPECT_EQ(constructed.GetCapacity(), 64u);
}

TEST(String, SelfAssignmentKeepsTextAndBuffer) {
    WString s(L"keep me");
    const wchar_t* before = s.GetString();
    WString& alias = s;
    s = alias;
    EXPECT_EQ(s, L"keep me");
    EXPECT_EQ(s.GetString(), before);
    s = s.GetString();
    EXPECT_EQ(s, L"keep me");
    EXPECT_EQ(s.GetString(), before);
    s = std::move(alias);
    EXPECT_EQ(s, L"keep me");
    EXPECT_EQ(s.GetString(), before);
}

TEST(String, AssigningPartOfTheOwnTextMovesItToTheFront) {
    WString s(L"prefix-tail");
    s = s.GetString() + 7;
    EXPECT_EQ(s, L"tail");
    EXPECT_EQ(s.GetLength(), 4u);
}

TEST(String, CopiesAreDeep) {
    WString original(L"shared?");
    WString copy(original);
    WString assigned;
    assigned = original;
    EXPECT_NE(copy.GetString(), original.GetString());
    EXPECT_NE(assigned.GetString(), original.GetString());
    copy.GetBuffer()[0] = L'S';
    EXPECT_EQ(original, L"shared?");
    EXPECT_EQ(copy, L"Shared?");
    EXPECT_EQ(assigned, L"shared?");

    WString empty;
    WString emptyCopy(empty);
    EXPECT_FALSE(emptyCopy.HasBuffer());
}

TEST(String, MoveTakesTheBufferAndLeavesTheSourceWithout) {
    WString source(L"moving text");
    const wchar_t* buffer = source.GetString();

    WString constructed(std::move(source));
    EXPECT_EQ(constructed.GetString(), buffer);
    EXPECT_FALSE(source.HasBuffer());  // NOLINT(bugprone-use-after-move): the moved-from state is the subject
    EXPECT_EQ(source.GetLength(), 0u);
    EXPECT_EQ(source.GetString()[0], L'\0');

    WString target(L"old text of the target");
    target = std::move(constructed);
    EXPECT_EQ(target.GetString(), buffer);
    EXPECT_EQ(target, L"moving text");
    EXPECT_FALSE(constructed.HasBuffer());  // NOLINT(bugprone-use-after-move)
}

TEST_F(StringWithRecorder, MoveAssignmentGivesTheTargetsOldBufferBack) {
    RecordedWString target(L"old");
    RecordedWString source(L"new");
    const void* oldBlock = ViewBlock(target).block;
    Recorder().calls.clear();
    target = std::move(source);
    EXPECT_EQ(Recorder().calls, (std::vector<std::string>{"Free", "Release"}));
    ASSERT_EQ(Recorder().freed.size(), 1u);
    EXPECT_EQ(Recorder().freed[0], oldBlock);
    EXPECT_EQ(target, L"new");
}

TEST(String, MoveFromAnotherManagerCopiesAndLeavesTheSource) {
    RecordingMemMgr other;
    WString source(&other, 64);
    ASSERT_TRUE(source.Assign(L"foreign", 7));
    ASSERT_EQ(ViewBlock(source).record->manager, &other);

    WString target(L"mine");
    target = std::move(source);
    EXPECT_EQ(target, L"foreign");
    EXPECT_NE(target.GetString(), source.GetString());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(ViewBlock(target).record->manager, qv::DefaultMemMgr<qv::StringMemMgr>());
    EXPECT_EQ(source, L"foreign") << "a copied source keeps its buffer";

    WString constructed(std::move(source));
    EXPECT_EQ(constructed, L"foreign");
    EXPECT_TRUE(source.HasBuffer());
}

TEST(String, ReserveWithARefusingManagerLeavesTheStringUnchanged) {
    RecordingMemMgr refusing;
    WString s(&refusing, 64);
    ASSERT_TRUE(s.Assign(L"stay", 4));
    const wchar_t* before = s.GetString();
    refusing.RefuseAll();

    EXPECT_FALSE(s.Reserve(1000));
    EXPECT_EQ(s.GetString(), before);
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_EQ(s, L"stay");

    const std::wstring big = Repeat(L'b', 500);
    EXPECT_FALSE(s.Assign(big.c_str(), big.size()));
    EXPECT_EQ(s, L"stay");

    WString never(&refusing, 64);
    EXPECT_FALSE(never.HasBuffer());
}

TEST(String, ReserveFallsBackToAllocateAndCopyWhenReallocateFails) {
    RecordingMemMgr manager;
    WString s(&manager, 64);
    ASSERT_TRUE(s.Assign(L"carried over", 12));
    const void* oldBlock = ViewBlock(s).block;
    manager.refuseReallocate = true;
    manager.calls.clear();

    ASSERT_TRUE(s.Reserve(500));
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"Reallocate 1022", "Allocate 1022", "Free"}));
    EXPECT_EQ(manager.freed, (std::vector<void*>{const_cast<void*>(oldBlock)}));
    EXPECT_EQ(s, L"carried over");
    EXPECT_EQ(s.GetCapacity(), 500u);
    const BlockView view = ViewBlock(s);
    EXPECT_EQ(view.leadingGuard, qv::kStringGuard);
    EXPECT_EQ(ReadU32(view.block + 1022 - 4), qv::kStringGuard);
}

TEST(String, SmallerReserveCutsTheText) {
    WString s(L"abcdefgh");
    ASSERT_TRUE(s.Reserve(3));
    EXPECT_EQ(s.GetCapacity(), 3u);
    EXPECT_EQ(s.GetLength(), 3u);
    EXPECT_EQ(s, L"abc");
    ASSERT_TRUE(s.Reserve(100));
    EXPECT_EQ(s, L"abc");
}

TEST(String, AppendAddsAtTheEnd) {
    WString s;
    s.Append(L"one");
    s.Append(nullptr, 5);
    s.Append(L"ignored", 0);
    s.Append(L", two, three", 5);
    EXPECT_EQ(s, L"one, two");
    EXPECT_EQ(s.GetLength(), 8u);

    const std::wstring chunk = Repeat(L'c', 700);
    for (int i = 0; i < 4; ++i) {
        s.Append(chunk.c_str(), chunk.size());
    }
    EXPECT_EQ(std::wstring(s.GetString()), L"one, two" + chunk + chunk + chunk + chunk);
}

TEST(String, AppendingTheOwnTextSurvivesTheBufferMoving) {
    WString s(Repeat(L'd', 60).c_str());
    for (int i = 0; i < 5; ++i) {
        s.Append(s.GetString(), s.GetLength());
    }
    EXPECT_EQ(std::wstring(s.GetString()), Repeat(L'd', 60 * 32));
}

TEST(String, ConcatenationLeavesItsOperandsAlone) {
    const WString left(L"left ");
    const WString right(L"right");
    const WString both = left + right;
    EXPECT_EQ(both, L"left right");
    EXPECT_EQ(both.GetLength(), 10u);
    EXPECT_EQ(left, L"left ");
    EXPECT_EQ(right, L"right");
    EXPECT_EQ(WString() + right, L"right");
    EXPECT_EQ(left + WString(), L"left ");
}

TEST(String, EqualityComparesLengthAndCharacters) {
    WString withNul;
    ASSERT_TRUE(withNul.Assign(L"ab\0c", 4));
    EXPECT_NE(withNul, WString(L"ab"));
    EXPECT_EQ(withNul.GetLength(), 4u);
    EXPECT_EQ(WString(L"x"), WString(L"x"));
    EXPECT_NE(WString(L"x"), WString(L"y"));
    EXPECT_EQ(WString(), static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(WString(), L"");
}

TEST(String, SetLengthAfterWritingTheBufferDirectly) {
    AString s(64);
    std::strcpy(s.GetBuffer(), "written");
    s.SetLength(AString::npos);
    EXPECT_EQ(s.GetLength(), 7u);
    EXPECT_EQ(s, "written");
    s.SetLength(5);
    EXPECT_EQ(s, "writt");
    EXPECT_EQ(s.GetString()[5], '\0');
}

TEST(StringFormat, FormatsThroughTheRuntime) {
    struct Case {
        const char* what;
        std::string actual;
        std::string expected;
    };
    auto format = [](auto... args) {
        AString s;
        s.Format(args...);
        return std::string(s.GetString(), s.GetLength());
    };
    const Case cases[] = {
        {"%d", format("%d", 42), "42"},
        {"%s is narrow", format("[%s|%s]", "ab", "c\xC3\xA9"), "[ab|c\xC3\xA9]"},
        {"%5.2f", format("%5.2f", 3.14159), " 3.14"},
        {"%zu and %lld", format("%zu %lld", static_cast<size_t>(18446744073709551615ull), -9000000000ll),
         "18446744073709551615 -9000000000"},
        {"%x and %%", format("%x%%", 255u), "ff%"},
        {"no arguments", format("plain"), "plain"},
        {"empty", format(""), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.what;
    }
}

TEST(StringFormat, FortyTwoFillsAFirstBufferOf64) {
    AString s;
    s.Format("%d", 42);
    EXPECT_EQ(s, "42");
    EXPECT_EQ(s.GetLength(), 2u);
    EXPECT_EQ(s.GetCapacity(), 64u);
}

TEST(StringFormat, LongTextGrowsTheBuffer) {
    const std::string part(3000, 'p');
    AString s("short");
    s.Format("<%s>", part.c_str());
    EXPECT_EQ(s.GetLength(), 3002u);
    EXPECT_GE(s.GetCapacity(), 3004u);
    EXPECT_EQ(std::string(s.GetString()), "<" + part + ">");
}

TEST(StringFormat, NullFormatEmptiesTheString) {
    AString s("text");
    s.Format(nullptr);
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s, "");
    AString fresh;
    fresh.Format(nullptr);
    EXPECT_EQ(fresh.GetCapacity(), 64u);
}
