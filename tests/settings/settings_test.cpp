// "Vorn.Settings" as the host drives it from bin/vornplug.dll over the stand-in vornint.dll: its life cycle, the
// wait for the agent's server (recorded and cut short), the changes it sends and the replies it loads.
#include <gtest/gtest.h>

#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <sstream>
#include <tuple>

#include "equipment/log_records.h"
#include "equipment/plugin_loader.h"
#include "equipment/worker_thread.h"
#include "interfaces/interface_ids.h"
#include "interfaces/settings_manager.h"
#include "settings/json_composed_serializer.h"
#include "stand_ins/vornint/vornint_control.h"
#include "support/strings/utf8.h"
#include "tests/import_hook.h"
#include "tests/named_rows.h"

using namespace equipment;

namespace {

using namespace Endpoint::Vorn;
using Results = std::vector<unsigned long>;
const std::wstring kInit = L"Endpoint::Vorn::NG::SettingsImpl::Init", kRead = L"Endpoint::Vorn::NG::SettingsImpl::Read";
const std::wstring kUpdate = L"Endpoint::Vorn::NG::SettingsImpl::Update";
const std::wstring kWaitVorn = L"Endpoint::Vorn::NG::SettingsImpl::WaitVorn";

// What each WaitForMultipleObjects of the plug-in asked for (count, wait-all, time-out). The real wait lasts at
// most g_wait_cap_ms: 0 shows a server that stays down as 258 at once; the default fails a hang in seconds.
using WaitCall = std::tuple<DWORD, BOOL, DWORD>;
std::vector<WaitCall> g_waits;
DWORD g_wait_cap_ms = kFinishes;
DWORD WINAPI RecordedWait(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD timeout_ms) {
    g_waits.emplace_back(count, wait_all, timeout_ms);
    return WaitForMultipleObjects(count, handles, wait_all, std::min(timeout_ms, g_wait_cap_ms));
}

std::string Narrow(const qv::WString& text) { return qv::ToUtf8(text).GetString(); }
std::wstring Wide(const std::string& utf8) { return qv::FromUtf8(utf8.c_str()).GetString(); }
std::string Styled(const std::string& json) {
    Json::Value value;
    EXPECT_TRUE(Json::Reader().parse(json, value)) << json;
    return value.toStyledString();
}

// Every field holds a value that no reply produces, to tell untouched fields apart.
Settings::Record OldRecord() {
    Settings::Record r;
    r.conn.srvaddr = r.conn.proxy.server = r.conn.proxy.username = r.conn.proxy.password = L"old";
    r.conn.srvaddrlist = {L"old1", L"old2"};
    std::tie(r.conn.storeevs, r.conn.timesec, r.conn.proxy.port, r.id.appid) = std::make_tuple(true, 99, 98, 97);
    r.id.customdata = r.id.custid = r.id.userid = r.id.groupid = r.id.token = L"old";
    return r;
}

// The fields that differ from OldRecord() as "name=value", in record order; customdata without layout blanks.
std::string Changed(const Settings::Record& record) {
    auto text = [](const Settings::Record& r) {
        const Settings::Connection& c = r.conn;
        std::string list, data;
        for (const qv::WString& address : c.srvaddrlist) {
            list += (list.empty() ? "" : ",") + Narrow(address);
        }
        for (char ch : Narrow(r.id.customdata)) {
            data += std::isspace(static_cast<unsigned char>(ch)) ? "" : std::string(1, ch);
        }
        return "srvaddr=" + Narrow(c.srvaddr) + " list=[" + list + "] storeevs=" + std::to_string(c.storeevs) +
               " timesec=" + std::to_string(c.timesec) + " server=" + Narrow(c.proxy.server) +
               " port=" + std::to_string(c.proxy.port) + " username=" + Narrow(c.proxy.username) +
               " password=" + Narrow(c.proxy.password) + " appid=" + std::to_string(r.id.appid) +
               " custid=" + Narrow(r.id.custid) + " userid=" + Narrow(r.id.userid) +
               " groupid=" + Narrow(r.id.groupid) + " token=" + Narrow(r.id.token) + " customdata=" + data;
    };
    std::istringstream now(text(record)), old(text(OldRecord()));
    std::string changed;
    for (std::string field, before; now >> field && old >> before;) {
        changed += field == before ? "" : (changed.empty() ? "" : " ") + field;
    }
    return changed;
}

class SettingsThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(wait_hook_.Active() && log_.Valid());
        vornint_reset();
        // Made for IBaseObject: the manager answers it, as it answers Settings::IManager and IQvBaseInterface.
        ASSERT_EQ(plugin_.Create(L"Vorn.Settings", IID_IBaseObject, reinterpret_cast<void**>(&manager_)), 0u);
        EXPECT_EQ(manager_->QueryInterface(IID_IClient), nullptr);
    }
    void TearDown() override { plugin_.Destroy(L"Vorn.Settings", manager_); }
    // Resets the stand-in and the recorded waits, scripts the clients and the answer to updates, inits the manager.
    void Init(bool connected, int start_result = 0, vornint_command_script update = {}) {
        vornint_reset();
        const vornint_client_script client{start_result, connected ? 1 : 0, 0, 1};
        ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &client), VORNINT_OK);
        ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, 2, &update), VORNINT_OK);
        log_.Clear();
        ASSERT_EQ(manager_->Init(), static_cast<unsigned long>(start_result));
        g_waits.clear();
        g_wait_cap_ms = kFinishes;
    }
    void ScriptRead(const vornint_command_script& reply) {
        ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, 1, &reply), VORNINT_OK);
        log_.Clear();
    }
    // Delivers a notification from the stand-in's own thread and waits until the manager has taken it.
    static void Notify(int id, const char* json = "{}") {
        ASSERT_EQ(vornint_deliver(VORNINT_LATEST_CLIENT, VORNINT_NOTIFICATION, id, json), VORNINT_OK);
        ASSERT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, kFinishes), VORNINT_OK);
    }
    static std::vector<vornint::Entry> Sent() { return vornint::Entries(VORNINT_SENT_COMMAND); }

    PluginLoader plugin_;
    ImportHook wait_hook_{plugin_.Module(), "kernel32.dll", "WaitForMultipleObjects", &RecordedWait};
    KeptStandInLog log_;
    Settings::IManager* manager_ = nullptr;
};

