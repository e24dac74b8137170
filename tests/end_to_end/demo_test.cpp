// The demo's scenario as a person runs it: bin/qvhost.exe under Wine, in its own process, on a fresh copy of
// samples/agent; checked where it leaves traces: its output, the agent's folder, the service control manager and
// the plug-in's log. And the tool's subcommands against an agent that runs in this process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <json/json.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "stand_ins/agent/vorn_agent.h"
#include "support/unique_resource.h"
#include "tests/end_to_end/host_tool_run.h"
#include "tests/stand_ins/agent_test_support.h"

namespace {

using agent_test::StateFolder;
using end_to_end::ToolRun;
using testing::HasSubstr;

constexpr DWORD kToolLimitMs = 120000;

class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_, nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* name_;
};

// ERROR_SUCCESS when "VornHostService" is installed, ERROR_SERVICE_DOES_NOT_EXIST when not. Only looks.
DWORD ServiceLookup() {
    qv::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return GetLastError();
    }
    qv::UniqueServiceHandle service(OpenServiceW(manager.get(), L"VornHostService", SERVICE_QUERY_STATUS));
    return service ? ERROR_SUCCESS : GetLastError();
}

Json::Value Parse(const std::string& text) {
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(text);
    if (!Json::parseFromStream(builder, in, &value, &errors)) {
        ADD_FAILURE() << "not JSON (" << errors << "): " << text;
    }
    return value;
}

// The polid of each shipped policy, in the order the agent hands them out (file name order).
std::vector<std::string> ShippedPolicyIds() {
    const std::wstring folder = end_to_end::SampleAgentFolder() + L"\\policies\\";
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"*.json").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> ids;
    for (const std::wstring& name : names) {
        ids.push_back(Parse(ReadFileText(folder + name))["polid"].asString());
    }
    return ids;
}

struct PolicyEvent {
    std::string name;
    std::string description;
    bool operator==(const PolicyEvent& other) const { return name == other.name && description == other.description; }
};

void PrintTo(const PolicyEvent& event, std::ostream* out) { *out << event.name << " \"" << event.description << '"'; }

// The policy events (type 101) of events.jsonl in order; each must have subtype 5.
std::vector<PolicyEvent> PolicyEvents(const std::string& jsonl) {
    std::vector<PolicyEvent> events;
    std::istringstream lines(jsonl);
    for (std::string line; std::getline(lines, line);) {
        const Json::Value event = Parse(line);
        if (event["type"].asUInt64() != 101) {
            continue;
        }
        EXPECT_EQ(event["subtype"].asUInt64(), 5u) << line;
        events.push_back(PolicyEvent{event["event"]["name"].asString(), event["event"]["desc"].asString()});
    }
    return events;
}

// The demo runs once, on a fresh copy of samples/agent over a pipe of its own; the cases read what it left.
class DemoScenario : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(ServiceLookup(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST))
            << "the prefix holds a \"VornHostService\" already; the demo would leave it alone and fail";
        folder_ = new StateFolder();
        ASSERT_TRUE(end_to_end::CopyAgentFolder(end_to_end::SampleAgentFolder(), folder_->Dir()));
        log_ = new std::wstring(folder_->Dir() + L"-plugin.log");
        ScopedEnvironment pipe(L"VORN_AGENT_PIPE", agent_test::UniquePipe());
        ScopedEnvironment log(L"VORN_LOG_FILE", *log_);
        run_ = new ToolRun(end_to_end::RunHostTool({L"demo", folder_->Dir()}, kToolLimitMs));
    }
    static void TearDownTestSuite() {
        DeleteFileW(log_->c_str());
        delete run_;
        delete log_;
        delete folder_;
    }

    static StateFolder* folder_;
    static std::wstring* log_;
    static ToolRun* run_;
};

StateFolder* DemoScenario::folder_ = nullptr;
std::wstring* DemoScenario::log_ = nullptr;
ToolRun* DemoScenario::run_ = nullptr;

TEST_F(DemoScenario, EndsWithinItsLimitAndSucceeds) {
    EXPECT_EQ(run_->exit_code, 0) << run_->output;
    EXPECT_THAT(run_->output, HasSubstr("Every step did what it should."));
}

TEST_F(DemoScenario, EveryShippedPolicyReachedTheSubscriberAndItsRunWasReported) {
    const std::vector<std::string> ids = ShippedPolicyIds();
    ASSERT_EQ(ids.size(), 3u);
    for (const std::string& id : ids) {
        EXPECT_THAT(run_->output, HasSubstr("received policy " + id + ": {")) << run_->output;
        EXPECT_THAT(run_->output, HasSubstr("reported " + id + ": SendPolicyStarted, SendPolicyRun"));
    }
    EXPECT_THAT(run_->output, HasSubstr("removed policy POL-0900"));
}

