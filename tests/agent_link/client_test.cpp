// "Vorn.Client" through the plug-in: what each policy text from the agent gives the host's subscribers, the
// subscriber lists, and the agent library's client objects living and dying by the host's calls.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "equipment/worker_thread.h"
#include "tests/agent_link/client_harness.h"
#include "tests/named_rows.h"

using namespace equipment;

using namespace client_test;
using Endpoint::Vorn::IClient;

namespace {

constexpr wchar_t kParse[] = L"Endpoint::Vorn::NG::PolicyImpl::Parse";

struct PolicyCase {
    std::string text;
    std::wstring id_or_reason;  // the id of a valid policy; else the one message Parse writes
    std::wstring content;       // of a valid policy, as the subscriber reads it
};

std::vector<PolicyCase> PolicyCases() {
    std::vector<PolicyCase> cases = {
        {R"({"polid":"P1","content":{"files":[{"a":1}]},"other":true})", L"P1", L"{\n\t\"a\" : 1\n}\n"},
        {R"({"polid":-2147483648,"content":{"files":[7]}})", L"-2147483648", L"7\n"},
        {R"({"polid":4294967295,"content":{"files":[7]}})", L"4294967295", L"7\n"},
        {R"({"polid":"","content":{"files":[]}})", L"", L"null\n"},
        {"{\"polid\":\"\xE6\x97\xA5\",\"content\":{\"files\":[\"\xC3\xA9\"]}}", L"\u65E5", L"\"\\u00e9\"\n"},
        {"{\"polid\" : \"P\", // the agent's own comment\n \"content\":{\"files\":[true]}}", L"P", L"true\n"},
    };
    const std::pair<const char*, const wchar_t*> refused[] = {
        {"{", L"failed to parse json: {"},
        {"", L"failed to parse json: "},
        {R"({"polid":4294967296})", L"failed to get policy id from json: {\"polid\":4294967296}"},
        {R"({"polid":2.5})", L"failed to get policy id from json: {\"polid\":2.5}"},
        {R"({"polid":{"id":"P"}})", L"failed to get policy id from json: {\"polid\":{\"id\":\"P\"}}"},
        {R"(["polid"])", L"failed to get policy id from json: [\"polid\"]"},
        {R"({"polid":"P"})", L"failed to get [content/files] from policy"},
        {R"({"polid":"P","content":"files"})", L"failed to get [content/files] from policy"},
        {R"({"polid":"P","content":{"files":null}})", L"failed to get [content/files] from policy"},
        {R"({"polid":"P","content":{"files":{}}})", L"[content/files] is not array"},
        {R"({"polid":"P","content":{"files":[1,2]}})", L"unexpected size [2] for [content/files]"},
    };
    for (const auto& [text, reason] : refused) {
        cases.push_back({text, reason, L"-"});
    }
    return cases;
}

using ClientPolicies = ClientThroughPlugin;
using ClientLifeCycle = ClientThroughPlugin;

TEST_F(ClientPolicies, EachTextReachesTheSubscriberOrLogsWhyNot) {
    ASSERT_EQ(client_->AddPolicyHandle(&a_), 0ul);
    ASSERT_EQ(client_->Start(7), 0ul);
    for (const PolicyCase& c : PolicyCases()) {
        for (int delivery : {VORNINT_RUN_POLICY, VORNINT_REMOVE_POLICY}) {
            const bool run = delivery == VORNINT_RUN_POLICY;
            SCOPED_TRACE(c.text.substr(0, 80) + (run ? " (run)" : " (removal)"));
            log_.Clear();
            ClearJournal();
            Deliver(delivery, c.text.c_str());
            const std::wstring function = kClient + (run ? L"on_run_policy" : L"on_remove_policy");
            std::vector<LogLine> lines = {TraceEntry(function), TraceExit(function)};
            std::vector<std::wstring> calls;
            if (c.content != L"-") {
                calls.push_back(run ? L"a run " + c.id_or_reason + L" " + c.content : L"a remove " + c.id_or_reason);
            } else {
                lines.insert(lines.begin() + 1, LogLine{0x04, kParse, c.id_or_reason});
            }
            EXPECT_EQ(Journal(), calls);
            EXPECT_EQ(WrittenLines(log_), lines);
        }
    }
    log_.Clear();
    Deliver(VORNINT_RUN_POLICY, nullptr);
    EXPECT_EQ(Messages(WrittenLines(log_)), (std::vector<LogLine>{{0x04, kParse, L"failed to parse json: "}}));
    // Nesting past the reader's limit is refused like any other text that does not parse.
    log_.Clear();
    const std::string deep = R"({"polid":"P","content":{"files":)" + std::string(1200, '[') + std::string(1200, ']');
    Deliver(VORNINT_RUN_POLICY, (deep + "}}").c_str());
    const auto messages = Messages(WrittenLines(log_));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(L"failed to parse json: {\"polid\"", 0), 0u);
    EXPECT_TRUE(Journal().empty());
    client_->Stop();
}

