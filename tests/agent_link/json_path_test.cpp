// Path lookup, string reads and parsing over JSON documents.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "agent_link/json_path.h"
#include "tests/named_rows.h"

// While set, every allocation fails, as it would with the heap exhausted.
bool g_refuse_memory = false;
void* operator new(std::size_t size) {
    void* block = g_refuse_memory ? nullptr : std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

Json::Value Parse(const char* text) {
    Json::Value v;
    EXPECT_TRUE(JsonParse(v, text)) << text;
    return v;
}

struct SegmentRow {
    const char* name;
    const char* cursor;
    const char* segment;
    int index;
    const char* rest;
};
const SegmentRow kSegments[] = {
    {"name before a slash", "content/files", "content", -1, "files"},
    {"name before a backslash", "content\\files", "content", -1, "files"},
    {"last name", "files", "files", -1, ""},
    {"name with an index", "list[1]", "list", 1, ""},
    {"first of two indexes", "a[0][1]", "a", 0, "[1]"},
    {"index alone", "[1]", "", 1, ""},
    {"index that is no number reads 0", "a[x]", "a", 0, ""},
    {"empty index reads 0", "a[]", "a", 0, ""},
    {"index after a blank", "a[ 7]", "a", 7, ""},
    {"negative index", "a[-1]", "a", -1, ""},
    {"index before a slash", "a[0]/b", "a", 0, "/b"},
};

using JsonSegment = testing::TestWithParam<SegmentRow>;
TEST_P(JsonSegment, IsSplitOffTheCursor) {
    const SegmentRow& row = GetParam();
    std::string name = "stale";
    int index = 99;
    const char* rest = JsonNextSegment(name, index, row.cursor);
    ASSERT_NE(rest, nullptr);
    EXPECT_STREQ(rest, row.rest);
    EXPECT_EQ(name, row.segment);
    EXPECT_EQ(index, row.index);
}
VORN_TEST_ROWS(JsonSegment, kSegments);

TEST(JsonNextSegment, RefusesACursorWithoutAWellFormedSegment) {
    for (const char* cursor : {"a[0", "/files", "", static_cast<const char*>(nullptr)}) {
        std::string name;
        int index = 0;
        EXPECT_EQ(JsonNextSegment(name, index, cursor), nullptr) << (cursor ? cursor : "null");
    }
}

const char kDoc[] = R"({"content": {"files": [1, 2]}, "list": [10, 20], "a": [[0, 5]], "n": null, "s": "text"})";
struct LookupRow {
    const char* name;
    const char* doc;
    const char* path;
    Json::Value& (*node)(Json::Value& doc);
};
Json::Value& Files(Json::Value& d) { return d["content"]["files"]; }
const LookupRow kLookups[] = {
    {"slashes", kDoc, "content/files", Files},
    {"leading slash", kDoc, "/content/files", Files},
    {"backslash", kDoc, "content\\files", Files},
    {"leading backslash", kDoc, "\\content/files", Files},
    {"trailing slash", kDoc, "content/", [](Json::Value& d) -> Json::Value& { return d["content"]; }},
    {"slash alone is the root", kDoc, "/", [](Json::Value& d) -> Json::Value& { return d; }},
    {"index", kDoc, "list[1]", [](Json::Value& d) -> Json::Value& { return d["list"][1]; }},
    {"two indexes", kDoc, "a[0][1]", [](Json::Value& d) -> Json::Value& { return d["a"][0][1]; }},
    {"index that is no number is 0", kDoc, "a[x]", [](Json::Value& d) -> Json::Value& { return d["a"][0]; }},
    {"negative index stays on the array", kDoc, "a[-1]", [](Json::Value& d) -> Json::Value& { return d["a"]; }},
    {"index alone on an array root", "[3, 4]", "[1]", [](Json::Value& d) -> Json::Value& { return d[1]; }},
    {"index 0 alone on an array root", "[3, 4]", "[0]", [](Json::Value& d) -> Json::Value& { return d[0]; }},
};

using JsonFindNodeLookup = testing::TestWithParam<LookupRow>;
TEST_P(JsonFindNodeLookup, FindsTheNodeThePathLeadsTo) {
    Json::Value doc = Parse(GetParam().doc);
    Json::Value* node = &GetParam().node(doc);
    EXPECT_EQ(JsonFindNode(&doc, GetParam().path, false), node);
    EXPECT_EQ(JsonFindNode(static_cast<const Json::Value*>(&doc), GetParam().path), node);
}
VORN_TEST_ROWS(JsonFindNodeLookup, kLookups);

}  // namespace

TEST(JsonFindNode, FindsNothingWhereThePathLeadsNowhere) {
    Json::Value doc = Parse(kDoc);
    for (const char* path :
         {"", "content//files", "list[2]", "a[0", "missing", "s/x", "n", "content/files/x", "list[0]/x"}) {
        EXPECT_EQ(JsonFindNode(&doc, path, false), nullptr) << path;
    }
    EXPECT_EQ(JsonFindNode(static_cast<Json::Value*>(nullptr), "a", false), nullptr);
    EXPECT_EQ(JsonFindNode(&doc, nullptr, false), nullptr);
    Json::Value null_root;
    EXPECT_EQ(JsonFindNode(&null_root, "/", false), nullptr);
}

TEST(JsonFindNode, CreateModeAddsTheMissingMembers) {
    Json::Value fresh;
    Json::Value* custid = JsonFindNode(&fresh, "id/custid", true);
    ASSERT_NE(custid, nullptr);
    EXPECT_TRUE(custid->isNull());
    EXPECT_TRUE(fresh["id"].isObject());
    EXPECT_TRUE(fresh["id"].isMember("custid"));
    Json::Value null_root;
    EXPECT_EQ(JsonFindNode(&null_root, "/", true), &null_root);
}

