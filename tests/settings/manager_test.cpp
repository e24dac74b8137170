// The settings manager through the plug-in DLL and the stand-in agent library: life cycle, the wait for the
// agent's server, reading and sending settings.
#include <gtest/gtest.h>

#include <json/json.h>

#include <exception>
#include <string>
#include <vector>

#include "tests/settings/manager_fixture.h"
#include "tests/settings/record_text.h"

using namespace Endpoint::Vorn;
using settings_test::Bounded;
using settings_test::kOldRecordText;
using settings_test::kWaitMs;
using settings_test::OldRecord;
using settings_test::Pending;
using settings_test::RecordText;
using SettingsManager = settings_test::SettingsManagerTest;

namespace {

constexpr char kValidSettings[] =
    R"({"conn":{"srvaddrlist":["a.example"],"srvaddr":"s.example","storeevs":true,"timesec":30},)"
    R"("id":{"appid":5,"custid":"c1","userid":"u1","customdata":{"k":1}}})";
constexpr char kValidSettingsText[] =
    "srvaddr=s.example list=[a.example] storeevs=1 timesec=30 proxy=old:98:old:old | appid=5 custid=c1 userid=u1 "
    "groupid=old token=old";

const std::wstring kInit = L"Endpoint::Vorn::NG::SettingsImpl::Init";
const std::wstring kRead = L"Endpoint::Vorn::NG::SettingsImpl::Read";
const std::wstring kUpdate = L"Endpoint::Vorn::NG::SettingsImpl::Update";
const std::wstring kNotification = L"Endpoint::Vorn::NG::SettingsImpl::on_notification";
const std::wstring kWaitVorn = L"Endpoint::Vorn::NG::SettingsImpl::WaitVorn";
constexpr unsigned int kError = 0x04;
constexpr unsigned int kWarning = 0x08;
constexpr unsigned int kTrace = 0x20;

// The operations whose trace lines were written, in order of entry; each exit must close the innermost open one.
std::vector<std::wstring> TracedFunctions(const std::vector<LogLine>& traces) {
    std::vector<std::wstring> functions;
    std::vector<std::wstring> open;
    for (const LogLine& line : traces) {
        if (line == TraceEntry(line.function)) {
            functions.push_back(line.function);
            open.push_back(line.function);
        } else {
            EXPECT_FALSE(open.empty() || open.back() != line.function) << "exit without its entry";
            if (!open.empty()) {
                open.pop_back();
            }
        }
    }
    EXPECT_TRUE(open.empty()) << "a traced operation was not left";
    return functions;
}

std::vector<int> Kinds(const std::vector<vornint::Entry>& entries) {
    std::vector<int> kinds;
    for (const auto& entry : entries) {
        kinds.push_back(entry.data.kind);
    }
    return kinds;
}

vornint_client Client(int index) {
    vornint_client client{};
    EXPECT_EQ(vornint_get_client(index, &client, nullptr, 0), VORNINT_OK);
    return client;
}

std::string Styled(const char* json) {
    Json::Value value;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(json, value)) << json;
    return value.toStyledString();
}

// An IData that did not come from CreateData.
struct ForeignData : Settings::IData {
    unsigned long Reserved1() override { return 0; }
    unsigned long Reserved2() override { return 0; }
    unsigned long SetAppId(std::uint32_t) override { return 0; }
    unsigned long SetToken(const qv::WString&) override { return 0; }
    unsigned long SetCustId(const qv::WString&) override { return 0; }
    unsigned long SetUserId(const qv::WString&) override { return 0; }
    unsigned long SetGroupId(const qv::WString&) override { return 0; }
    unsigned long SetServerAddressList(const std::vector<qv::WString>&) override { return 0; }
    unsigned long SetServerAddress(const qv::WString&) override { return 0; }
    unsigned long SetStoreEvents(bool) override { return 0; }
    unsigned long SetProxy(const Settings::Proxy&) override { return 0; }
    unsigned long SetCustomData(const qv::WString&) override { return 0; }
    void SetConnectionTime() override {}
};