TEST_F(SettingsThroughPlugin, InitStartsClientTwelveNamedVorn) {
    std::vector<int> made{VORNINT_CONSTRUCTED, VORNINT_REGISTERED_NOTIFICATION_HANDLER, VORNINT_STARTED}, asked = made;
    asked.push_back(VORNINT_ASKED_CONNECTED);
    const struct {
        const char* name;
        int start_result;
        bool connected;
        std::vector<int> kinds;
        std::vector<LogLine> messages;
    } cases[] = {
        {"not connected yet", 0, false, asked, {}},
        {"connected", 0, true, asked, {{0x20, kInit, L"vorn is allready connected"}}},
        {"start fails", 1722, true, made, {{0x04, kInit, L"failed to start vorn client. error [1722]"}}},
    };
    ForEachRow(cases, [&](const auto& c) {
        Init(c.connected, c.start_result);
        const auto entries = vornint::Entries();
        std::vector<int> seen;
        std::transform(entries.begin(), entries.end(), std::back_inserter(seen), [](auto& e) { return e.data.kind; });
        EXPECT_EQ(seen, c.kinds);
        EXPECT_EQ(std::make_tuple(entries.at(0).data.client_number, entries[0].text), std::make_tuple(12, "vorn"));
        EXPECT_EQ(Traces(WrittenLines(log_)), (std::vector<LogLine>{TraceEntry(kInit), TraceExit(kInit)}));
        EXPECT_EQ(Messages(WrittenLines(log_)), c.messages);
    });
}

