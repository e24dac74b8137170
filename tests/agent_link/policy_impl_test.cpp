// PolicyImpl: what a policy text yields as id and content, and the one reason logged when it yields nothing.
#include <gtest/gtest.h>

#include <string>

#include "agent_link/policy_impl.h"
#include "support/logging/log_handle.h"
#include "tests/support/logging/log_records.h"

using Endpoint::Vorn::NG::PolicyImpl;

namespace {

std::wstring Std(const qv::WString& text) { return std::wstring(text.c_str(), text.GetLength()); }

// Binds the stand-in log.dll beside this executable for the test's duration.
class PolicyParse : public testing::Test {
protected:
    void SetUp() override {
        handle_.Acquire();
        log_ = StandInLogApi(GetModuleHandleW(L"log.dll"));
        ASSERT_TRUE(log_.Valid());
        log_.Clear();
    }

    // The messages written since SetUp, as "[level] text", all of them under Parse's name.
    std::vector<std::wstring> Messages() {
        std::vector<std::wstring> messages;
        for (const LogLine& line : WrittenLines(log_)) {
            EXPECT_EQ(line.function, L"Endpoint::Vorn::NG::PolicyImpl::Parse");
            messages.push_back(L"[" + std::to_wstring(line.level) + L"] " + line.text);
        }
        return messages;
    }

    logging::LogHandle handle_;
    StandInLogApi log_{nullptr};
};

TEST_F(PolicyParse, ValidTextsGiveTheIdAndTheStyledContentAndLogNothing) {
    struct Case {
        const char* text;
        const wchar_t* id;
        const wchar_t* content;
    } cases[] = {
        {R"({"polid":"P1","content":{"files":[{"a":1}]}})", L"P1", L"{\n\t\"a\" : 1\n}\n"},
        {R"({"polid":12,"content":{"files":[{"a":1}]}})", L"12", L"{\n\t\"a\" : 1\n}\n"},
        {R"({"polid":-2147483648,"content":{"files":[7]}})", L"-2147483648", L"7\n"},
        {R"({"polid":4294967295,"content":{"files":[7]}})", L"4294967295", L"7\n"},
        {R"({"polid":"P","content":{"files":[]}})", L"P", L"null\n"},
        {R"({"polid":"P","content":{"files":[null]}})", L"P", L"null\n"},
        {R"({"polid":"P","content":{"files":[[1,"x"]]}})", L"P", L"[\n\t1,\n\t\"x\"\n]\n"},
        {"{\"polid\":\"\xE6\x97\xA5\",\"content\":{\"files\":[\"\xC3\xA9\"]}}", L"\u65E5",
         L"\"\\u00e9\"\n"},  // the styled writer escapes what is not ASCII
        {"  {\"polid\" : \"P\", // the agent's own comment\n \"content\":{\"files\":[1]}, \"extra\":[1]}  ", L"P",
         L"1\n"},
        {R"({"polid":"","content":{"files":[true]}})", L"", L"true\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        log_.Clear();
        PolicyImpl policy;
        ASSERT_EQ(policy.Parse(c.text), 0ul);
        EXPECT_EQ(Std(policy.GetId()), c.id);
        EXPECT_EQ(Std(policy.GetContent()), c.content);
        EXPECT_EQ(Std(policy.GetContent()), Std(policy.GetContent())) << "a copy changed the content";
        EXPECT_TRUE(Messages().empty());
    }
}

TEST_F(PolicyParse, RefusedTextsFailWithOneReason) {
    const std::string deep =
        R"({"polid":"P","content":{"files":[)" + std::string(1200, '[') + std::string(1200, ']') + "]}}";
    struct Case {
        std::string text;
        std::wstring message;
    } cases[] = {
        {"{", L"[4] failed to parse json: {"},
        {R"({"polid":"P",})", L"[4] failed to parse json: {\"polid\":\"P\",}"},
        {R"({"polid":2147483648.5,"content":{"files":[1]}})",
         L"[4] failed to get policy id from json: {\"polid\":2147483648.5,\"content\":{\"files\":[1]}}"},
        {R"({"polid":4294967296,"content":{"files":[1]}})",
         L"[4] failed to get policy id from json: {\"polid\":4294967296,\"content\":{\"files\":[1]}}"},
        {R"({"polid":-2147483649,"content":{"files":[1]}})",
         L"[4] failed to get policy id from json: {\"polid\":-2147483649,\"content\":{\"files\":[1]}}"},
        {R"({"polid":{"id":"P"},"content":{"files":[1]}})",
         L"[4] failed to get policy id from json: {\"polid\":{\"id\":\"P\"},\"content\":{\"files\":[1]}}"},
        {"", L"[4] failed to parse json: "},
        {R"({"polid":true,"content":{"files":[1]}})",
         L"[4] failed to get policy id from json: {\"polid\":true,\"content\":{\"files\":[1]}}"},
        {R"({"polid":null})", L"[4] failed to get policy id from json: {\"polid\":null}"},
        {R"(["polid"])", L"[4] failed to get policy id from json: [\"polid\"]"},
        {R"({"polid":"P"})", L"[4] failed to get [content/files] from policy"},
        {R"({"polid":"P","content":"files"})", L"[4] failed to get [content/files] from policy"},
        {R"({"polid":"P","content":{"files":null}})", L"[4] failed to get [content/files] from policy"},
        {R"({"polid":"P","Content":{"files":[1]}})", L"[4] failed to get [content/files] from policy"},
        {R"({"polid":"P","content":[{"files":[1]}]})", L"[4] failed to get [content/files] from policy"},
        {R"({"polid":"P","content":{"files":7}})", L"[4] [content/files] is not array"},
        {R"({"polid":"P","content":{"files":{}}})", L"[4] [content/files] is not array"},
        {R"({"polid":"P","content":{"files":[1,2]}})", L"[4] unexpected size [2] for [content/files]"},
        {R"({"polid":"P","content":{"files":[{},{},{}]}})", L"[4] unexpected size [3] for [content/files]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        log_.Clear();
        PolicyImpl policy;
        EXPECT_EQ(policy.Parse(c.text.c_str()), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
        EXPECT_EQ(Messages(), std::vector<std::wstring>{c.message});
    }

    // Nesting past the reader's limit makes it throw: still a parse failure like any other.
    log_.Clear();
    PolicyImpl policy;
    EXPECT_EQ(policy.Parse(deep.c_str()), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(L"[4] failed to parse json: {\"polid\":\"P\"", 0), 0u);

    log_.Clear();
    PolicyImpl unset;
    EXPECT_EQ(unset.Parse(nullptr), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"[4] failed to parse json: "});
}

TEST(PolicyImpl, AnUnparsedPolicyHasAnEmptyIdAndContent) {
    PolicyImpl policy;
    EXPECT_TRUE(policy.GetId().IsEmpty());
    EXPECT_TRUE(policy.GetContent().IsEmpty());
}

}  // namespace