TEST_F(SettingsManager, AnswersItsThreeInterfacesWithItselfAndNoOther) {
    EXPECT_EQ(manager_->QueryInterface(IID_ISettingsManager), manager_);
    EXPECT_EQ(manager_->QueryInterface(IID_IBaseObject), manager_);
    EXPECT_EQ(manager_->QueryInterface(IID_IQvBaseInterface), manager_);
    for (const GUID& other : {IID_IClient, IID_IService, IID_IServPlugin, IID_ILoggerConfiguration}) {
        EXPECT_EQ(manager_->QueryInterface(other), nullptr);
    }
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(plugin_.Create(L"Vorn.Settings", IID_IClient, &object), static_cast<unsigned long>(ERROR_NOT_FOUND));
    EXPECT_EQ(object, nullptr);
}

TEST_F(SettingsManager, InitMakesClientTwelveNamedVornRegistersStartsAndAsksOnce) {
    ASSERT_EQ(manager_->Init(), 0u);
    const auto entries = vornint::Entries();
    ASSERT_EQ(Kinds(entries), (std::vector<int>{VORNINT_CONSTRUCTED, VORNINT_REGISTERED_NOTIFICATION_HANDLER,
                                                VORNINT_STARTED, VORNINT_ASKED_CONNECTED}));
    EXPECT_EQ(entries[0].data.client_number, 12);
    EXPECT_EQ(entries[0].text, "vorn");
    EXPECT_NE(entries[1].data.handler, nullptr);
    EXPECT_EQ(Client(0).running, 1);
    EXPECT_TRUE(Messages(WrittenLines(log_)).empty());
    EXPECT_EQ(TracedFunctions(Traces(WrittenLines(log_))), std::vector<std::wstring>{kInit});
}

TEST_F(SettingsManager, InitSaysSoWhenTheClientIsAlreadyConnected) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ASSERT_EQ(manager_->Init(), 0u);
    EXPECT_EQ(Messages(WrittenLines(log_)), (std::vector<LogLine>{{kTrace, kInit, L"vorn is allready connected"}}));
}

TEST_F(SettingsManager, InitPassesOnAFailedStartWithoutAskingForTheConnection) {
    ScriptClient(VORNINT_ALL_CLIENTS, 1722, true);
    EXPECT_EQ(manager_->Init(), 1722u);
    EXPECT_TRUE(vornint::Entries(VORNINT_ASKED_CONNECTED).empty());
    EXPECT_EQ(Client(0).destroyed, 0) << "the client stays in place";
    EXPECT_EQ(Messages(WrittenLines(log_)),
              (std::vector<LogLine>{{kError, kInit, L"failed to start vorn client. error [1722]"}}));
}

