// The simulated agent with a real pipe in this process, and clients of the stand-in vornint.dll in connected mode.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "agent_link/vorn_comm_client.h"
#include "stand_ins/agent/agent_files.h"
#include "stand_ins/agent/agent_server.h"
#include "stand_ins/agent/vorn_agent.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tests/stand_ins/agent_test_support.h"
#include "tests/support/sync/worker_thread.h"

namespace {

using agent_test::Call;
using agent_test::Handler;
using agent_test::Result;
using agent_test::StateFolder;

const char kSettings[] = R"({
    "conn": {"srvaddrlist": ["a.example", "b.example"], "srvaddr": "a.example", "storeevs": true, "timesec": 30,
             "proxy": {"server": "proxy.example", "port": 8080, "username": "u", "password": "p"}},
    "id": {"appid": 7, "custid": "C1", "userid": "U1", "groupid": "G1", "token": "T1", "customdata": {"k": 1}}
})";

Json::Value Parse(const std::string& text) {
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream stream(text);
    EXPECT_TRUE(Json::parseFromStream(builder, stream, &value, &errors)) << errors << "\n" << text;
    return value;
}

std::vector<Json::Value> EventLines(const StateFolder& folder) {
    std::vector<Json::Value> lines;
    std::istringstream stream(folder.Read(L"events.jsonl"));
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(Parse(line));
    }
    return lines;
}

class AgentConnected : public ::testing::Test {
protected:
    void SetUp() override {
        vornint_reset();
        vornint_connect_to_agent(pipe_.c_str());
        ASSERT_TRUE(folder_.Write(L"settings.json", kSettings));
        options_.state_dir = folder_.Dir();
        options_.pipe_name = pipe_;
    }
    void TearDown() override {
        clients_.clear();
        agent_.Stop();
        vornint_reset();
    }

    // A started client with the handler registered as a policy or a notification handler.
    vorn::vorn_comm_client& Client(Handler& handler, bool policies, int number = 3) {
        clients_.push_back(std::make_unique<vorn::vorn_comm_client>(number, "vorn"));
        vorn::vorn_comm_client& client = *clients_.back();
        if (policies) {
            client.register_policy_handler(&handler);
        } else {
            client.register_notification_handler(&handler);
        }
        EXPECT_EQ(0, client.start_async());
        return client;
    }

    // Starts the agent and a settings client (number 12) that has heard the agent's server come up.
    vorn::vorn_comm_client& StartWithSettingsClient(Handler& handler) {
        EXPECT_EQ(0u, agent_.Start(options_));
        vorn::vorn_comm_client& client = Client(handler, false, 12);
        EXPECT_TRUE(handler.WaitForCount("notification", 1));
        return client;
    }

    std::wstring pipe_ = agent_test::UniquePipe();
    StateFolder folder_;
    vorn_agent::AgentOptions options_;
    vorn_agent::AgentServer agent_;
    std::vector<std::unique_ptr<vorn::vorn_comm_client>> clients_;
};

TEST_F(AgentConnected, HandsOutServerUpThenPoliciesInNameOrderThenRemovals) {
    ASSERT_TRUE(folder_.Write(L"policies\\b.json", R"({"polid":"B"})"));
    ASSERT_TRUE(folder_.Write(L"policies\\a.json", R"({"polid":"A"})"));
    ASSERT_TRUE(folder_.Write(L"policies\\c.json", R"({"polid":"C"})"));
    ASSERT_TRUE(folder_.Write(L"policies\\notes.txt", "not a policy"));
    ASSERT_TRUE(folder_.Write(L"removals\\r1.json", R"({"polid":"R"})"));
    ASSERT_EQ(0u, agent_.Start(options_));

    Handler handler;
    vorn::vorn_comm_client& client = Client(handler, true);
    ASSERT_TRUE(handler.WaitForCount("remove", 1));

    const std::vector<Call> calls = handler.Calls();
    ASSERT_EQ(5u, calls.size());
    EXPECT_EQ("policy-notification", calls[0].method);
    EXPECT_EQ("{\"server\":\"up\"}", calls[0].text);
    const std::vector<std::pair<std::string, std::string>> expected = {{"run", R"({"polid":"A"})"},
                                                                       {"run", R"({"polid":"B"})"},
                                                                       {"run", R"({"polid":"C"})"},
                                                                       {"remove", R"({"polid":"R"})"}};
    for (size_t n = 0; n < expected.size(); ++n) {
        EXPECT_EQ(expected[n].first, calls[n + 1].method) << n;
        EXPECT_EQ(expected[n].second, calls[n + 1].text) << n;
    }
    EXPECT_TRUE(client.is_connected());
    // Every delivery went through the stand-in's record, on one delivery thread. A delivery is recorded after
    // the handler returns, so the last one may still be on its way.
    ASSERT_EQ(VORNINT_OK, vornint_wait_idle(VORNINT_ALL_CLIENTS, 5000));
    const std::vector<vornint::Entry> delivered = vornint::Entries(VORNINT_DELIVERED);
    ASSERT_EQ(5u, delivered.size());
    for (const vornint::Entry& entry : delivered) {
        EXPECT_EQ(delivered[0].data.thread_id, entry.data.thread_id);
    }
}