TEST_F(SettingsThroughPlugin, UpdateResultIsTheSendResultOnceTheServerIsUp) {
    const LogLine up{0x20, kWaitVorn, L"wait_result [0]"}, sending{0x20, kUpdate, L"send vorn settings: null\n"};
    const struct {
        const char* name;
        bool null_data, connected;
        int agent_result;
        unsigned long result;
        std::vector<LogLine> messages;  // the first one inside WaitVorn's trace lines
    } cases[] = {
        {"no data", true, true, 0, ERROR_INVALID_PARAMETER, {}},
        {"server stays down: nothing sent", false, false, 0, WAIT_TIMEOUT, {{0x20, kWaitVorn, L"wait_result [258]"}}},
        {"sent", false, true, 0, 0, {up, sending, {0x20, kUpdate, L"send_command result [0]"}}},
        {"agent fails", false, true, 1460, 1460, {up, sending, {0x04, kUpdate, L"send_command result [1460]"}}},
    };
    Settings::IData* data = manager_->CreateData();
    ForEachRow(cases, [&](const auto& c) {
        Init(c.connected, 0, {c.agent_result, 0, nullptr, 0});
        g_wait_cap_ms = 0;
        log_.Clear();
        EXPECT_EQ(manager_->Update(c.null_data ? nullptr : data), c.result);
        EXPECT_EQ(g_waits, (c.null_data ? std::vector<WaitCall>{} : std::vector<WaitCall>{{1, FALSE, 6000000}}));
        std::vector<LogLine> lines{TraceEntry(kUpdate)};
        if (!c.null_data) {
            lines.insert(lines.end(), {TraceEntry(kWaitVorn), c.messages[0], TraceExit(kWaitVorn)});
            lines.insert(lines.end(), c.messages.begin() + 1, c.messages.end());
        }
        lines.push_back(TraceExit(kUpdate));
        EXPECT_EQ(WrittenLines(log_), lines);
        EXPECT_EQ(Sent().size(), c.messages.size() > 1 ? 1u : 0u);
    });
    manager_->DestroyData(data);
}

TEST_F(SettingsThroughPlugin, UpdateWaitsUntilNotificationsSayTheServerIsUp) {
    Init(false);
    Settings::IData* data = manager_->CreateData();
    WorkerThread host;
    auto done = host.Post([&] { EXPECT_EQ(manager_->Update(data), 0u); });
    EXPECT_FALSE(done->WaitFor(kStaysBlocked));
    Notify(3);  // other notifications, a null text among them, do not release it
    Notify(7, nullptr);
    EXPECT_FALSE(done->WaitFor(kStaysBlocked));
    Notify(4);
    ASSERT_TRUE(done->WaitFor(kFinishes));
    g_wait_cap_ms = 0;  // the server stays up for the next update, until it goes down again
    EXPECT_EQ(manager_->Update(data), 0u);
    Notify(5);
    EXPECT_EQ(manager_->Update(data), static_cast<unsigned long>(WAIT_TIMEOUT));
    EXPECT_EQ(Sent().size(), 2u);
    manager_->DestroyData(data);
    const DWORD agent = vornint::Entries(VORNINT_DELIVERED).at(0).data.thread_id;  // the agent library's own
    const std::wstring name = L"Endpoint::Vorn::NG::SettingsImpl::on_notification";
    std::wstring said;
    for (const LogLine& line : LinesOf(WrittenLines(log_, agent), name)) {
        said += (IsTraceLine(line) ? line.text.substr(0, 2) : line.text) + L"; ";
    }
    EXPECT_EQ(said,
              L"->; id[3] json: {}; <-; ->; id[7] json: ; <-; ->; id[4] json: {}; vorn server up; <-; "
              L"->; id[5] json: {}; vorn server down; <-; ");
}

