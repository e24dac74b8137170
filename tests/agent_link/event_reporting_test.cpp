// What "Vorn.Client" hands to the agent library's send_event for policy runs and the host's own events.
#include <gtest/gtest.h>

#include <json/json.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/agent_link/client_harness.h"
#include "tests/named_rows.h"

using namespace equipment;

using namespace client_test;
using Endpoint::Vorn::EventDescriptor;

namespace {

const std::wstring kStarted = kClient + L"SendPolicyStarted";
const std::wstring kRun = kClient + L"SendPolicyRun";
const std::wstring kSendEvent = kClient + L"SendEvent";

Json::Value EventObject(const std::string& name, const std::string& desc, const Json::Value& content) {
    Json::Value event(Json::objectValue);
    event["name"] = name;
    event["desc"] = desc;
    event["content"] = content;
    return event;
}

// What jsoncpp's reader leaves in its output, whether or not it accepts the text.
Json::Value ReadBy(const std::string& text) {
    Json::Value value;
    Json::Reader().parse(text, value, true);
    return value;
}

// Each case starts its own library client on a fresh stand-in record.
class EventReporting : public ClientThroughPlugin {
protected:
    void Restart(int send_event_result = 0) {
        client_->Stop();
        vornint_reset();
        vornint_client_script script{0, 0, send_event_result, 1};
        ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &script), VORNINT_OK);
        ASSERT_EQ(client_->Start(5), 0ul);
        log_.Clear();
    }
    void TearDown() override {
        client_->Stop();
        ClientThroughPlugin::TearDown();
    }
};

TEST_F(EventReporting, EachOperationSendsItsStyledEventObject) {
    const struct {
        const char* name;
        std::function<void(Endpoint::Vorn::IClient*)> call;
        unsigned long long type, subtype, flags;
        int wait;
        Json::Value object;
    } cases[] = {
        {"started", [](auto* c) { c->SendPolicyStarted(L"Pr\u00FCfung"); }, 101, 5, 0, -1,
         EventObject("Pr\xC3\xBC"
                     "fung",
                     "Policy run started", Json::Value())},
        {"started, unset name", [](auto* c) { c->SendPolicyStarted(qv::WString()); }, 101, 5, 0, -1,
         EventObject("", "Policy run started", Json::Value())},
        {"run with an object result", [](auto* c) { c->SendPolicyRun(L"P1", L"{\"found\":[1,2],\"ok\":true}"); }, 101,
         5, 0, -1, EventObject("P1", "Policy run stopped/succeeded", ReadBy(R"({"found":[1,2],"ok":true})"))},
        {"event, async",
         [](auto* c) {
             c->SendEvent(EventDescriptor{7, 3, 1, L"ev", L"desc", L"{\"k\":\"v\"}", true});
         },
         7, 3, 1, 0, EventObject("ev", "desc", ReadBy(R"({"k":"v"})"))},
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
    ForEachRow(cases, [this](const auto& c) {
        Restart();
        c.call(client_);
        const auto sent = vornint::Entries(VORNINT_SENT_EVENT);
        ASSERT_EQ(sent.size(), 1u);
        const vornint_entry& e = sent[0].data;
        EXPECT_EQ(e.priority, 0);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.subtype, c.subtype);
        EXPECT_EQ(e.flags, c.flags);
        EXPECT_EQ(e.wait, c.wait);
        EXPECT_EQ(sent[0].text, c.object.toStyledString());
    });
}

// A run has ended either way: a result that does not parse is logged and reported with what the parse left.
TEST_F(EventReporting, AnUnparsableRunResultIsStillReported) {
    const std::pair<const char*, const wchar_t*> results[] = {
        {"empty", L""}, {"no JSON", L"not json"}, {"cut object", L"{\"a\":"}, {"cut array", L"[1, 2"}};
    ForEachRow(results, [this](const auto& row) {
        const wchar_t* result = row.second;
        const std::string utf8(result, result + wcslen(result));
        Restart();
        client_->SendPolicyRun(L"P7", result);
        const auto sent = vornint::Entries(VORNINT_SENT_EVENT);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].text, EventObject("P7", "Policy run stopped/succeeded", ReadBy(utf8)).toStyledString());
        EXPECT_EQ(WrittenLines(log_), (std::vector<LogLine>{
                                          {0x04, kRun, std::wstring(L"failed to parse response json: ") + result},
                                          {0x20, kRun, L"send_event EVST_POLICY_RUN result [0]"},
                                      }));
    });
}

TEST_F(EventReporting, AnUnparsableEventContentIsNotSent) {
    for (const wchar_t* content : {L"", L"{", L"not json"}) {
        Restart();
        client_->SendEvent(EventDescriptor{7, 3, 1, L"ev", L"desc", content, true});
        EXPECT_TRUE(vornint::Entries(VORNINT_SENT_EVENT).empty());
        EXPECT_EQ(WrittenLines(log_),
                  (std::vector<LogLine>{TraceEntry(kSendEvent),
                                        {0x20, kSendEvent,
                                         L"Send event: name[ev] description[desc] type[7] subtype[3] flags[1] "
                                         L"async[true] content[" +
                                             std::wstring(content) + L"]"},
                                        {0x04, kSendEvent, L"failed to parse content"},
                                        TraceExit(kSendEvent)}));
    }
}

TEST_F(EventReporting, TheSendResultIsLoggedAtALevelByResult) {
    for (const auto& [result, level] : {std::pair<int, unsigned>{0, 0x20}, {5, 0x04}, {-1, 0x04}}) {
        Restart(result);
        client_->SendPolicyStarted(L"P");
        client_->SendPolicyRun(L"P", L"{}");
        client_->SendEvent(EventDescriptor{1, 2, 0, L"", qv::WString(), L"{}", false});
        const std::wstring r = L"[" + std::to_wstring(result) + L"]";
        EXPECT_EQ(WrittenLines(log_),
                  (std::vector<LogLine>{
                      {level, kStarted, L"send_event EVST_POLICY_STARTED result " + r},
                      {level, kRun, L"send_event EVST_POLICY_RUN result " + r},
                      TraceEntry(kSendEvent),
                      {0x20, kSendEvent,
                       L"Send event: name[] description[] type[1] subtype[2] flags[0] async[false] content[{}]"},
                      {level, kSendEvent, L"send result " + r},
                      TraceExit(kSendEvent)}));
        EXPECT_EQ(vornint::Entries(VORNINT_SENT_EVENT).size(), 3u);
    }
}

}  // namespace