TEST_F(AgentConnected, EventsAreAppendedOneLineEachInOrder) {
    ASSERT_EQ(0u, agent_.Start(options_));
    Handler handler;
    vorn::vorn_comm_client& client = Client(handler, true);
    ASSERT_TRUE(handler.WaitForCount("policy-notification", 1));

    const char first[] = "{\n   \"name\" : \"P1\",\n   \"desc\" : \"Policy run started\",\n   \"content\" : null\n}\n";
    EXPECT_EQ(0, client.send_event(vorn::event_priority{}, 101, 5, 0, first, -1));
    EXPECT_EQ(0, client.send_event(vorn::event_priority{}, 7, 3, 1, "not json", 0));
    EXPECT_EQ(0, client.send_event(vorn::event_priority{}, 0xFFFFFFFFull, 2, 4, "{\"n\":3}", -1));

    const std::vector<Json::Value> lines = EventLines(folder_);
    ASSERT_EQ(3u, lines.size());
    struct Expected {
        unsigned long long type, subtype, flags;
        int wait;
    } expected[] = {{101, 5, 0, -1}, {7, 3, 1, 0}, {0xFFFFFFFFull, 2, 4, -1}};
    for (size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(expected[n].type, lines[n]["type"].asUInt64()) << n;
        EXPECT_EQ(expected[n].subtype, lines[n]["subtype"].asUInt64()) << n;
        EXPECT_EQ(expected[n].flags, lines[n]["flags"].asUInt64()) << n;
        EXPECT_EQ(expected[n].wait, lines[n]["wait"].asInt()) << n;
        EXPECT_EQ(3, lines[n]["client"].asInt()) << n;
    }
    EXPECT_EQ(first, lines[0]["text"].asString());
    EXPECT_EQ("P1", lines[0]["event"]["name"].asString());
    EXPECT_EQ("not json", lines[1]["text"].asString());
    EXPECT_FALSE(lines[1].isMember("event"));
    EXPECT_EQ(3, lines[2]["event"]["n"].asInt());
}

TEST_F(AgentConnected, UpdateSettingsMergesObjectsReplacesArraysAndWritesTheFileWhole) {
    Handler handler;
    vorn::vorn_comm_client& client = StartWithSettingsClient(handler);

    const char change[] = R"({"conn": {"srvaddrlist": ["z.example"], "proxy": {"port": 9}}, "id": {"custid": "C2"}})";
    EXPECT_EQ(0, client.send_command(2, change, nullptr, 15000));

    const Json::Value merged = Parse(folder_.Read(L"settings.json"));
    Json::Value list(Json::arrayValue);
    list.append("z.example");
    EXPECT_EQ(list, merged["conn"]["srvaddrlist"]);
    EXPECT_EQ("a.example", merged["conn"]["srvaddr"].asString());
    EXPECT_EQ(9, merged["conn"]["proxy"]["port"].asInt());
    EXPECT_EQ("proxy.example", merged["conn"]["proxy"]["server"].asString());
    EXPECT_EQ("C2", merged["id"]["custid"].asString());
    EXPECT_EQ("U1", merged["id"]["userid"].asString());
    EXPECT_EQ(1, merged["id"]["customdata"]["k"].asInt());
    EXPECT_FALSE(FileExists(folder_.File(L"settings.json.tmp")));

    Result result;
    EXPECT_EQ(0, client.send_command(1, nullptr, &result, 15000));
    EXPECT_EQ(merged, Parse(result.data));
}

