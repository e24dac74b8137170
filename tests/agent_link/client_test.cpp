// "Vorn.Client" through the plug-in: policies from the stand-in agent reach the host's subscribers, invalid
// ones reach none, and the agent library's client objects live and die by the host's calls.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/agent_link/client_harness.h"
#include "tests/support/sync/worker_thread.h"

using namespace client_test;
using Endpoint::Vorn::IClient;

namespace {

constexpr wchar_t kParse[] = L"Endpoint::Vorn::NG::PolicyImpl::Parse";
const std::wstring kClient = L"Endpoint::Vorn::NG::ClientImpl::";

// The styled text of {"a":1}, as the subscribers receive the content.
constexpr wchar_t kStyledA1[] = L"{\n\t\"a\" : 1\n}\n";

using ClientPolicies = ClientThroughPlugin;
using ClientLifeCycle = ClientThroughPlugin;
using ClientOperations = ClientThroughPlugin;

TEST_F(ClientPolicies, DeliversPoliciesToSubscribersInOrderAdded) {
    RecordingHandle a(&journal_), b(&journal_);
    ASSERT_EQ(client_->AddPolicyHandle(&a), 0ul);
    ASSERT_EQ(client_->AddPolicyHandle(&b), 0ul);
    ASSERT_EQ(client_->Start(7), 0ul);

    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P1","content":{"files":[{"a":1}]},"other":true})");
    Deliver(VORNINT_RUN_POLICY, R"({"polid":12,"content":{"files":[]}})");
    Deliver(VORNINT_RUN_POLICY, "{\"polid\":\"\xC3\xBC\",\"content\":{\"files\":[\"t\"]}}");

    const std::vector<Received> expected = {
        {&a, "OnRunPolicy", L"P1", kStyledA1, 0},      {&b, "OnRunPolicy", L"P1", kStyledA1, 0},
        {&a, "OnRunPolicy", L"12", L"null\n", 0},      {&b, "OnRunPolicy", L"12", L"null\n", 0},
        {&a, "OnRunPolicy", L"\u00FC", L"\"t\"\n", 0}, {&b, "OnRunPolicy", L"\u00FC", L"\"t\"\n", 0},
    };
    const auto calls = journal_.Calls();
    EXPECT_EQ(calls, expected);
    const auto delivered = vornint::Entries(VORNINT_DELIVERED);
    ASSERT_EQ(delivered.size(), 3u);
    for (const Received& call : calls) {
        EXPECT_NE(call.thread, GetCurrentThreadId()) << "called on the host's thread";
    }
    EXPECT_EQ(calls[0].thread, delivered[0].data.thread_id);

    client_->Stop();
}

TEST_F(ClientPolicies, RemovalPassesTheIdAndARemovedSubscriberHearsNothingMore) {
    RecordingHandle a(&journal_), b(&journal_);
    ASSERT_EQ(client_->AddPolicyHandle(&a), 0ul);
    ASSERT_EQ(client_->AddPolicyHandle(&b), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);

    Deliver(VORNINT_REMOVE_POLICY, R"({"polid":"P9","content":{"files":[{"a":1}]}})");
    ASSERT_EQ(client_->RemovePolicyHandle(&a), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P10","content":{"files":[{"a":1}]}})");
    Deliver(VORNINT_REMOVE_POLICY, R"({"polid":11,"content":{"files":[]}})");

    const std::vector<Received> expected = {
        {&a, "OnRemovePolicy", L"P9", L"", 0},
        {&b, "OnRemovePolicy", L"P9", L"", 0},
        {&b, "OnRunPolicy", L"P10", kStyledA1, 0},
        {&b, "OnRemovePolicy", L"11", L"", 0},
    };
    EXPECT_EQ(journal_.Calls(), expected);
    client_->Stop();
}

// One text for each reason: PolicyImpl's own tests go through every way a text is refused.
TEST_F(ClientPolicies, InvalidTextsReachNoSubscriberAndLogTheirOneReason) {
    struct Case {
        const char* text;
        std::wstring message;
    } cases[] = {
        {"not json", L"failed to parse json: not json"},
        {nullptr, L"failed to parse json: "},
        {R"({"content":{"files":[1]}})", L"failed to get policy id from json: {\"content\":{\"files\":[1]}}"},
        {R"({"polid":"P"})", L"failed to get [content/files] from policy"},
        {R"({"polid":"P","content":{"files":{}}})", L"[content/files] is not array"},
        {R"({"polid":"P","content":{"files":[1,2]}})", L"unexpected size [2] for [content/files]"},
    };
    RecordingHandle a(&journal_);
    ASSERT_EQ(client_->AddPolicyHandle(&a), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);
    for (int delivery : {VORNINT_RUN_POLICY, VORNINT_REMOVE_POLICY}) {
        const std::wstring function =
            kClient + (delivery == VORNINT_RUN_POLICY ? L"on_run_policy" : L"on_remove_policy");
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << delivery << " " << (c.text ? c.text : "<null>"));
            log_.Clear();
            Deliver(delivery, c.text);
            const auto lines = WrittenLines(log_);
            ASSERT_EQ(lines.size(), 3u);
            EXPECT_EQ(lines[0], TraceEntry(function));
            EXPECT_EQ(lines[1], (LogLine{0x04, kParse, c.message}));
            EXPECT_EQ(lines[2], TraceExit(function));
        }
    }
    EXPECT_TRUE(journal_.Calls().empty());
    client_->Stop();
}

