// Path lookup, string reads and parsing over JSON documents.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "agent_link/json_path.h"

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

}  // namespace

TEST(JsonNextSegment, SplitsNamesIndexesAndSeparators) {
    struct Case {
        const char* cursor;
        const char* name;
        int index;
        const char* rest;  // null when the segment is refused
    } cases[] = {
        {"content/files", "content", -1, "files"},
        {"content\\files", "content", -1, "files"},
        {"files", "files", -1, ""},
        {"list[1]", "list", 1, ""},
        {"a[0][1]", "a", 0, "[1]"},
        {"[1]", "", 1, ""},
        {"a[x]", "a", 0, ""},
        {"a[]", "a", 0, ""},
        {"a[ 7]", "a", 7, ""},
        {"a[-1]", "a", -1, ""},
        {"a[0]/b", "a", 0, "/b"},
        {"a[0", "", -1, nullptr},
        {"/files", "", -1, nullptr},
        {"", "", -1, nullptr},
    };
    for (const Case& c : cases) {
        std::string name = "stale";
        int index = 99;
        const char* rest = JsonNextSegment(name, index, c.cursor);
        if (c.rest == nullptr) {
            EXPECT_EQ(rest, nullptr) << c.cursor;
            continue;
        }
        ASSERT_NE(rest, nullptr) << c.cursor;
        EXPECT_STREQ(rest, c.rest) << c.cursor;
        EXPECT_EQ(name, c.name) << c.cursor;
        EXPECT_EQ(index, c.index) << c.cursor;
    }
    std::string name;
    int index = 0;
    EXPECT_EQ(JsonNextSegment(name, index, nullptr), nullptr);
}

TEST(JsonFindNode, ReadOnlyLookupsFindTheSameNodeOrNothing) {
    Json::Value doc = Parse(R"({"content": {"files": [1, 2]}, "list": [10, 20], "a": [[0, 5]], "n": null,
                                "s": "text"})");
    const Json::Value* files = &doc["content"]["files"];
    for (const char* path : {"content/files", "/content/files", "content\\files", "\\content/files"}) {
        EXPECT_EQ(JsonFindNode(&doc, path, false), files) << path;
    }
    EXPECT_EQ(JsonFindNode(&doc, "content/", false), &doc["content"]);
    EXPECT_EQ(JsonFindNode(&doc, "/", false), &doc);
    EXPECT_EQ(JsonFindNode(&doc, "list[1]", false), &doc["list"][1]);
    EXPECT_EQ(JsonFindNode(&doc, "a[0][1]", false), &doc["a"][0][1]);
    EXPECT_EQ(JsonFindNode(&doc, "a[x]", false), &doc["a"][0]);
    EXPECT_EQ(JsonFindNode(&doc, "a[-1]", false), &doc["a"]);
    for (const char* path :
         {"", "content//files", "list[2]", "a[0", "missing", "s/x", "n", "content/files/x", "list[0]/x"}) {
        EXPECT_EQ(JsonFindNode(&doc, path, false), nullptr) << path;
    }
    EXPECT_EQ(JsonFindNode(static_cast<Json::Value*>(nullptr), "a", false), nullptr);
    EXPECT_EQ(JsonFindNode(&doc, nullptr, false), nullptr);

    Json::Value array = Parse("[3, 4]");
    EXPECT_EQ(JsonFindNode(&array, "[1]", false), &array[1]);
    EXPECT_EQ(JsonFindNode(&array, "[0]", false), &array[0]);
    Json::Value null_root;
    EXPECT_EQ(JsonFindNode(&null_root, "/", false), nullptr);
    EXPECT_EQ(JsonFindNode(&null_root, "/", true), &null_root);
}

