// What "Vorn.Client" hands to the agent library's send_event for policy runs and the host's own events.
#include <gtest/gtest.h>

#include <json/json.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/agent_link/client_harness.h"

using namespace client_test;
using Endpoint::Vorn::EventDescriptor;

namespace {

const std::wstring kStarted = L"Endpoint::Vorn::NG::ClientImpl::SendPolicyStarted";
const std::wstring kRun = L"Endpoint::Vorn::NG::ClientImpl::SendPolicyRun";
const std::wstring kSendEvent = L"Endpoint::Vorn::NG::ClientImpl::SendEvent";

Json::Value EventObject(const std::string& name, const std::string& desc, const Json::Value& content) {
    Json::Value event(Json::objectValue);
    event["name"] = name;
    event["desc"] = desc;
    event["content"] = content;
    return event;
}

Json::Value Parsed(const std::string& text) {
    Json::Value value;
    EXPECT_TRUE(Json::Reader().parse(text, value, true)) << text;
    return value;
}

// Whatever jsoncpp's reader leaves in its output when it refuses the text.
Json::Value LeftByFailedParse(const std::string& text) {
    Json::Value value;
    EXPECT_FALSE(Json::Reader().parse(text, value, true)) << text;
    return value;
}

// Each case starts its own library client on a fresh stand-in record.
class EventReporting : public ClientThroughPlugin {
protected:
    void TearDown() override {
        client_->Stop();
        ClientThroughPlugin::TearDown();
    }
};

TEST_F(EventReporting, EachOperationSendsTheEventObjectWithItsCodesAndWait) {
    struct Case {
        const char* name;
        std::function<void(Endpoint::Vorn::IClient*)> call;
        unsigned long long type, subtype, flags;
        int wait;
        Json::Value object;
    } cases[] = {
        {"started", [](auto* c) { c->SendPolicyStarted(L"Scan C:"); }, 101, 5, 0, -1,
         EventObject("Scan C:", "Policy run started", Json::Value())},
        {"started, unset name", [](auto* c) { c->SendPolicyStarted(qv::WString()); }, 101, 5, 0, -1,
         EventObject("", "Policy run started", Json::Value())},
        {"started, UTF-16 name", [](auto* c) { c->SendPolicyStarted(L"Pr\u00FCfung \u2713"); }, 101, 5, 0, -1,
         EventObject("Pr\xC3\xBC"
                     "fung \xE2\x9C\x93",
                     "Policy run started", Json::Value())},
        {"run with an object result", [](auto* c) { c->SendPolicyRun(L"P1", L"{\"found\":[1,2],\"ok\":true}"); }, 101,
         5, 0, -1, EventObject("P1", "Policy run stopped/succeeded", Parsed(R"({"found":[1,2],"ok":true})"))},
        {"run with a scalar result", [](auto* c) { c->SendPolicyRun(L"P1", L"42"); }, 101, 5, 0, -1,
         EventObject("P1", "Policy run stopped/succeeded", Json::Value(42))},
        {"event, async",
         [](auto* c) {
             c->SendEvent(EventDescriptor{7, 3, 1, L"ev", L"desc", L"{\"k\":\"v\"}", true});
         },
         7, 3, 1, 0, EventObject("ev", "desc", Parsed(R"({"k":"v"})"))},
        {"event, sync",
         [](auto* c) {
             c->SendEvent(EventDescriptor{7, 3, 1, L"ev", L"desc", L"[]", false});
         },
         7, 3, 1, -1, EventObject("ev", "desc", Json::Value(Json::arrayValue))},
        {"event, codes zero-extended",
         [](auto* c) {
             c->SendEvent(EventDescriptor{0xFFFFFFFFu, 0x80000000u, 0xFFFFFFFEu, L"", L"\u00E9", L"null", false});
         },
         0xFFFFFFFFull, 0x80000000ull, 0xFFFFFFFEull, -1, EventObject("", "\xC3\xA9", Json::Value())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vornint_reset();
        ASSERT_EQ(client_->Start(5), 0ul);
        c.call(client_);
        const auto sent = vornint::Entries(VORNINT_SENT_EVENT);
        ASSERT_EQ(sent.size(), 1u);
        const vornint_entry& e = sent[0].data;
        EXPECT_EQ(e.priority, 0);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.subtype, c.subtype);
        EXPECT_EQ(e.flags, c.flags);
        EXPECT_EQ(e.wait, c.wait);
        EXPECT_EQ(Parsed(sent[0].text), c.object);
        EXPECT_EQ(Parsed(sent[0].text).getMemberNames(), (std::vector<std::string>{"content", "desc", "name"}));
        EXPECT_EQ(sent[0].text, c.object.toStyledString()) << "not the styled rendering";
        client_->Stop();
    }
}

TEST_F(EventReporting, AnUnparsableRunResultIsLoggedAndStillReported) {
    struct Case {
        const wchar_t* result;
        std::string utf8;
    } cases[] = {
        {L"", ""},
        {L"not json", "not json"},
        {L"{\"a\":", "{\"a\":"},
        {L"[1, 2", "[1, 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        vornint_reset();
        ASSERT_EQ(client_->Start(5), 0ul);
        log_.Clear();
        client_->SendPolicyRun(L"P7", c.result);
        const auto sent = vornint::Entries(VORNINT_SENT_EVENT);
        ASSERT_EQ(sent.size(), 1u);
        const Json::Value expected = EventObject("P7", "Policy run stopped/succeeded",
                                                 c.utf8.empty() ? Json::Value() : LeftByFailedParse(c.utf8));
        EXPECT_EQ(sent[0].text, expected.toStyledString());
        EXPECT_EQ(WrittenLines(log_), (std::vector<LogLine>{
                                          {0x04, kRun, std::wstring(L"failed to parse response json: ") + c.result},
                                          {0x20, kRun, L"send_event EVST_POLICY_RUN result [0]"},
                                      }));
        client_->Stop();
    }
}

TEST_F(EventReporting, AnUnparsableEventContentIsLoggedAndNothingIsSent) {
    for (const wchar_t* content : {L"", L"{", L"not json", L"{\"a\":}"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(content)));
        log_.Clear();
        vornint_reset();
        ASSERT_EQ(client_->Start(5), 0ul);
        client_->SendEvent(EventDescriptor{7, 3, 1, L"ev", L"desc", content, true});
        EXPECT_TRUE(vornint::Entries(VORNINT_SENT_EVENT).empty());
        const auto lines = LinesOf(WrittenLines(log_), kSendEvent);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], TraceEntry(kSendEvent));
        EXPECT_EQ(lines[1], (LogLine{0x20, kSendEvent,
                                     L"Send event: name[ev] description[desc] type[7] subtype[3] flags[1] "
                                     L"async[true] content[" +
                                         std::wstring(content) + L"]"}));
        EXPECT_EQ(lines[2], (LogLine{0x04, kSendEvent, L"failed to parse content"}));
        EXPECT_EQ(lines[3], TraceExit(kSendEvent));
        client_->Stop();
    }
}