TEST(JsonFindNode, CreateModeReplacesAValueOnThePathThatIsNoObject) {
    Json::Value doc = Parse(R"({"conn": {"proxy": "direct", "keep": 1}})");
    Json::Value* port = JsonFindNode(&doc, "conn/proxy/port", true);
    ASSERT_NE(port, nullptr);
    *port = 8080;
    EXPECT_EQ(doc["conn"]["proxy"], Parse(R"({"port": 8080})"));
    EXPECT_EQ(doc["conn"]["keep"], 1);
}

TEST(JsonFindNode, CreateModeGrowsAnArrayToTheIndex) {
    Json::Value doc = Parse(R"({"list": [1, 2]})");
    Json::Value* third = JsonFindNode(&doc, "list[2]", true);
    ASSERT_NE(third, nullptr);
    EXPECT_TRUE(third->isNull());
    EXPECT_EQ(doc["list"].size(), 3u);
    EXPECT_EQ(third, &doc["list"][2]);
    Json::Value fresh;
    ASSERT_NE(JsonFindNode(&fresh, "srv[1]", true), nullptr);
    EXPECT_EQ(fresh["srv"].size(), 2u);
}

// Indexing into a string is not something the library can do; the lookup misses instead of throwing.
TEST(JsonFindNode, CreateModeMissesAnIndexIntoAString) {
    Json::Value text = Parse(R"({"s": "x"})");
    EXPECT_EQ(JsonFindNode(&text, "s[0]", true), nullptr);
}

namespace {

const char kValues[] = R"({"s": "h\u00e9llo", "i": 7, "neg": -7, "max": 4294967295, "min": -2147483648,
                           "big": 4294967296, "real": 3.5, "b": true, "o": {}, "a": [], "n": null})";
struct ReadRow {
    const char* name;
    const char* path;
    const char* text;
};
const ReadRow kReads[] = {
    {"text", "s", "h\xC3\xA9llo"},
    {"integer", "i", "7"},
    {"negative integer", "neg", "-7"},
    {"largest unsigned", "max", "4294967295"},
    {"smallest signed", "min", "-2147483648"},
};

using JsonStringRead = testing::TestWithParam<ReadRow>;
TEST_P(JsonStringRead, ReadsTheValueAsUtf8Text) {
    const Json::Value doc = Parse(kValues);
    std::string out = "stale";
    EXPECT_TRUE(JsonReadString(out, &doc, GetParam().path));
    EXPECT_EQ(out, GetParam().text);
}
VORN_TEST_ROWS(JsonStringRead, kReads);

}  // namespace

TEST(JsonReadString, FailsWithAnEmptyTextForOtherValues) {
    const Json::Value doc = Parse(kValues);
    for (const char* path : {"big", "real", "b", "o", "a", "n", "missing"}) {
        std::string out = "stale";
        EXPECT_FALSE(JsonReadString(out, &doc, path)) << path;
        EXPECT_EQ(out, "") << path;
    }
}

// A text the reader refuses, by its verdict or by throwing at its nesting limit, is a failure.
TEST(JsonParse, RefusesATextThatDoesNotParse) {
    Json::Value out(5);
    EXPECT_FALSE(JsonParse(out, nullptr));
    EXPECT_EQ(out, Json::Value(5));
    EXPECT_FALSE(JsonParse(out, ""));
    EXPECT_FALSE(JsonParse(out, "{\"a\": "));
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    EXPECT_FALSE(JsonParse(out, deep.c_str()));
}

TEST(JsonParse, AllowsComments) {
    Json::Value out;
    EXPECT_TRUE(JsonParse(out, "// comment\n{\"a\": 1}"));
    EXPECT_EQ(out["a"], 1);
}

// Running out of memory is not the text's fault and reaches the caller.
TEST(JsonParse, LetsAnAllocationFailureThrough) {
    Json::Value out;
    g_refuse_memory = true;
    bool thrown = false;
    try {
        JsonParse(out, "[1]");
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    g_refuse_memory = false;
    EXPECT_TRUE(thrown);
}

TEST(JsonReadStringT, ConvertsUtf8TextToUtf16) {
    Json::Value doc = Parse(u8R"({"s": "Gr\u00fc\u00dfe \ud83d\ude00", "i": -12})");
    qv::WString out(L"stale");
    ASSERT_TRUE(JsonReadStringT(out, &doc, "s"));
    EXPECT_EQ(std::wstring(out.c_str()), std::wstring(L"Gr\u00fc\u00dfe \U0001F600"));
    ASSERT_TRUE(JsonReadStringT(out, &doc, "i"));
    EXPECT_EQ(std::wstring(out.c_str()), L"-12");
}

TEST(JsonReadStringT, EmptiesTheStringOnFailure) {
    Json::Value doc = Parse(R"({"b": false})");
    qv::WString out(L"stale");
    EXPECT_FALSE(JsonReadStringT(out, &doc, "b"));
    EXPECT_TRUE(out.IsEmpty());
    std::wstring wide = L"stale";
    EXPECT_FALSE(JsonReadWString(wide, &doc, "missing"));
    EXPECT_TRUE(wide.empty());
}

TEST(JsonParseWide, ParsesUtf16Text) {
    Json::Value out;
    ASSERT_TRUE(JsonParseWide(out, L"{\"name\": \"\u00e9t\u00e9\"}"));
    EXPECT_EQ(out["name"].asString(), "\xC3\xA9t\xC3\xA9");
}

TEST(JsonParseWide, RefusesAnEmptyText) {
    Json::Value out;
    EXPECT_FALSE(JsonParseWide(out, nullptr));
    EXPECT_FALSE(JsonParseWide(out, L""));
}
