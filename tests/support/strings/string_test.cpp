// The guarded string: its block as a debugger sees it, growth, assignment, move, append, Format and managers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/strings/qv_string.h"
#include "tests/named_rows.h"
#include "tests/support/strings/test_mem_mgr.h"

using qv::AString;
using qv::WString;
using qv_test::RecordedAString;
using qv_test::RecordedWString;
using qv_test::Recorder;
using qv_test::RecordingMemMgr;
using Calls = std::vector<std::string>;

namespace {

uint32_t ReadU32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename S>
const unsigned char* BlockOf(const S& s) {
    return reinterpret_cast<const unsigned char*>(s.GetString()) - 16;
}

template <typename S>
const qv::StringRecord* RecordOf(const S& s) {
    const qv::StringRecord* record;
    std::memcpy(&record, BlockOf(s) + 4, sizeof record);
    return record;
}

std::wstring Text(const WString& s) { return std::wstring(s.GetString(), s.GetLength()); }

}  // namespace

TEST(String, BlockLayoutMatchesTheHostsByteForByte) {
    Recorder().calls.clear();
    const void* block = nullptr;
    {
        RecordedWString wide;
        wide = L"abc";
        EXPECT_EQ(Recorder().calls, Calls{"Reallocate null 150"});  // 16 + 65 * 2 + 4
        block = BlockOf(wide);
        EXPECT_EQ(ReadU32(BlockOf(wide)), 0xABCDu);
        EXPECT_EQ(ReadU32(BlockOf(wide) + 12), 0xABCDu);
        EXPECT_EQ(ReadU32(BlockOf(wide) + 146), 0xABCDu) << "the trailing guard ends the block";
        EXPECT_EQ(std::memcmp(BlockOf(wide) + 16, L"abc", 4 * sizeof(wchar_t)), 0);
        const qv::StringRecord* record = RecordOf(wide);
        EXPECT_EQ(record->manager, qv::DefaultMemMgr<RecordingMemMgr>());
        EXPECT_EQ(record->length, 3u);
        EXPECT_EQ(record->capacity, 64u);
        EXPECT_EQ(record->growth, 64u);
        EXPECT_EQ(record->blockOwned, 1);
        EXPECT_EQ(record->recordOnHeap, 1);
        Recorder().calls.clear();
        wide.Append(std::wstring(100, L'x').c_str());
        EXPECT_EQ(Recorder().calls, Calls{"Reallocate 278"}) << "grows in place: 16 + 129 * 2 + 4";
        block = BlockOf(wide);
        Recorder().calls.clear();
    }
    EXPECT_EQ(Recorder().calls, (Calls{"Free", "Release"}));
    EXPECT_EQ(Recorder().freed.back(), block);

    RecordedAString narrow;
    narrow = "abc";
    EXPECT_EQ(Recorder().calls.back(), "Reallocate null 85");
    EXPECT_EQ(ReadU32(BlockOf(narrow) + 16 + 65), 0xABCDu) << "unaligned after the NUL slot";
    EXPECT_EQ(BlockOf(narrow)[16 + 64], 0);
}

TEST(String, CapacityFollowsTheGrowthRule) {
    // Capacity before (0: no buffer), characters assigned, capacity after.
    const size_t cases[][3] = {{0, 3, 64},         {0, 0, 64},         {0, 65, 65},        {64, 64, 64},
                               {64, 65, 128},      {64, 100, 128},     {100, 300, 300},    {1000, 1001, 2000},
                               {1024, 1025, 2048}, {2048, 5000, 5000}, {2048, 2100, 3072}, {3072, 10, 3072}};
    ForEachRow(cases, [](const auto& c) {
        WString s;
        ASSERT_TRUE(c[0] == 0 || s.Reserve(c[0]));
        const std::wstring text(c[1], L'q');
        ASSERT_TRUE(s.Assign(text.c_str(), text.size()));
        EXPECT_EQ(s.GetCapacity(), c[2]);
        EXPECT_EQ(Text(s), text);
    });
}

TEST(String, WithoutABufferReadsAsEmpty) {
    WString none;
    EXPECT_STREQ(none.GetString(), L"");
    EXPECT_EQ(none.GetCapacity(), 0u);
    EXPECT_EQ(none.GetBuffer(), nullptr);
    EXPECT_FALSE(none.HasBuffer());
    EXPECT_EQ(AString().c_str()[0], '\0');
}

TEST(String, NullAssignmentLeavesAnEmptyBuffer) {
    WString none;
    none = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(none.GetCapacity(), 64u);
    EXPECT_EQ(none, L"");

    WString used(std::wstring(200, L'z').c_str());
    const size_t capacity = used.GetCapacity();
    used = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(used.GetLength(), 0u);
    EXPECT_EQ(used.GetCapacity(), capacity) << "emptying keeps the buffer";
    EXPECT_EQ(WString(static_cast<const wchar_t*>(nullptr)).GetCapacity(), 64u);
    EXPECT_EQ(WString(64).GetCapacity(), 64u);
}