TEST_F(SettingsManager, BeforeInitNothingReachesTheAgentLibrary) {
    Settings::Record record = OldRecord();
    Settings::IData* data = manager_->CreateData();
    EXPECT_EQ(Bounded([&] { return manager_->Read(record); }), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(Bounded([&] { return manager_->Update(data); }), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(Bounded([&] { return manager_->Update(nullptr); }), static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
    manager_->Uninit();
    manager_->DestroyData(data);
    manager_->DestroyData(nullptr);
    EXPECT_EQ(vornint_entry_count(), 0u);
    EXPECT_EQ(RecordText(record), kOldRecordText);
}

TEST_F(SettingsManager, UpdateWithNullReturnsAtOnceEvenWhileTheServerIsDown) {
    ASSERT_EQ(manager_->Init(), 0u);
    log_.Clear();
    Pending update([&] { return manager_->Update(nullptr); });
    ASSERT_TRUE(update.ReturnsWithin(kWaitMs));
    EXPECT_EQ(update.Result(), static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(vornint::Entries(VORNINT_SENT_COMMAND).empty());
    // Only Update's own two trace lines: no wait, no message.
    EXPECT_EQ(WrittenLines(log_), (std::vector<LogLine>{TraceEntry(kUpdate), TraceExit(kUpdate)}));
}

TEST_F(SettingsManager, UpdateRefusesADataObjectItDidNotMake) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ASSERT_EQ(manager_->Init(), 0u);
    ForeignData foreign;
    EXPECT_EQ(Bounded([&] { return manager_->Update(&foreign); }), static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(vornint::Entries(VORNINT_SENT_COMMAND).empty());
}

TEST_F(SettingsManager, UpdateBlocksUntilTheAgentSaysItsServerIsUp) {
    ASSERT_EQ(manager_->Init(), 0u);
    log_.Clear();
    Settings::IData* data = manager_->CreateData();
    {
        Pending update([&] { return manager_->Update(data); });
        EXPECT_FALSE(update.ReturnsWithin(300));
        // Other notifications, a null text among them, do not release it.
        Notify(3);
        Notify(7, nullptr);
        Notify(5);
        EXPECT_FALSE(update.ReturnsWithin(300));
        EXPECT_TRUE(vornint::Entries(VORNINT_SENT_COMMAND).empty());

        Notify(4);
        ASSERT_TRUE(update.ReturnsWithin(kWaitMs));
        EXPECT_EQ(update.Result(), 0u);
    }
    const auto delivered = vornint::Entries(VORNINT_DELIVERED);
    ASSERT_EQ(delivered.size(), 4u);
    const DWORD agent_thread = delivered[0].data.thread_id;
    EXPECT_NE(agent_thread, GetCurrentThreadId());
    EXPECT_EQ(Messages(WrittenLines(log_, agent_thread)),
              (std::vector<LogLine>{{kTrace, kNotification, L"id[3] json: {}"},
                                    {kTrace, kNotification, L"id[7] json: (null)"},
                                    {kTrace, kNotification, L"id[5] json: {}"},
                                    {kTrace, kNotification, L"vorn server down"},
                                    {kTrace, kNotification, L"id[4] json: {}"},
                                    {kTrace, kNotification, L"vorn server up"}}));
    EXPECT_EQ(TracedFunctions(Traces(WrittenLines(log_, agent_thread))), std::vector<std::wstring>(4, kNotification));
    const auto sent = vornint::Entries(VORNINT_SENT_COMMAND);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data.command, 2);
    EXPECT_EQ(sent[0].data.result_object, nullptr);
    EXPECT_EQ(sent[0].data.timeout_ms, 15000);

    // The server stays up for the next update, until it goes down again.
    EXPECT_EQ(Bounded([&] { return manager_->Update(data); }), 0u);
    Notify(5);
    {
        Pending update([&] { return manager_->Update(data); });
        EXPECT_FALSE(update.ReturnsWithin(300));
        Notify(4);
        EXPECT_EQ(update.Result(), 0u);
    }
    EXPECT_EQ(vornint::Entries(VORNINT_SENT_COMMAND).size(), 3u);
    manager_->DestroyData(data);
}

TEST_F(SettingsManager, UpdateDoesNotWaitWhenInitFindsTheClientConnected) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ASSERT_EQ(manager_->Init(), 0u);
    Settings::IData* data = manager_->CreateData();
    Pending update([&] { return manager_->Update(data); });
    ASSERT_TRUE(update.ReturnsWithin(kWaitMs));
    EXPECT_EQ(update.Result(), 0u);
    EXPECT_EQ(vornint::Entries(VORNINT_SENT_COMMAND).size(), 1u);
    manager_->DestroyData(data);
}

TEST_F(SettingsManager, UpdatePassesOnTheAgentLibrarysResult) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ScriptReply(2, 1460, nullptr, 0);
    ASSERT_EQ(manager_->Init(), 0u);
    Settings::IData* data = manager_->CreateData();
    log_.Clear();
    EXPECT_EQ(Bounded([&] { return manager_->Update(data); }), 1460u);
    EXPECT_EQ(Messages(WrittenLines(log_)), (std::vector<LogLine>{{kTrace, kWaitVorn, L"wait_result [0]"},
                                                                  {kTrace, kUpdate, L"send vorn settings: null\n"},
                                                                  {kError, kUpdate, L"send_command result [1460]"}}));
    EXPECT_EQ(TracedFunctions(Traces(WrittenLines(log_))), (std::vector<std::wstring>{kUpdate, kWaitVorn}));
    manager_->DestroyData(data);
}

TEST_F(SettingsManager, UpdateSendsTheStyledTextOfExactlyTheKeysThatWereSet) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ASSERT_EQ(manager_->Init(), 0u);
    Settings::IData* empty = manager_->CreateData();
    Settings::IData* data = manager_->CreateData();
    Settings::Proxy proxy;
    proxy.server = L"p.example";
    proxy.port = 3128;
    proxy.username = L"pu";
    proxy.password = L"pp";
    ASSERT_EQ(data->SetServerAddressList({L"a.example", L"b.example"}), 0u);
    ASSERT_EQ(data->SetStoreEvents(false), 0u);
    ASSERT_EQ(data->SetProxy(proxy), 0u);
    ASSERT_EQ(data->SetAppId(4294967295u), 0u);
    ASSERT_EQ(data->SetCustId(L"c\u00e9"), 0u);
    ASSERT_EQ(data->SetCustomData(L"{\"k\":[1,2]}"), 0u);
    EXPECT_EQ(Bounded([&] { return manager_->Update(empty); }), 0u);
    log_.Clear();
    EXPECT_EQ(Bounded([&] { return manager_->Update(data); }), 0u);

    const auto sent = vornint::Entries(VORNINT_SENT_COMMAND);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].text, "null\n");
    EXPECT_EQ(sent[1].text, Styled(u8R"({"conn":{"srvaddrlist":["a.example","b.example"],"storeevs":false,)"
                                   u8R"("proxy":{"server":"p.example","port":3128,"username":"pu","password":"pp"}},)"
                                   u8R"("id":{"appid":-1,"custid":"cé","customdata":{"k":[1,2]}}})"));
    EXPECT_EQ(Messages(WrittenLines(log_)),
              (std::vector<LogLine>{{kTrace, kWaitVorn, L"wait_result [0]"},
                                    {kTrace, kUpdate, L"send vorn settings: " + settings_test::Wide(sent[1].text)},
                                    {kTrace, kUpdate, L"send_command result [0]"}}));
    manager_->DestroyData(empty);
    manager_->DestroyData(data);
}