TEST_F(ClientPolicies, APolicyWithoutSubscribersIsParsedAndDropped) {
    ASSERT_EQ(client_->Start(1), 0ul);
    log_.Clear();
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P1","content":{"files":[1]}})");
    const auto lines = WrittenLines(log_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], TraceEntry(kClient + L"on_run_policy"));
    EXPECT_EQ(lines[1], TraceExit(kClient + L"on_run_policy"));
    client_->Stop();
}

// A subscriber that throws must neither leave the list share-locked (the host's next change would wait
// forever) nor let the exception into the agent library's thread.
TEST_F(ClientPolicies, ASubscriberThatThrowsEndsTheWalkAndNothingReachesTheAgentThread) {
    RecordingHandle a(&journal_), b(&journal_);
    bool thrown = false;
    a.during = [&] {
        if (!thrown) {
            thrown = true;
            throw std::runtime_error("subscriber failure");
        }
    };
    ASSERT_EQ(client_->AddPolicyHandle(&a), 0ul);
    ASSERT_EQ(client_->AddPolicyHandle(&b), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P1","content":{"files":[1]}})");

    const auto delivered = vornint::Entries(VORNINT_DELIVERED);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].data.threw, 0);
    const auto lines = WrittenLines(log_);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), TraceExit(kClient + L"on_run_policy"));

    RecordingHandle c(&journal_);
    sync_test::WorkerThread host;
    ASSERT_TRUE(host.Run([&] { EXPECT_EQ(client_->AddPolicyHandle(&c), 0ul); })) << "the list stayed locked";
    journal_.Clear();
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P2","content":{"files":[1]}})");
    const std::vector<Received> expected = {
        {&a, "OnRunPolicy", L"P2", L"1\n", 0},
        {&b, "OnRunPolicy", L"P2", L"1\n", 0},
        {&c, "OnRunPolicy", L"P2", L"1\n", 0},
    };
    EXPECT_EQ(journal_.Calls(), expected);
    client_->Stop();
}

TEST_F(ClientPolicies, SubscriberListsRefuseNullDuplicatesAndStrangers) {
    RecordingHandle a(&journal_), b(&journal_);
    struct Notification : Endpoint::Vorn::INotification {
        void OnNotification(unsigned long, const qv::WString&) override {}
    } n1, n2;
    const std::vector<std::pair<std::function<unsigned long()>, unsigned long>> steps = {
        {[&] { return client_->AddPolicyHandle(nullptr); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->RemovePolicyHandle(&a); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddPolicyHandle(&a); }, 0ul},
        {[&] { return client_->AddPolicyHandle(&a); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddPolicyHandle(&b); }, 0ul},
        {[&] { return client_->RemovePolicyHandle(&a); }, 0ul},
        {[&] { return client_->RemovePolicyHandle(&a); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddNotification(nullptr); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->RemoveNotification(&n1); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddNotification(&n1); }, 0ul},
        {[&] { return client_->AddNotification(&n1); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->AddNotification(&n2); }, 0ul},
        {[&] { return client_->RemoveNotification(&n1); }, 0ul},
        {[&] { return client_->RemoveNotification(&n1); }, ERROR_FUNCTION_FAILED},
        {[&] { return client_->RemoveNotification(&n2); }, 0ul},
    };
    for (size_t n = 0; n < steps.size(); ++n) {
        EXPECT_EQ(steps[n].first(), steps[n].second) << "step " << n;
    }
    // b alone is left, and the policy list and the notification list are separate.
    ASSERT_EQ(client_->Start(1), 0ul);
    Deliver(VORNINT_RUN_POLICY, R"({"polid":"P","content":{"files":[]}})");
    EXPECT_EQ(journal_.Calls(), (std::vector<Received>{{&b, "OnRunPolicy", L"P", L"null\n", 0}}));
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
    struct Case {
        const char* name;
        std::function<void(IClient*&)> steps;
        std::vector<std::pair<int, int>> record;
    } cases[] = {
        {"start twice destroys the first without stop",
         [](IClient*& c) {
             c->Start(1);
             c->Start(2);
         },
         {{C, 0}, {R, 0}, {S, 0}, {C, 1}, {D, 0}, {R, 1}, {S, 1}}},
        {"stop then start lets the stopped one live",
         [](IClient*& c) {
             c->Start(1);
             c->Stop();
             c->Start(2);
             c->Stop();
         },
         {{C, 0}, {R, 0}, {S, 0}, {X, 0}, {C, 1}, {R, 1}, {S, 1}, {X, 1}}},
        {"destroying the object destroys the held client without stop",
         [this](IClient*& c) {
             c->Start(1);
             Destroy(c);
         },
         {{C, 0}, {R, 0}, {S, 0}, {D, 0}}},
        {"uninit lets go without stop, destroy then leaves it alone",
         [this](IClient*& c) {
             c->Start(1);
             c->Uninit();
             Destroy(c);
         },
         {{C, 0}, {R, 0}, {S, 0}}},
        {"stop then destroy leaves the stopped one alone",
         [this](IClient*& c) {
             c->Start(1);
             c->Stop();
             Destroy(c);
         },
         {{C, 0}, {R, 0}, {S, 0}, {X, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vornint_reset();
        IClient* client = Create();
        ASSERT_NE(client, nullptr);
        c.steps(client);
        EXPECT_EQ(LifeRecord(), c.record);
        // The handler registered is the client object as its policy_handler, once per library client.
        for (const auto& entry : vornint::Entries(VORNINT_REGISTERED_POLICY_HANDLER)) {
            EXPECT_NE(entry.data.handler, nullptr);
        }
        Destroy(client);
    }
}

TEST_F(ClientLifeCycle, StartMakesAVornClientWithTheHostsNumber) {
    ASSERT_EQ(client_->Start(-17), 0ul);
    vornint_client state{};
    char name[16] = {};
    ASSERT_EQ(vornint_get_client(0, &state, name, sizeof name), VORNINT_OK);
    EXPECT_EQ(state.number, -17);
    EXPECT_STREQ(name, "vorn");
    EXPECT_EQ(state.starts, 1);
    client_->Stop();
}

TEST_F(ClientLifeCycle, AFailedStartIsReturnedAndLoggedAndTheClientStaysForStop) {
    vornint_client_script script{1460, 0, 0, 1};
    ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &script), VORNINT_OK);
    EXPECT_EQ(client_->Start(3), 1460ul);
    const auto lines = LinesOf(WrittenLines(log_), L"Endpoint::Vorn::NG::ClientImpl::Start");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1],
              (LogLine{0x04, L"Endpoint::Vorn::NG::ClientImpl::Start", L"failed to start vorn client. error [1460]"}));
    client_->Stop();
    vornint_client state{};
    ASSERT_EQ(vornint_get_client(0, &state, nullptr, 0), VORNINT_OK);
    EXPECT_EQ(state.stops, 1);
    EXPECT_EQ(state.destroyed, 0);
}