TEST(String, AssignmentCopiesDeeplyEvenFromItsOwnText) {
    WString original(L"prefix-tail");
    WString copy(original);
    copy.GetBuffer()[0] = L'P';
    EXPECT_EQ(original, L"prefix-tail");
    EXPECT_EQ(copy, L"Prefix-tail");
    const wchar_t* before = original.GetString();
    WString& alias = original;
    original = alias;
    original = original.GetString();
    EXPECT_EQ(original.GetString(), before);
    EXPECT_EQ(original, L"prefix-tail");
    original = original.GetString() + 7;
    EXPECT_EQ(original, L"tail");

    WString grows(std::wstring(60, L'd').c_str());
    for (int i = 0; i < 5; ++i) {
        grows.Append(grows.GetString(), grows.GetLength());  // the source moves with the block
    }
    EXPECT_EQ(Text(grows), std::wstring(60 * 32, L'd'));
    EXPECT_FALSE(WString(WString()).HasBuffer());
}

TEST(String, MoveTakesTheBufferOnlyFromTheSameManager) {
    RecordedWString target(L"old");
    RecordedWString source(L"new");
    const void* old_block = BlockOf(target);
    const wchar_t* buffer = source.GetString();
    Recorder().calls.clear();
    target = std::move(source);
    EXPECT_EQ(Recorder().calls, (Calls{"Free", "Release"}));
    EXPECT_EQ(Recorder().freed.back(), old_block);
    EXPECT_EQ(target.GetString(), buffer);
    EXPECT_FALSE(source.HasBuffer());  // NOLINT(bugprone-use-after-move): the moved-from state is the subject
    RecordedWString constructed(std::move(target));
    EXPECT_EQ(constructed.GetString(), buffer);

    RecordingMemMgr other;
    WString foreign(&other, 64);
    ASSERT_TRUE(foreign.Assign(L"foreign", 7));
    WString mine(L"mine");
    mine = std::move(foreign);
    EXPECT_EQ(mine, L"foreign");
    EXPECT_EQ(RecordOf(mine)->manager, qv::DefaultMemMgr<qv::StringMemMgr>());
    EXPECT_EQ(foreign, L"foreign") << "a copied source keeps its buffer";  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(WString(std::move(foreign)).HasBuffer() && foreign.HasBuffer());
}

TEST(String, ReserveKeepsTheTextWhenMemoryIsShort) {
    RecordingMemMgr manager;
    WString s(&manager, 64);
    ASSERT_TRUE(s.Assign(L"carried over", 12));
    const void* old_block = BlockOf(s);
    manager.refuseReallocate = true;
    manager.calls.clear();
    ASSERT_TRUE(s.Reserve(500));
    EXPECT_EQ(manager.calls, (Calls{"Reallocate 1022", "Allocate 1022", "Free"}));
    EXPECT_EQ(manager.freed, std::vector<void*>{const_cast<void*>(old_block)});
    EXPECT_EQ(s, L"carried over");
    EXPECT_EQ(ReadU32(BlockOf(s) + 1022 - 4), 0xABCDu);

    manager.RefuseAll();
    const wchar_t* before = s.GetString();
    EXPECT_FALSE(s.Reserve(1000));
    EXPECT_FALSE(s.Assign(std::wstring(600, L'b').c_str(), 600));
    EXPECT_EQ(s.GetString(), before);
    EXPECT_EQ(s.GetCapacity(), 500u);
    EXPECT_EQ(s, L"carried over");
    EXPECT_FALSE(WString(&manager, 64).HasBuffer());
}

TEST(String, ReserveBelowTheLengthCutsTheText) {
    WString cut(L"abcdefgh");
    ASSERT_TRUE(cut.Reserve(3));
    EXPECT_EQ(cut, L"abc");
    EXPECT_EQ(cut.GetCapacity(), 3u);
}

TEST(String, AppendTakesAtMostTheGivenLength) {
    WString s;
    s.Append(L"one");
    s.Append(nullptr, 5);
    s.Append(L", two, three", 5);
    const std::wstring chunk(1500, L'c');
    s.Append(chunk.c_str(), chunk.size());
    EXPECT_EQ(Text(s), L"one, two" + chunk);
}

TEST(String, ConcatenationJoinsBothTexts) {
    const WString left(L"left "), right(L"right");
    EXPECT_EQ(left + right, L"left right");
    EXPECT_EQ(WString() + right, L"right");
}

TEST(String, EqualityComparesEveryCharacter) {
    WString with_nul;
    ASSERT_TRUE(with_nul.Assign(L"ab\0c", 4));
    EXPECT_NE(with_nul, WString(L"ab"));
    EXPECT_NE(WString(L"x"), WString(L"y"));
    EXPECT_EQ(WString(), static_cast<const wchar_t*>(nullptr));
}

TEST(String, SetLengthMeasuresOrCutsTheText) {
    AString written(64);
    std::strcpy(written.GetBuffer(), "written");
    written.SetLength(AString::npos);
    EXPECT_EQ(written.GetLength(), 7u);
    written.SetLength(5);
    EXPECT_EQ(written, "writt");
}

TEST(String, FormatReplacesTheOldText) {
    auto format = [](auto... args) {
        AString f("old text");
        f.Format(args...);
        return std::string(f.GetString(), f.GetLength());
    };
    EXPECT_EQ(format("[%s|%5.2f|%x%%|%zu]", "c\xC3\xA9", 3.14159, 255u, static_cast<size_t>(-1)),
              "[c\xC3\xA9| 3.14|ff%|18446744073709551615]");
    const std::string part(3000, 'p');
    EXPECT_EQ(format("<%s>", part.c_str()), "<" + part + ">");
    EXPECT_EQ(format(static_cast<const char*>(nullptr)), "");
    AString fresh;
    fresh.Format("%d", 42);
    EXPECT_EQ(fresh, "42");
    EXPECT_EQ(fresh.GetCapacity(), 64u);
}