TEST_F(ClientPolicies, SubscribersHearEachPolicyOnTheAgentsThreadInTheOrderAdded) {
    ASSERT_EQ(client_->AddPolicyHandle(&b_), 0ul);
    ASSERT_EQ(client_->AddPolicyHandle(&a_), 0ul);
    DWORD thread = 0;
    a_.during = [&] { thread = GetCurrentThreadId(); };
    ASSERT_EQ(client_->Start(1), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P1","content":{"files":[]}})");
    Deliver(VORNINT_REMOVE_POLICY, R"({"polid":"P1","content":{"files":[]}})");
    ASSERT_EQ(client_->RemovePolicyHandle(&b_), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P2","content":{"files":[]}})");
    EXPECT_EQ(Journal(), (std::vector<std::wstring>{L"b run P1 null\n", L"a run P1 null\n", L"b remove P1",
                                                    L"a remove P1", L"a run P2 null\n"}));
    EXPECT_EQ(thread, vornint::Entries(VORNINT_DELIVERED).back().data.thread_id);
    EXPECT_NE(thread, GetCurrentThreadId());
    client_->Stop();
}

// A subscriber that throws must neither leave the list share-locked nor let the exception into the agent's thread.
TEST_F(ClientPolicies, AThrowingSubscriberEndsOnlyTheCurrentWalk) {
    bool thrown = false;
    a_.during = [&] {
        if (!std::exchange(thrown, true)) {
            throw std::runtime_error("subscriber failure");
        }
    };
    ASSERT_EQ(client_->AddPolicyHandle(&a_), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P1","content":{"files":[1]}})");
    EXPECT_EQ(vornint::Entries(VORNINT_DELIVERED).at(0).data.threw, 0);
    EXPECT_EQ(WrittenLines(log_).back(), TraceExit(kClient + L"on_run_policy"));
    WorkerThread host;
    ASSERT_TRUE(host.Run([&] { EXPECT_EQ(client_->AddPolicyHandle(&b_), 0ul); })) << "the list stayed locked";
    ClearJournal();
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P2","content":{"files":[1]}})");
    EXPECT_EQ(Journal(), (std::vector<std::wstring>{L"a run P2 1\n", L"b run P2 1\n"}));
    client_->Stop();
}

TEST_F(ClientPolicies, SubscriberListsRefuseInvalidChanges) {
    struct Notification : Endpoint::Vorn::INotification {
        void OnNotification(unsigned long, const qv::WString&) override {}
    } n1, n2;
    const std::pair<std::function<unsigned long()>, unsigned long> steps[] = {
        {[&] { return client_->AddPolicyHandle(nullptr); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->RemovePolicyHandle(&a_); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddPolicyHandle(&a_); }, 0ul},
        {[&] { return client_->AddPolicyHandle(&a_); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddPolicyHandle(&b_); }, 0ul},
        {[&] { return client_->RemovePolicyHandle(&a_); }, 0ul},
        {[&] { return client_->RemovePolicyHandle(&a_); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddNotification(nullptr); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->RemoveNotification(&n1); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddNotification(&n1); }, 0ul},
        {[&] { return client_->AddNotification(&n1); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddNotification(&n2); }, 0ul},
        {[&] { return client_->RemoveNotification(&n1); }, 0ul},
        {[&] { return client_->RemoveNotification(&n1); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->RemoveNotification(&n2); }, 0ul},
    };
    for (size_t n = 0; n < std::size(steps); ++n) {
        EXPECT_EQ(steps[n].first(), steps[n].second) << "step " << n;
    }
    ASSERT_EQ(client_->Start(1), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P","content":{"files":[]}})");
    EXPECT_EQ(Journal(), std::vector<std::wstring>{L"b run P null\n"});
    client_->Stop();
}

