// Files and folders: whole trees removed whether or not the folder is named with its trailing backslash, listings
// filtered by suffix, whole-file reads bounded, replacements and appends.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "equipment/files.h"
#include "equipment/folders.h"

namespace {

using namespace equipment;

// A tree of files and folders, nested and empty, under root (with its trailing backslash).
void MakeTree(const std::wstring& root) {
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    for (const wchar_t* folder : {L"a", L"a\\b", L"a\\b\\c", L"empty"}) {
        ASSERT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr));
    }
    for (const wchar_t* file : {L"top.txt", L"a\\one.txt", L"a\\b\\two.txt", L"a\\b\\c\\three.txt"}) {
        ASSERT_TRUE(WriteFileText(root + file, "text"));
    }
}

struct RemovalCase {
    const char* name;
    bool trailing_separator;
};

class RemoveTreeTest : public testing::TestWithParam<RemovalCase> {};

TEST_P(RemoveTreeTest, RemovesTheFolderWithEverythingInIt) {
    TempFolder scratch;
    const std::wstring root = scratch.File(L"tree\\");
    MakeTree(root);
    RemoveTree(GetParam().trailing_separator ? root : root.substr(0, root.size() - 1));
    EXPECT_FALSE(FileExists(root));
    EXPECT_TRUE(FileExists(scratch.Path())) << "removed more than the tree";
}

INSTANTIATE_TEST_SUITE_P(Folders, RemoveTreeTest,
                         testing::Values(RemovalCase{"NamedWithItsTrailingBackslash", true},
                                         RemovalCase{"NamedWithoutIt", false}),
                         [](const testing::TestParamInfo<RemovalCase>& info) { return info.param.name; });

TEST(Folders, ListFilesNamesOnlyTheFilesWithTheSuffixInOrder) {
    TempFolder scratch;
    for (const wchar_t* name : {L"b.json", L"a.JSON", L"c.txt", L"json"}) {
        ASSERT_TRUE(scratch.Write(name, "{}"));
    }
    ASSERT_TRUE(CreateDirectoryW(scratch.File(L"d.json").c_str(), nullptr));
    EXPECT_EQ(ListFiles(scratch.Dir(), L".json"), (std::vector<std::wstring>{L"a.JSON", L"b.json"}));
    EXPECT_EQ(ListFiles(scratch.Path(), L".json"), (std::vector<std::wstring>{L"a.JSON", L"b.json"}));
}

TEST(Files, ReadWholeFileReadsNoFileBeyondItsLimit) {
    TempFolder scratch;
    ASSERT_TRUE(scratch.Write(L"f.txt", "12345"));
    std::string text = "left over";
    EXPECT_EQ(ReadWholeFile(scratch.File(L"f.txt"), 4, text), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(text, "");
    EXPECT_EQ(ReadWholeFile(scratch.File(L"f.txt"), 5, text), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(text, "12345");
    EXPECT_EQ(ReadWholeFile(scratch.File(L"missing.txt"), 5, text), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Files, ReplacementLeavesOnlyTheNewText) {
    TempFolder scratch;
    const std::wstring path = scratch.File(L"doc.json");
    ASSERT_TRUE(WriteFileText(path, "old and longer"));
    EXPECT_EQ(ReplaceFileAtomically(path, "new"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadFileText(path), "new");
    EXPECT_FALSE(FileExists(path + L".tmp"));
}

TEST(Files, AppendAddsToTheEnd) {
    TempFolder scratch;
    const std::wstring path = scratch.File(L"events.jsonl");
    EXPECT_EQ(AppendToFile(path, "one\n"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(AppendToFile(path, "two\n"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadFileLines(path), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