TEST_F(AgentConnected, UpdateSettingsRefusesWhatIsNotAnObjectAndLeavesTheFileAlone) {
    Handler handler;
    vorn::vorn_comm_client& client = StartWithSettingsClient(handler);

    const struct {
        const char* change;
        int result;
    } cases[] = {
        {"null\n", 0},  // a data object on which nothing was set
        {"not json", ERROR_INVALID_DATA},
        {"[1, 2]", ERROR_INVALID_DATA},
        {"\"text\"", ERROR_INVALID_DATA},
        {nullptr, ERROR_INVALID_DATA},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(test.result, client.send_command(2, test.change, nullptr, 15000))
            << (test.change ? test.change : "(null)");
        EXPECT_EQ(kSettings, folder_.Read(L"settings.json")) << (test.change ? test.change : "(null)");
    }
}

TEST_F(AgentConnected, CommandsAnswerTheAgentsErrors) {
    Handler handler;
    vorn::vorn_comm_client& client = StartWithSettingsClient(handler);

    Result unknown;
    EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED, client.send_command(77, "x", &unknown, 15000));
    EXPECT_TRUE(unknown.data_null);

    ASSERT_TRUE(DeleteFileW(folder_.File(L"settings.json").c_str()));
    Result missing;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, client.send_command(1, nullptr, &missing, 15000));
    EXPECT_TRUE(missing.data_null);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, missing.code);

    // A text beyond the frame limit is refused by the client itself; the connection stays usable.
    const std::string huge(vorn_agent::kMaxPayload + 1, 'x');
    EXPECT_EQ(ERROR_FILE_TOO_LARGE, client.send_event(vorn::event_priority{}, 1, 1, 0, huge.c_str(), -1));
    EXPECT_EQ(0, client.send_command(2, R"({"id":{"custid":"C3"}})", nullptr, 15000));
    EXPECT_EQ("C3", Parse(folder_.Read(L"settings.json"))["id"]["custid"].asString());
}

TEST_F(AgentConnected, WithoutAnAgentStartSucceedsAndCallsFailAtOnce) {
    Handler handler;
    vorn::vorn_comm_client& client = Client(handler, false, 12);
    EXPECT_FALSE(client.is_connected());
    Result result;
    const ULONGLONG began = GetTickCount64();
    EXPECT_EQ(ERROR_PIPE_NOT_CONNECTED, client.send_command(1, nullptr, &result, 15000));
    EXPECT_EQ(ERROR_PIPE_NOT_CONNECTED, client.send_event(vorn::event_priority{}, 101, 5, 0, "{}", -1));
    EXPECT_LT(GetTickCount64() - began, 5000u);
    EXPECT_FALSE(result.set);

    // The client keeps trying: an agent that comes up later is found.
    ASSERT_EQ(0u, agent_.Start(options_));
    ASSERT_TRUE(handler.WaitForCount("notification", 1));
    EXPECT_TRUE(client.is_connected());
    EXPECT_EQ(0, client.send_command(1, nullptr, &result, 15000));
}

TEST_F(AgentConnected, SurvivesTheAgentGoingAwayAndComingBack) {
    ASSERT_TRUE(folder_.Write(L"policies\\a.json", R"({"polid":"A"})"));
    ASSERT_EQ(0u, agent_.Start(options_));
    Handler settings_handler;
    Handler policy_handler;
    vorn::vorn_comm_client& settings = Client(settings_handler, false, 12);
    Client(policy_handler, true, 3);
    ASSERT_TRUE(settings_handler.WaitForCount("notification", 1));
    ASSERT_TRUE(policy_handler.WaitForCount("run", 1));

    agent_.Stop();
    ASSERT_TRUE(settings_handler.WaitForCount("notification", 2));
    EXPECT_EQ((std::vector<int>{4, 5}), settings_handler.NotificationIds());
    ASSERT_TRUE(sync_test::Eventually([&] { return !settings.is_connected(); }));
    Result result;
    EXPECT_EQ(ERROR_PIPE_NOT_CONNECTED, settings.send_command(1, nullptr, &result, 15000));

    ASSERT_EQ(0u, agent_.Start(options_));
    ASSERT_TRUE(settings_handler.WaitForCount("notification", 3));
    EXPECT_EQ((std::vector<int>{4, 5, 4}), settings_handler.NotificationIds());
    EXPECT_EQ(0, settings.send_command(1, nullptr, &result, 15000));
    EXPECT_EQ(kSettings, result.data);
    // The policy client hears down and up on its own handler and is handed the policies again.
    ASSERT_TRUE(policy_handler.WaitForCount("run", 2));
    std::vector<std::string> notices;
    for (const Call& call : policy_handler.Calls()) {
        if (call.method == "policy-notification") {
            notices.push_back(call.text);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"{\"server\":\"up\"}", "{\"server\":\"down\"}", "{\"server\":\"up\"}"}),
              notices);
}