TEST_F(SettingsManager, WhatAnUpdateSentReadsBackIntoTheHostsRecord) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ASSERT_EQ(manager_->Init(), 0u);
    Settings::IData* data = manager_->CreateData();
    Settings::Proxy proxy;
    proxy.server = L"p";
    proxy.port = 8080;
    proxy.username = L"u";
    proxy.password = L"w";
    ASSERT_EQ(data->SetServerAddressList({L"x", L"y"}), 0u);
    ASSERT_EQ(data->SetServerAddress(L"s"), 0u);
    ASSERT_EQ(data->SetStoreEvents(true), 0u);
    ASSERT_EQ(data->SetProxy(proxy), 0u);
    ASSERT_EQ(data->SetAppId(42), 0u);
    ASSERT_EQ(data->SetCustId(L"c"), 0u);
    ASSERT_EQ(data->SetUserId(L"u\u00fc"), 0u);
    ASSERT_EQ(data->SetGroupId(L"g"), 0u);
    ASSERT_EQ(data->SetToken(L"t"), 0u);
    ASSERT_EQ(data->SetCustomData(L"[{\"a\":\"b\"},3]"), 0u);
    ASSERT_EQ(Bounded([&] { return manager_->Update(data); }), 0u);
    const auto sent = vornint::Entries(VORNINT_SENT_COMMAND);
    ASSERT_EQ(sent.size(), 1u);

    ScriptReply(1, 0, sent[0].text.c_str(), 0);
    Settings::Record record = OldRecord();
    ASSERT_EQ(Bounded([&] { return manager_->Read(record); }), 0u);
    EXPECT_EQ(RecordText(record),
              "srvaddr=s list=[x,y] storeevs=1 timesec=99 proxy=p:8080:u:w | appid=42 custid=c userid=u\xC3\xBC "
              "groupid=g token=t");

    // customdata comes back as text that SetCustomData takes unchanged.
    Settings::IData* again = manager_->CreateData();
    ASSERT_EQ(again->SetCustomData(record.id.customdata), 0u);
    ASSERT_EQ(Bounded([&] { return manager_->Update(again); }), 0u);
    EXPECT_EQ(vornint::Entries(VORNINT_SENT_COMMAND).back().text, Styled(R"({"id":{"customdata":[{"a":"b"},3]}})"));
    manager_->DestroyData(again);
    manager_->DestroyData(data);
}