// What the agent library saw of its client objects, as (kind, client index) in order.
std::vector<std::pair<int, int>> LifeRecord() {
    std::vector<std::pair<int, int>> record;
    for (const auto& entry : vornint::Entries()) {
        record.emplace_back(entry.data.kind, entry.data.client_index);
    }
    return record;
}

TEST_F(ClientLifeCycle, HeldClientsAreReplacedLetGoOrDestroyedByTheHostsCalls) {
    enum {
        C = VORNINT_CONSTRUCTED,
        R = VORNINT_REGISTERED_POLICY_HANDLER,
        S = VORNINT_STARTED,
        X = VORNINT_STOPPED,
        D = VORNINT_DESTROYED
    };
    const struct {
        const char* name;
        std::function<void(IClient*&)> steps;
        std::vector<std::pair<int, int>> record;
    } cases[] = {
        {"start twice destroys the first without stop",
         [](IClient*& c) { c->Start(1), c->Start(2); },
         {{C, 0}, {R, 0}, {S, 0}, {C, 1}, {D, 0}, {R, 1}, {S, 1}}},
        {"stop then start lets the stopped one live",
         [](IClient*& c) { c->Start(1), c->Stop(), c->Start(2), c->Stop(); },
         {{C, 0}, {R, 0}, {S, 0}, {X, 0}, {C, 1}, {R, 1}, {S, 1}, {X, 1}}},
        {"destroying the object destroys the held client without stop",
         [this](IClient*& c) { c->Start(1), Destroy(c); },
         {{C, 0}, {R, 0}, {S, 0}, {D, 0}}},
        {"uninit lets go without stop and destroy leaves it alone",
         [this](IClient*& c) { c->Start(1), c->Uninit(), Destroy(c); },
         {{C, 0}, {R, 0}, {S, 0}}},
        {"stop then destroy leaves the stopped one alone",
         [this](IClient*& c) { c->Start(1), c->Stop(), Destroy(c); },
         {{C, 0}, {R, 0}, {S, 0}, {X, 0}}},
    };
    ForEachRow(cases, [this](const auto& c) {
        vornint_reset();
        IClient* client = Create();
        ASSERT_NE(client, nullptr);
        c.steps(client);
        EXPECT_EQ(LifeRecord(), c.record);
        for (const auto& entry : vornint::Entries(VORNINT_REGISTERED_POLICY_HANDLER)) {
            EXPECT_NE(entry.data.handler, nullptr);
        }
        Destroy(client);
    });
}

TEST_F(ClientLifeCycle, StartMakesAVornClientWithTheHostsNumber) {
    ASSERT_EQ(client_->Start(-17), 0ul);
    vornint_client state{};
    char name[16] = {};
    ASSERT_EQ(vornint_get_client(0, &state, name, sizeof name), VORNINT_OK);
    EXPECT_EQ(state.number, -17);
    EXPECT_STREQ(name, "vorn");
    client_->Stop();
}

TEST_F(ClientLifeCycle, AFailedStartIsPassedOnWithItsClientStillHeld) {
    vornint_client_script script{1460, 0, 0, 1};
    ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &script), VORNINT_OK);
    log_.Clear();
    EXPECT_EQ(client_->Start(3), 1460ul);
    EXPECT_EQ(WrittenLines(log_),
              (std::vector<LogLine>{TraceEntry(kClient + L"Start"),
                                    {0x04, kClient + L"Start", L"failed to start vorn client. error [1460]"},
                                    TraceExit(kClient + L"Start")}));
    client_->Stop();  // the failed client stays held, so that Stop stops it
    vornint_client state{};
    ASSERT_EQ(vornint_get_client(0, &state, nullptr, 0), VORNINT_OK);
    EXPECT_EQ(state.stops, 1);
    EXPECT_EQ(state.destroyed, 0);
}