TEST(JsonFindNode, CreateModeAddsMembersReplacesNonObjectsAndGrowsArrays) {
    Json::Value doc = Parse(R"({"conn": {"proxy": "direct", "keep": 1}, "list": [1, 2]})");
    Json::Value* port = JsonFindNode(&doc, "conn/proxy/port", true);
    ASSERT_NE(port, nullptr);
    *port = 8080;
    EXPECT_EQ(doc["conn"]["proxy"], Parse(R"({"port": 8080})"));
    EXPECT_EQ(doc["conn"]["keep"], 1);

    Json::Value* third = JsonFindNode(&doc, "list[2]", true);
    ASSERT_NE(third, nullptr);
    EXPECT_TRUE(third->isNull());
    EXPECT_EQ(doc["list"].size(), 3u);
    EXPECT_EQ(third, &doc["list"][2]);

    Json::Value fresh;
    Json::Value* custid = JsonFindNode(&fresh, "id/custid", true);
    ASSERT_NE(custid, nullptr);
    EXPECT_TRUE(custid->isNull());
    EXPECT_TRUE(fresh["id"].isObject());
    EXPECT_TRUE(fresh["id"].isMember("custid"));

    Json::Value* element = JsonFindNode(&fresh, "srv[1]", true);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(fresh["srv"].size(), 2u);

    // Indexing into a string is not something the library can do; the lookup misses instead of throwing.
    Json::Value text = Parse(R"({"s": "x"})");
    EXPECT_EQ(JsonFindNode(&text, "s[0]", true), nullptr);
}

TEST(JsonReadString, TextsAndIntegersReadOtherTypesFail) {
    Json::Value doc = Parse(R"({"s": "h\u00e9llo", "i": 7, "neg": -7, "max": 4294967295, "min": -2147483648,
                                "big": 4294967296, "real": 3.5, "b": true, "o": {}, "a": [], "n": null})");
    struct Case {
        const char* path;
        bool ok;
        const char* text;
    } cases[] = {
        {"s", true, "h\xC3\xA9llo"},
        {"i", true, "7"},
        {"neg", true, "-7"},
        {"max", true, "4294967295"},
        {"min", true, "-2147483648"},
        {"big", false, ""},
        {"real", false, ""},
        {"b", false, ""},
        {"o", false, ""},
        {"a", false, ""},
        {"n", false, ""},
        {"missing", false, ""},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(JsonReadString(out, &doc, c.path), c.ok) << c.path;
        EXPECT_EQ(out, c.text) << c.path;
    }
}

// A text the reader refuses, by its verdict or by throwing at its nesting limit, is a failure; running out of
// memory is not the text's fault and reaches the caller.
TEST(JsonParse, RefusesNullBadAndTooDeepTextsButLetsAllocationFailurePass) {
    Json::Value out(5);
    EXPECT_FALSE(JsonParse(out, nullptr));
    EXPECT_EQ(out, Json::Value(5));
    EXPECT_FALSE(JsonParse(out, ""));
    EXPECT_FALSE(JsonParse(out, "{\"a\": "));
    EXPECT_TRUE(JsonParse(out, "// comment\n{\"a\": 1}"));
    EXPECT_EQ(out["a"], 1);
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    EXPECT_FALSE(JsonParse(out, deep.c_str()));
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

TEST(JsonReadStringT, ConvertsUtf8TextToUtf16AndEmptiesOnFailure) {
    Json::Value doc = Parse(u8R"({"s": "Gr\u00fc\u00dfe \ud83d\ude00", "i": -12, "b": false})");
    qv::WString out(L"stale");
    ASSERT_TRUE(JsonReadStringT(out, &doc, "s"));
    EXPECT_EQ(std::wstring(out.c_str()), std::wstring(L"Gr\u00fc\u00dfe \U0001F600"));
    ASSERT_TRUE(JsonReadStringT(out, &doc, "i"));
    EXPECT_EQ(std::wstring(out.c_str()), L"-12");
    EXPECT_FALSE(JsonReadStringT(out, &doc, "b"));
    EXPECT_TRUE(out.IsEmpty());
    std::wstring wide = L"stale";
    EXPECT_FALSE(JsonReadWString(wide, &doc, "missing"));
    EXPECT_TRUE(wide.empty());
}

TEST(JsonParseWide, ParsesUtf16AndRefusesNullAndEmpty) {
    Json::Value out;
    EXPECT_FALSE(JsonParseWide(out, nullptr));
    EXPECT_FALSE(JsonParseWide(out, L""));
    ASSERT_TRUE(JsonParseWide(out, L"{\"name\": \"\u00e9t\u00e9\"}"));
    EXPECT_EQ(out["name"].asString(), "\xC3\xA9t\xC3\xA9");
}