// The result message is information for 0 and a failure for anything else.
TEST_F(EventReporting, TheSendResultIsLoggedAtALevelByResult) {
    struct Case {
        int result;
        unsigned int level;
    } cases[] = {{0, 0x20}, {5, 0x04}, {-1, 0x04}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        vornint_reset();
        vornint_client_script script{0, 0, c.result, 1};
        ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &script), VORNINT_OK);
        ASSERT_EQ(client_->Start(5), 0ul);
        log_.Clear();
        client_->SendPolicyStarted(L"P");
        client_->SendPolicyRun(L"P", L"{}");
        client_->SendEvent(EventDescriptor{1, 2, 0, L"", qv::WString(), L"{}", false});
        const std::wstring r = std::to_wstring(c.result);
        EXPECT_EQ(LinesOf(WrittenLines(log_), kStarted),
                  (std::vector<LogLine>{{c.level, kStarted, L"send_event EVST_POLICY_STARTED result [" + r + L"]"}}));
        EXPECT_EQ(LinesOf(WrittenLines(log_), kRun),
                  (std::vector<LogLine>{{c.level, kRun, L"send_event EVST_POLICY_RUN result [" + r + L"]"}}));
        const auto lines = LinesOf(WrittenLines(log_), kSendEvent);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[1].text,
                  L"Send event: name[] description[] type[1] subtype[2] flags[0] async[false] content[{}]");
        EXPECT_EQ(lines[2], (LogLine{c.level, kSendEvent, L"send result [" + r + L"]"}));
        EXPECT_EQ(vornint::Entries(VORNINT_SENT_EVENT).size(), 3u);
        client_->Stop();
    }
}

}  // namespace