TEST_F(ClientLifeCycle, WithoutAHeldClientOperationsCallNothing) {
    Endpoint::Vorn::EventDescriptor event{7, 3, 1, L"n", L"d", L"{}", true};
    const std::function<void()> calls[] = {
        [&] { client_->Stop(); },
        [&] { client_->Uninit(); },
        [&] { client_->SendPolicyStarted(L"p"); },
        [&] { client_->SendPolicyRun(L"p", L"{}"); },
        [&] { client_->SendEvent(event); },
    };
    for (const auto& call : calls) {
        call();
    }
    ASSERT_EQ(client_->Start(1), 0ul);
    client_->Stop();
    for (const auto& call : calls) {
        call();
    }
    EXPECT_EQ(LifeRecord(), (std::vector<std::pair<int, int>>{{VORNINT_CONSTRUCTED, 0},
                                                              {VORNINT_REGISTERED_POLICY_HANDLER, 0},
                                                              {VORNINT_STARTED, 0},
                                                              {VORNINT_STOPPED, 0}}));
    for (const LogLine& line : WrittenLines(log_)) {
        EXPECT_EQ(line.level, 0x20u) << "a failure was logged: " << testing::PrintToString(line.text);
    }
}

// Each traced operation writes its entry line, its own messages and its exit line, and calls no subscriber.
TEST_F(ClientLifeCycle, TracedOperationsWriteExactlyTheirOwnLines) {
    struct Notification : Endpoint::Vorn::INotification {
        void OnNotification(unsigned long, const qv::WString&) override { ++calls; }
        int calls = 0;
    } notification;
    ASSERT_EQ(client_->AddPolicyHandle(&a_), 0ul);
    ASSERT_EQ(client_->AddNotification(&notification), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);
    const struct {
        const wchar_t* operation;
        std::function<void()> call;
        std::vector<LogLine> messages;
    } cases[] = {
        {L"Init", [&] { EXPECT_EQ(client_->Init(), 0ul); }, {}},
        {L"CancelRunPolicy", [&] { client_->CancelRunPolicy(); }, {}},
        {L"ReloadPolicies",
         [&] { client_->ReloadPolicies(); },
         {{0x04, kClient + L"ReloadPolicies", L"NOT IMPLEMENTED"}}},
        {L"on_add_policy", [&] { Deliver(VORNINT_ADD_POLICY, R"({"polid":"P","content":{"files":[]}})"); }, {}},
        {L"on_notification",
         [&] { Deliver(VORNINT_POLICY_NOTIFICATION, "server up"); },
         {{0x20, kClient + L"on_notification", L"notification: server up"}}},
        {L"on_notification",
         [&] { Deliver(VORNINT_POLICY_NOTIFICATION, nullptr); },
         {{0x20, kClient + L"on_notification", L"notification: "}}},
    };
    for (const auto& c : cases) {
        const std::wstring function = kClient + c.operation;
        SCOPED_TRACE(testing::PrintToString(function));
        log_.Clear();
        c.call();
        std::vector<LogLine> lines = c.messages;
        lines.insert(lines.begin(), TraceEntry(function));
        lines.push_back(TraceExit(function));
        EXPECT_EQ(WrittenLines(log_), lines);
    }
    EXPECT_TRUE(Journal().empty()) << "a policy subscriber was called";
    EXPECT_EQ(notification.calls, 0) << "a notification reached a subscriber";

    log_.Clear();
    client_->Uninit();
    EXPECT_EQ(WrittenLines(log_),
              (std::vector<LogLine>{TraceEntry(kClient + L"Uninit"), TraceExit(kClient + L"Uninit")}));
}

// Stop's lines follow the agent library's stop, which waits for a running callback: none is written meanwhile.
TEST_F(ClientLifeCycle, StopTracesOnlyAfterTheAgentLibrarysStopReturned) {
    Completion release;
    a_.during = [&] { release.WaitFor(kWaitMs); };
    ASSERT_EQ(client_->AddPolicyHandle(&a_), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);
    ASSERT_EQ(vornint_deliver(0, VORNINT_RUN_POLICY, 0, R"({"polid":"P","content":{"files":[]}})"), VORNINT_OK);
    ASSERT_TRUE(Eventually([&] { return !Journal().empty(); }));
    WorkerThread host;
    auto stopped = host.Post([&] { client_->Stop(); });
    EXPECT_FALSE(stopped->WaitFor(300)) << "stop did not wait for the callback";
    EXPECT_TRUE(LinesOf(WrittenLines(log_), kClient + L"Stop").empty()) << "Stop traced before the library stopped";
    release.Signal();
    ASSERT_TRUE(stopped->WaitFor(kWaitMs));
    EXPECT_EQ(LinesOf(WrittenLines(log_), kClient + L"Stop"),
              (std::vector<LogLine>{TraceEntry(kClient + L"Stop"), TraceExit(kClient + L"Stop")}));
}

}  // namespace