TEST_F(SettingsManager, ReadAsksForTheSettingsAndLoadsThemWhateverTheReplyCode) {
    ScriptReply(1, 0, kValidSettings, 7);
    ASSERT_EQ(manager_->Init(), 0u);
    Settings::Record record = OldRecord();
    // The server is not up: Read does not wait for it.
    log_.Clear();
    EXPECT_EQ(Bounded([&] { return manager_->Read(record); }), 0u);
    EXPECT_EQ(RecordText(record), kValidSettingsText);
    EXPECT_EQ(
        Messages(WrittenLines(log_)),
        (std::vector<LogLine>{{kTrace, kRead, L"result code[7] with data: " + settings_test::Wide(kValidSettings)}}));
    EXPECT_EQ(TracedFunctions(Traces(WrittenLines(log_))), std::vector<std::wstring>{kRead});
    const auto sent = vornint::Entries(VORNINT_SENT_COMMAND);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data.command, 1);
    EXPECT_EQ(sent[0].data.text_null, 1);
    EXPECT_NE(sent[0].data.result_object, nullptr);
    EXPECT_EQ(sent[0].data.timeout_ms, 15000);
}

TEST_F(SettingsManager, ReadFailsWithoutTouchingTheRecordWhenTheReplyIsNoDocument) {
    ASSERT_EQ(manager_->Init(), 0u);
    const LogLine kNotJson{kError, kRead, L"failed to parse settings json"};
    struct Case {
        const char* name;
        vornint_command_script script;
        unsigned long result;
        std::vector<LogLine> messages;
    } cases[] = {
        {"command failed",
         {1460, 1, kValidSettings, 0},
         1460,
         {{kError, kRead, L"send_command(get_settings) failed with error [1460]"}}},
        {"command failed with a negative code",
         {-3, 0, nullptr, 0},
         static_cast<unsigned long>(-3),
         {{kError, kRead, L"send_command(get_settings) failed with error [-3]"}}},
        {"empty data",
         {0, 1, "", 0},
         ERROR_FUNCTION_FAILED,
         {{kTrace, kRead, L"result code[0] with data: "}, kNotJson}},
        {"null data",
         {0, 1, nullptr, -2},
         ERROR_FUNCTION_FAILED,
         {{kTrace, kRead, L"result code[-2] with data: "}, kNotJson}},
        {"no reply at all",
         {0, 0, nullptr, 0},
         ERROR_FUNCTION_FAILED,
         {{kTrace, kRead, L"result code[0] with data: "}, kNotJson}},
        {"not JSON",
         {0, 1, "{\"conn\":", 0},
         ERROR_FUNCTION_FAILED,
         {{kTrace, kRead, L"result code[0] with data: {\"conn\":"}, kNotJson}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, 1, &c.script), VORNINT_OK);
        log_.Clear();
        Settings::Record record = OldRecord();
        EXPECT_EQ(Bounded([&] { return manager_->Read(record); }), c.result);
        EXPECT_EQ(RecordText(record), kOldRecordText);
        EXPECT_EQ(Messages(WrittenLines(log_)), c.messages);
    }
}