TEST_F(AgentConnected, NoCallbackAfterStopReturnsAndTheAgentSeesTheClientLeave) {
    Handler handler;
    vorn::vorn_comm_client& client = StartWithSettingsClient(handler);
    ASSERT_TRUE(sync_test::Eventually([&] { return agent_.Clients() == 1; }));

    client.stop();
    const size_t calls = handler.Calls().size();
    EXPECT_FALSE(client.is_connected());
    ASSERT_TRUE(sync_test::Eventually([&] { return agent_.Clients() == 0; }));
    agent_.Stop();  // would say goodbye to a client still there
    Sleep(200);
    EXPECT_EQ(calls, handler.Calls().size());

    // Started again, it connects again.
    ASSERT_EQ(0u, agent_.Start(options_));
    EXPECT_EQ(0, client.start_async());
    ASSERT_TRUE(handler.WaitForCount("notification", 2));
}

TEST_F(AgentConnected, ServesTheShippedSampleFolder) {
    // Under Wine the source tree's Unix path is found on drive Z:.
    const std::string source = VORN_SOURCE_DIR;
    const std::wstring sample = (source[0] == '/' ? L"Z:" : L"") + vorn_agent::FromUtf8(source) + L"\\samples\\agent";
    for (const wchar_t* subfolder : {L"policies", L"removals"}) {
        const std::wstring from = sample + L"\\" + subfolder;
        for (const std::wstring& name : vorn_agent::ListFiles(from, L".json")) {
            ASSERT_TRUE(
                CopyFileW((from + L"\\" + name).c_str(), (folder_.File(subfolder) + L"\\" + name).c_str(), FALSE));
        }
    }
    ASSERT_TRUE(CopyFileW((sample + L"\\settings.json").c_str(), folder_.File(L"settings.json").c_str(), FALSE));
    ASSERT_EQ(0u, agent_.Start(options_));

    Handler policies;
    Client(policies, true);
    ASSERT_TRUE(policies.WaitForCount("remove", 1));
    std::vector<std::string> ids;
    for (const Call& call : policies.Calls()) {
        if (call.method == "run" || call.method == "remove") {
            const Json::Value policy = Parse(call.text);
            ids.push_back(call.method + " " + policy["polid"].asString());
            EXPECT_EQ(1u, policy["content"]["files"].size()) << call.text;
        }
    }
    EXPECT_EQ((std::vector<std::string>{"run POL-1001", "run POL-1002", "run POL-1003", "remove POL-0900"}), ids);

    Handler notifications;
    vorn::vorn_comm_client& settings = Client(notifications, false, 12);
    ASSERT_TRUE(notifications.WaitForCount("notification", 1));
    Result result;
    ASSERT_EQ(0, settings.send_command(1, nullptr, &result, 15000));
    const Json::Value document = Parse(result.data);
    for (const char* key : {"srvaddrlist", "srvaddr", "storeevs", "timesec", "proxy"}) {
        EXPECT_TRUE(document["conn"].isMember(key)) << key;
    }
    for (const char* key : {"server", "port", "username", "password"}) {
        EXPECT_TRUE(document["conn"]["proxy"].isMember(key)) << key;
    }
    for (const char* key : {"appid", "custid", "userid", "groupid", "token", "customdata"}) {
        EXPECT_TRUE(document["id"].isMember(key)) << key;
    }
}