TEST_F(ClientLifeCycle, WithoutAHeldClientStopUninitAndSendsCallNothing) {
    Endpoint::Vorn::EventDescriptor event{7, 3, 1, L"n", L"d", L"{}", true};
    const std::vector<std::function<void()>> calls = {
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

TEST_F(ClientOperations, AnswersItsThreeInterfacesWithItselfAndNothingElse) {
    EXPECT_EQ(client_->QueryInterface(Endpoint::Vorn::IID_IClient), client_);
    EXPECT_EQ(client_->QueryInterface(Endpoint::Vorn::IID_IBaseObject), client_);
    EXPECT_EQ(client_->QueryInterface(Endpoint::Vorn::IID_IQvBaseInterface), client_);
    EXPECT_EQ(client_->QueryInterface(Endpoint::Vorn::IID_IService), nullptr);
    EXPECT_EQ(client_->QueryInterface(Endpoint::Vorn::IID_IServPlugin), nullptr);
    IClient* second = Create();
    EXPECT_NE(second, client_);
    Destroy(second);
}

// Each traced operation writes its entry line, its own messages and its exit line, all under its name.
TEST_F(ClientOperations, TracedOperationsWriteTheirLinesAndOnlyTheirMessages) {
    RecordingHandle a(&journal_);
    ASSERT_EQ(client_->AddPolicyHandle(&a), 0ul);
    ASSERT_EQ(client_->Start(1), 0ul);
    struct Case {
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
    for (const Case& c : cases) {
        const std::wstring function = kClient + c.operation;
        SCOPED_TRACE(testing::PrintToString(function));
        log_.Clear();
        c.call();
        const auto lines = WrittenLines(log_);
        ASSERT_EQ(lines.size(), c.messages.size() + 2);
        EXPECT_EQ(lines.front(), TraceEntry(function));
        EXPECT_EQ(std::vector<LogLine>(lines.begin() + 1, lines.end() - 1), c.messages);
        EXPECT_EQ(lines.back(), TraceExit(function));
    }
    EXPECT_TRUE(journal_.Calls().empty()) << "a subscriber was called";

    log_.Clear();
    client_->Stop();
    const auto lines = WrittenLines(log_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], TraceEntry(kClient + L"Stop"));
    log_.Clear();
    client_->Uninit();
    ASSERT_EQ(WrittenLines(log_).size(), 2u);
    EXPECT_EQ(WrittenLines(log_)[0], TraceEntry(kClient + L"Uninit"));
}

}  // namespace