TEST_F(SettingsManager, ReadKeepsTheConnectionWhenTheIdentityIsMissing) {
    const char kReply[] = R"({"conn":{"srvaddrlist":["a"],"srvaddr":"s"}})";
    ScriptReply(1, 0, kReply, 0);
    ASSERT_EQ(manager_->Init(), 0u);
    log_.Clear();
    Settings::Record record = OldRecord();
    EXPECT_EQ(Bounded([&] { return manager_->Read(record); }), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(RecordText(record),
              "srvaddr=s list=[a] storeevs=1 timesec=99 proxy=old:98:old:old | appid=0 custid=old userid=old "
              "groupid=old token=old");
    EXPECT_EQ(Messages(WrittenLines(log_)),
              (std::vector<LogLine>{{kTrace, kRead, L"result code[0] with data: " + settings_test::Wide(kReply)},
                                    {kWarning, L"JsonComposedSerializer::Load", L"Failed to load subnode appid"},
                                    {kWarning, L"JsonComposedSerializer::Load", L"Failed to load subnode id"},
                                    {kError, kRead, L"failed to deserialize settings"}}));
}

TEST_F(SettingsManager, ASecondInitReplacesTheClientWithoutStoppingItAndStartsWithANewEvent) {
    ScriptClient(0, 0, true);
    ScriptClient(1, 0, false);
    ASSERT_EQ(manager_->Init(), 0u);
    ASSERT_EQ(manager_->Init(), 0u);

    ASSERT_EQ(vornint_client_count(), 2u);
    EXPECT_EQ(Client(0).destroyed_without_stop, 1);
    EXPECT_EQ(Client(0).stops, 0);
    EXPECT_EQ(Client(1).destroyed, 0);
    EXPECT_EQ(Client(1).running, 1);
    // The new client is made before the old one goes.
    const auto entries = vornint::Entries();
    const auto kinds = Kinds(entries);
    ASSERT_EQ(kinds.size(), 9u);
    EXPECT_EQ(kinds[4], VORNINT_CONSTRUCTED);
    EXPECT_EQ(kinds[5], VORNINT_DESTROYED);
    EXPECT_EQ(entries[5].data.client_index, 0);

    // The first client's connection signalled the first event; the second event starts unsignalled.
    Settings::IData* data = manager_->CreateData();
    {
        Pending update([&] { return manager_->Update(data); });
        EXPECT_FALSE(update.ReturnsWithin(300));
        Notify(4, "{}", 1);
        EXPECT_EQ(update.Result(), 0u);
    }
    const auto sent = vornint::Entries(VORNINT_SENT_COMMAND);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data.client_index, 1);
    manager_->DestroyData(data);
}

TEST_F(SettingsManager, UninitStopsTheClientAndLetsGoOfItWithoutDestroyingIt) {
    ScriptClient(VORNINT_ALL_CLIENTS, 0, true);
    ScriptReply(1, 0, kValidSettings, 0);
    ASSERT_EQ(manager_->Init(), 0u);
    manager_->Uninit();
    EXPECT_EQ(Client(0).stops, 1);
    EXPECT_EQ(Client(0).running, 0);

    const size_t entries_after_stop = vornint_entry_count();
    Settings::Record record = OldRecord();
    Settings::IData* data = manager_->CreateData();
    EXPECT_EQ(Bounded([&] { return manager_->Read(record); }), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(Bounded([&] { return manager_->Update(data); }), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    manager_->Uninit();
    manager_->DestroyData(data);
    EXPECT_EQ(vornint_entry_count(), entries_after_stop);

    DestroyManager();
    EXPECT_EQ(Client(0).destroyed, 0);
}

TEST_F(SettingsManager, DestructionDestroysAClientStillHeldWithoutStoppingIt) {
    ASSERT_EQ(manager_->Init(), 0u);
    DestroyManager();
    EXPECT_EQ(Client(0).destroyed_without_stop, 1);
    EXPECT_EQ(Client(0).stops, 0);
}

TEST_F(SettingsManager, SetConnectionTimeThrowsToTheHostAsAStandardException) {
    Settings::IData* data = manager_->CreateData();
    ASSERT_NE(data, nullptr);
    bool caught = false;
    try {
        data->SetConnectionTime();
    } catch (const std::exception& e) {
        caught = true;
        EXPECT_STREQ(e.what(), "SetConnectionTime not implemented");
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(data->Reserved1(), static_cast<unsigned long>(ERROR_CALL_NOT_IMPLEMENTED));
    manager_->DestroyData(data);
}

}  // namespace