TEST(AgentEntryPoints, FindTheStateFolderAndPipeAndServeOnce) {
    vornint_reset();
    StateFolder folder;
    ASSERT_TRUE(folder.Write(L"settings.json", kSettings));
    const std::wstring pipe = agent_test::UniquePipe();

    ScopedEnvironment dir(L"VORN_AGENT_DIR", L"");
    ScopedEnvironment pipe_name(L"VORN_AGENT_PIPE", pipe.c_str());
    EXPECT_EQ(static_cast<unsigned long>(ERROR_PATH_NOT_FOUND), vorn_agent_start(nullptr));
    EXPECT_EQ(static_cast<unsigned long>(ERROR_PATH_NOT_FOUND), vorn_agent_start(L"C:\\no\\such\\folder"));
    EXPECT_EQ(0, vorn_agent_running());

    SetEnvironmentVariableW(L"VORN_AGENT_DIR", folder.Dir().c_str());
    ASSERT_EQ(0u, vorn_agent_start(nullptr));
    EXPECT_EQ(1, vorn_agent_running());
    EXPECT_EQ(static_cast<unsigned long>(ERROR_ALREADY_EXISTS), vorn_agent_start(nullptr));

    // A second server on the same name is refused.
    vorn_agent::AgentServer second;
    vorn_agent::AgentOptions options;
    options.state_dir = folder.Dir();
    options.pipe_name = pipe;
    EXPECT_NE(0u, second.Start(options));

    vornint_connect_to_agent(pipe.c_str());
    Handler handler;
    {
        vorn::vorn_comm_client client(12, "vorn");
        client.register_notification_handler(&handler);
        ASSERT_EQ(0, client.start_async());
        ASSERT_TRUE(handler.WaitForCount("notification", 1));
        Result result;
        EXPECT_EQ(0, client.send_command(1, nullptr, &result, 15000));
        EXPECT_EQ(kSettings, result.data);
        vorn_agent_stop();
        ASSERT_TRUE(handler.WaitForCount("notification", 2));
        client.stop();
    }
    EXPECT_EQ(0, vorn_agent_running());
    vorn_agent_stop();  // stopping again does nothing
    vornint_reset();
}

std::wstring OwnPath() {
    wchar_t path[MAX_PATH];
    return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

// The directions file is read beside the module that holds the agent. The child runs from a copy of this
// executable in a folder of its own: a file in the build folder would also be found by the vorn.dll and
// VornHostService.exe of any other test running meanwhile, which would then serve on the same pipe.
TEST(AgentEntryPoints, ReadTheDirectionsFileBesideTheModule) {
    TempFolder bin(L"vorn-agent-bin-");
    ASSERT_TRUE(bin.CopyIn(OwnPath(), L"agent_test.exe"));
    ASSERT_TRUE(bin.CopyIn(FolderOf(OwnPath()) + L"vornint.dll", L"vornint.dll"));
    StateFolder folder;
    ASSERT_TRUE(folder.Write(L"settings.json", kSettings));
    const std::wstring lines = folder.Dir() + L"\r\n" + agent_test::UniquePipe() + L"\r\n";
    ASSERT_TRUE(bin.Write(L"vorn_agent_dir.txt", std::string(lines.begin(), lines.end())));

    EXPECT_EQ(RunProgram(bin.File(L"agent_test.exe"),
                         L"--gtest_also_run_disabled_tests --gtest_brief=1 "
                         L"--gtest_filter=AgentEntryPointsInChild.DISABLED_ServeWhatTheDirectionsFileNames"),
              0);
    EXPECT_NE(std::string::npos, folder.Read(L"agent.log").find("serving"));
}

TEST(AgentEntryPointsInChild, DISABLED_ServeWhatTheDirectionsFileNames) {
    const std::vector<std::string> lines = ReadFileLines(FolderOf(OwnPath()) + L"vorn_agent_dir.txt");
    ASSERT_EQ(lines.size(), 2u);
    const std::string pipe = lines[1].substr(0, lines[1].find('\r'));
    ASSERT_EQ(0u, vorn_agent_start(nullptr));
    HANDLE probe = CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, probe) << pipe;
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
    }
    vorn_agent_stop();
}

}  // namespace