// A second Init replaces the client without stopping the first; Uninit stops the client and lets go of it:
// nothing reaches it any more, and it outlives the manager.
TEST_F(SettingsThroughPlugin, AClientLetGoOfGetsNoMoreCalls) {
    Init(true);
    ASSERT_EQ(manager_->Init(), 0u);
    Settings::IData* data = manager_->CreateData();
    EXPECT_EQ(manager_->Update(data), 0u);
    manager_->Uninit();
    vornint_client first{}, second{};
    ASSERT_EQ(vornint_get_client(0, &first, nullptr, 0) | vornint_get_client(1, &second, nullptr, 0), VORNINT_OK);
    EXPECT_EQ(
        std::make_tuple(first.destroyed_without_stop, Sent().at(0).data.client_index, second.stops, second.running),
        std::make_tuple(1, 1, 1, 0));
    const size_t entries = vornint_entry_count();
    Settings::Record record = OldRecord();
    log_.Clear();
    EXPECT_EQ(manager_->Read(record), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(manager_->Update(data), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    const wchar_t* no_client = L"no vorn client (Init not called, or Uninit called)";
    EXPECT_EQ(Messages(WrittenLines(log_)), (std::vector<LogLine>{{4, kRead, no_client}, {4, kUpdate, no_client}}));
    manager_->DestroyData(data);
    manager_->DestroyData(nullptr);
    plugin_.Destroy(L"Vorn.Settings", manager_);
    ASSERT_EQ(vornint_get_client(1, &second, nullptr, 0), VORNINT_OK);
    EXPECT_EQ(std::make_tuple(vornint_entry_count(), second.destroyed), std::make_tuple(entries, 0));
    ASSERT_EQ(plugin_.Create(L"Vorn.Settings", IID_ISettingsManager, reinterpret_cast<void**>(&manager_)), 0u);
}

// Each setter writes its key, a second call replaces the first, a list goes whole, text that is not JSON is no
// customdata.
TEST_F(SettingsThroughPlugin, UpdateSendsExactlyTheKeysSetLast) {
    Init(true);
    const Settings::Proxy proxy{qv::WString(L"p"), 8080, qv::WString(L"u"), qv::WString(L"w")};
    Settings::IData* data = manager_->CreateData();
    // Step by step; the setters of one step write different keys, so their order within it does not matter.
    for (auto set : {+[](Settings::IData& d) { return d.SetServerAddressList({L"z"}) | d.SetCustId(L"first"); },
                     +[](Settings::IData& d) {
                         return d.SetServerAddressList({L"x", L"y"}) | d.SetCustId(L"c");
                     },
                     +[](Settings::IData& d) { return d.SetServerAddress(L"s") | d.SetStoreEvents(false); },
                     +[](Settings::IData& d) { return d.SetAppId(4294967295u) | d.SetUserId(L"\u00fc\u20ac"); },
                     +[](Settings::IData& d) { return d.SetGroupId(L"g") | d.SetToken(L"t") | d.SetCustomData(L"5"); },
                     +[](Settings::IData& d) { return d.SetCustomData(L"[{\"a\":\"b\"},3]"); }}) {
        EXPECT_EQ(set(*data), 0u);
    }
    EXPECT_EQ(Results({data->SetProxy(proxy), data->SetCustomData(L""), data->SetCustomData(L"{'k':1}"),
                       data->Reserved1(), data->Reserved2()}),
              (Results{0, 1627, 1627, 120, 120}));
    try {
        data->SetConnectionTime();
        ADD_FAILURE() << "SetConnectionTime returned";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "SetConnectionTime not implemented");
    }
    ASSERT_EQ(manager_->Update(data), 0u);
    const std::string sent = Styled(
        u8R"({"conn":{"srvaddrlist":["x","y"],"srvaddr":"s","storeevs":false,)"
        u8R"("proxy":{"server":"p","port":8080,"username":"u","password":"w"}},)"
        u8R"("id":{"appid":-1,"custid":"c","userid":"ü€","groupid":"g",)"
        u8R"("token":"t","customdata":[{"a":"b"},3]}})");
    EXPECT_EQ(Sent().back().text, sent);
    manager_->DestroyData(data);
}

std::string Doc(const std::string& conn, const std::string& id) {
    return "{\"conn\":{" + conn + "},\"id\":{" + id + "}}";
}
const std::string kConn = R"("srvaddrlist":["a"])", kId = R"("appid":1,"custid":"c","userid":"u")";
std::string Conn(const std::string& more) { return Doc(kConn + more, kId); }
const std::string kIdRead = " appid=1 custid=c userid=u";

const struct {
    std::string reply;
    std::string changed;                // Changed() after the Read; empty for a reply that is not JSON
    std::vector<const wchar_t*> nodes;  // "Failed to load subnode %s", in order; none when the reply loads
} kReplies[] = {
    {Doc(R"("srvaddrlist":["a","b"],"srvaddr":"s","storeevs":false,"timesec":30,"unknown":1,)"
         R"("proxy":{"server":"p","port":8080,"username":"pu","password":"pp"})",
         R"("appid":5,"custid":"c1","userid":"u1","groupid":"g1","token":"t1","customdata":{"k":[1,"x"]})"),
     "srvaddr=s list=[a,b] storeevs=0 timesec=30 server=p port=8080 username=pu password=pp appid=5 custid=c1 "
     "userid=u1 groupid=g1 token=t1 customdata={\"k\":[1,\"x\"]}",
     {}},
    // Optional keys that are absent or null leave their fields as they were.
    {Doc(kConn + R"(,"srvaddr":null,"storeevs":null,"timesec":null,"proxy":null)",
         kId + R"(,"groupid":null,"token":null,"customdata":null)"),
     "list=[a]" + kIdRead,
     {}},
    // Integers as text; unsigned ones keep their 32 bits.
    {Doc(R"("srvaddrlist":["a",7,4294967295,-7],"srvaddr":17,"storeevs":2,"timesec":4294967295,)"
         R"("proxy":{"server":1,"port":4294967295,"username":0,"password":-1})",
         R"("appid":4294967295,"custid":12,"userid":"u","groupid":-3,"token":0,"customdata":5)"),
     "srvaddr=17 list=[a,7,4294967295,-7] timesec=-1 server=1 port=-1 username=0 password=-1 appid=-1 custid=12 "
     "userid=u groupid=-3 token=0 customdata=5",
     {}},
    {Doc(kConn + R"(,"storeevs":0)", kId + R"(,"customdata":[true])"),
     "list=[a] storeevs=0" + kIdRead + " customdata=[true]",
     {}},
    {Doc(R"("srvaddrlist":[],"storeevs":4294967295)", kId), "list=[]" + kIdRead, {}},
    // The first failure stops the section: fields before it stay loaded, the failing one is reset.
    {Conn(R"(,"srvaddr":"s","storeevs":"1","timesec":5)"), "srvaddr=s list=[a] storeevs=0", {L"storeevs", L"conn"}},
    {Conn(R"(,"timesec":"12")"), "list=[a] timesec=0", {L"timesec", L"conn"}},
    {Conn(R"(,"srvaddr":{},"timesec":5)"), "srvaddr= list=[a]", {L"srvaddr", L"conn"}},
    {Doc(R"("srvaddrlist":["a",null],"srvaddr":"s")", kId), "list=[]", {L"srvaddrlist", L"conn"}},
    {Doc(R"("srvaddrlist":["a",true])", kId), "list=[]", {L"srvaddrlist", L"conn"}},
    {Doc(R"("srvaddrlist":"a")", kId), "list=[]", {L"srvaddrlist", L"conn"}},
    {Conn(R"(,"proxy":{})"), "list=[a] server=", {L"server", L"proxy", L"conn"}},
    {Conn(R"(,"proxy":{"server":"p","username":"pu"})"), "list=[a] server=p port=0", {L"port", L"proxy", L"conn"}},
    {Conn(R"(,"proxy":{"server":"p","port":1,"username":"u","password":null})"),
     "list=[a] server=p port=1 username=u password=",
     {L"password", L"proxy", L"conn"}},
    {"{\"conn\":{" + kConn + "}}", "list=[a] appid=0", {L"appid", L"id"}},
    {Doc(kConn, R"("appid":1,"custid":"c","groupid":"g")"), "list=[a] appid=1 custid=c userid=", {L"userid", L"id"}},
    {Doc(kConn, kId + R"(,"token":[1],"customdata":{"k":1})"), "list=[a]" + kIdRead + " token=", {L"token", L"id"}},
    {R"({"id":{}})", "list=[]", {L"srvaddrlist", L"conn"}},
    {R"({"conn":)", "", {}},
    {"", "", {}},
};

// Read asks once, without waiting for the server, and loads each reply as far as it is valid whatever the
// agent's code says.
TEST_F(SettingsThroughPlugin, ReadLoadsEachReplyAsFarAsItIsValid) {
    Init(false);
    for (const auto& c : kReplies) {
        SCOPED_TRACE(c.reply);
        const long long code = &c - kReplies;
        ScriptRead({0, 1, c.reply.c_str(), code});
        Settings::Record record = OldRecord();
        const bool parses = !c.changed.empty(), loads = parses && c.nodes.empty();
        EXPECT_EQ(manager_->Read(record), loads ? 0u : static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
        EXPECT_EQ(Changed(record), c.changed);
        std::vector<LogLine> messages{
            {0x20, kRead, L"result code[" + std::to_wstring(code) + L"] with data: " + Wide(c.reply)}};
        for (const wchar_t* node : c.nodes) {
            messages.push_back(
                {0x08, L"JsonComposedSerializer::Load", std::wstring(L"Failed to load subnode ") + node});
        }
        if (!loads) {
            messages.push_back(
                {0x04, kRead, parses ? L"failed to deserialize settings" : L"failed to parse settings json"});
        }
        EXPECT_EQ(Messages(WrittenLines(log_)), messages);
        EXPECT_EQ(Traces(WrittenLines(log_)), (std::vector<LogLine>{TraceEntry(kRead), TraceExit(kRead)}));
    }
    EXPECT_EQ(std::make_tuple(Sent().size(), Sent()[0].data.command, Sent()[0].data.text_null, g_waits.size()),
              std::make_tuple(std::size(kReplies), 1, 1, size_t{0}));  // one get_settings per Read, no wait
}

// The plug-in's large allocations fail once the loader has begun converting fields (its first UTF-8 conversion),
// so after the reply was parsed: a customdata too big to copy is reported and the rest of the record stands.
size_t g_fail_from_bytes = 0;
bool g_loading = false;
void* __cdecl FailingMalloc(size_t bytes) {
    return g_loading && g_fail_from_bytes != 0 && bytes >= g_fail_from_bytes ? nullptr : malloc(bytes);
}
int WINAPI WatchedConversion(UINT code_page, DWORD flags, const char* text, int length, wchar_t* out, int room) {
    g_loading = g_fail_from_bytes != 0;
    return MultiByteToWideChar(code_page, flags, text, length, out, room);
}

TEST_F(SettingsThroughPlugin, ReadKeepsTheRestWhenCustomDataIsTooBigToCopy) {
    ImportHook allocation(plugin_.Module(), "msvcrt.dll", "malloc", &FailingMalloc);
    ImportHook conversion(plugin_.Module(), "kernel32.dll", "MultiByteToWideChar", &WatchedConversion);
    Init(false);
    ScriptRead({0, 1, Doc(kConn, kId + ",\"customdata\":\"" + std::string(200000, 'x') + "\"").c_str(), 0});
    Settings::Record record = OldRecord();
    g_fail_from_bytes = 100000;
    EXPECT_EQ(manager_->Read(record), 0u);
    g_fail_from_bytes = 0;
    EXPECT_EQ(Changed(record), "list=[a]" + kIdRead);
    EXPECT_EQ(Messages(WrittenLines(log_)).back(),
              (LogLine{0x08, L"JsonComposedSerializer::Load", L"Failed to load subnode customdata"}));
}

// The loader alone, for what Read cannot show: without a node, or on one that is not an object, it loads nothing.
TEST(SettingsLoader, LoadsNothingWithoutAnObjectNode) {
    Json::Value number(5);
    for (NG::JsonComposedSerializer serializer :
         {NG::JsonComposedSerializer(nullptr, ""), NG::JsonComposedSerializer(&number, nullptr)}) {
        Settings::Record record = OldRecord();
        EXPECT_FALSE(serializer.Load("custid", record.id.custid) || serializer.Load("appid", record.id.appid) ||
                     serializer.Load("storeevs", record.conn.storeevs) ||
                     serializer.Load("srvaddrlist", record.conn.srvaddrlist) || serializer.Load("conn", record.conn) ||
                     serializer.Load("id", record.id) || serializer.Load("proxy", record.conn.proxy));
        EXPECT_EQ(Changed(record), "");
    }
    EXPECT_FALSE(NG::JsonComposedSerializer(&number, "").HasMember("custid"));
}

}  // namespace