TEST_F(DemoScenario, EventsLogHoldsAStartThenAnEndForEachPolicyInOrder) {
    std::vector<PolicyEvent> expected;
    for (const std::string& id : ShippedPolicyIds()) {
        expected.push_back({id, "Policy run started"});
        expected.push_back({id, "Policy run stopped/succeeded"});
    }
    EXPECT_THAT(PolicyEvents(folder_->Read(L"events.jsonl")), testing::ElementsAreArray(expected));
}

TEST_F(DemoScenario, SettingsDocumentHoldsTheChangeAndNothingElseChanged) {
    Json::Value shipped = Parse(ReadFileText(end_to_end::SampleAgentFolder() + L"\\settings.json"));
    const Json::Value now = Parse(folder_->Read(L"settings.json"));
    ASSERT_NE(shipped["id"]["custid"].asString(), "CUST-DEMO");
    EXPECT_EQ(now["id"]["custid"].asString(), "CUST-DEMO");
    shipped["id"]["custid"] = "CUST-DEMO";
    EXPECT_EQ(now, shipped);
}

TEST_F(DemoScenario, ServiceWasInstalledInBetweenAndIsGoneAgain) {
    const std::string& out = run_->output;
    const size_t installed = out.find("IsInstalled -> yes");
    ASSERT_NE(installed, std::string::npos) << out;
    EXPECT_LT(out.find(") -> 0", out.find("Install(")), installed);
    EXPECT_GT(out.find(") -> 0", out.find("Uninstall(")), installed);
    EXPECT_EQ(ServiceLookup(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(DemoScenario, PluginLogShowsEachObjectsOperations) {
    const std::string log = ReadFileText(*log_);
    for (const char* entry : {"Endpoint::Vorn::NG::AL::Start: ->", "Endpoint::Vorn::NG::ClientImpl::on_run_policy: ->",
                              "Endpoint::Vorn::NG::ClientImpl::SendPolicyRun: send_event EVST_POLICY_RUN result [0]",
                              "Endpoint::Vorn::NG::SettingsImpl::Update: send_command result [0]",
                              "Endpoint::Vorn::NG::ServiceImpl::Install: ->", "Endpoint::Vorn::NG::AL::Stop: <-"}) {
        EXPECT_THAT(log, HasSubstr(entry));
    }
    // A nested operation is indented under the one that called it.
    EXPECT_THAT(log, HasSubstr("]   trace vornplug.dll Endpoint::Vorn::NG::AL::SetPreStartLoggerSettings: ->"));
    EXPECT_THAT(run_->output, HasSubstr(std::string(log_->begin(), log_->end())));
}

// The parts one at a time, as a person runs them against an agent that is already up.
TEST(HostToolSubcommands, ReachAnAgentThatRunsElsewhere) {
    StateFolder folder;
    ASSERT_TRUE(end_to_end::CopyAgentFolder(end_to_end::SampleAgentFolder(), folder.Dir()));
    const std::wstring pipe = agent_test::UniquePipe();
    ScopedEnvironment pipe_name(L"VORN_AGENT_PIPE", pipe);
    ASSERT_EQ(vorn_agent_start_on(folder.Dir().c_str(), pipe.c_str()), 0u);

    const ToolRun policies =
        end_to_end::RunHostTool({L"policies", L"--client", L"7", L"--seconds", L"2"}, kToolLimitMs);
    EXPECT_EQ(policies.exit_code, 0) << policies.output;
    for (const std::string& id : ShippedPolicyIds()) {
        EXPECT_THAT(policies.output, HasSubstr("received policy " + id + ": {"));
    }
    EXPECT_EQ(PolicyEvents(folder.Read(L"events.jsonl")).size(), 2 * ShippedPolicyIds().size());
    EXPECT_THAT(folder.Read(L"events.jsonl"), HasSubstr("\"client\":7"));

    const ToolRun set = end_to_end::RunHostTool({L"settings", L"set", L"userid", L"USER-FROM-CLI"}, kToolLimitMs);
    EXPECT_EQ(set.exit_code, 0) << set.output;
    EXPECT_EQ(Parse(folder.Read(L"settings.json"))["id"]["userid"].asString(), "USER-FROM-CLI");

    const ToolRun get = end_to_end::RunHostTool({L"settings", L"get"}, kToolLimitMs);
    EXPECT_EQ(get.exit_code, 0) << get.output;
    EXPECT_THAT(get.output, testing::ContainsRegex("id\\.userid +USER-FROM-CLI"));

    vorn_agent_stop();
}

}  // namespace
