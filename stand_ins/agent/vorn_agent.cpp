// The process's one simulated agent, behind the entry points that its hosting programs call.
#include "stand_ins/agent/vorn_agent.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "equipment/environment.h"
#include "equipment/files.h"
#include "equipment/folders.h"
#include "equipment/processes.h"
#include "equipment/text.h"
#include "stand_ins/agent/agent_server.h"
#include "stand_ins/agent/scenario_runner.h"

using equipment::EnvironmentValue;
using equipment::FileExists;
using equipment::FolderOf;
using equipment::FromUtf8;
using equipment::ModuleHolding;
using equipment::ModulePath;
using equipment::ReadWholeFile;
using equipment::ToUtf8;

namespace {

std::mutex& AgentMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

// Never destroyed: a host may stop the agent from its own static destruction, in any order with ours.
vorn_agent::AgentServer& Agent() {
    static vorn_agent::AgentServer* agent = new vorn_agent::AgentServer();
    return *agent;
}

vorn_agent::ScenarioRunner& Runner() {
    static vorn_agent::ScenarioRunner* runner = new vorn_agent::ScenarioRunner();
    return *runner;
}

// The folder of the module that links the agent, without its trailing backslash.
std::wstring ModuleFolder() {
    const std::wstring folder = FolderOf(ModulePath(ModuleHolding(reinterpret_cast<const void*>(&ModuleFolder))));
    return folder.empty() ? folder : folder.substr(0, folder.size() - 1);
}

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t\r\n");
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

// The two lines of vorn_agent_dir.txt beside the module: the state folder and, optionally, the pipe name.
void ReadDirectionsFile(std::wstring& state_dir, std::wstring& pipe_name) {
    const std::wstring folder = ModuleFolder();
    std::string text;
    if (folder.empty() || ReadWholeFile(folder + L"\\vorn_agent_dir.txt", 4096, text) != 0) {
        return;
    }
    const std::wstring wide = FromUtf8(text);
    const size_t end = wide.find(L'\n');
    state_dir = Trimmed(wide.substr(0, end));
    pipe_name = end == std::wstring::npos ? std::wstring() : Trimmed(wide.substr(end + 1));
    const bool absolute = state_dir.size() > 1 && (state_dir[1] == L':' || state_dir[0] == L'\\');
    if (!state_dir.empty() && !absolute) {
        state_dir = folder + L"\\" + state_dir;
    }
}

// The scenario the agent plays: the file VORN_AGENT_SCENARIO names, else scenario.json in the state folder, else
// none. A scenario that does not load keeps the agent from starting; why goes to its log and to stderr.
DWORD ChooseScenario(const std::wstring& state_dir, vorn_agent::Scenario& scenario) {
    std::wstring path = EnvironmentValue(L"VORN_AGENT_SCENARIO");
    if (path.empty() && FileExists(state_dir + L"\\scenario.json")) {
        path = state_dir + L"\\scenario.json";
    }
    std::string error;
    if (path.empty() || vorn_agent::LoadScenario(path, scenario, error)) {
        return ERROR_SUCCESS;
    }
    vorn_agent::AgentLog log;
    log.Open(state_dir + L"\\agent.log");
    log.Write("%s; the agent does not start (%s)", error.c_str(), ToUtf8(path).c_str());
    fprintf(stderr, "vorn-agent: %s; the agent does not start (%s)\n", error.c_str(), ToUtf8(path).c_str());
    fflush(stderr);
    return ERROR_INVALID_DATA;
}

}  // namespace

extern "C" unsigned long vorn_agent_start_on(const wchar_t* state_dir, const wchar_t* pipe_name) {
    vorn_agent::AgentOptions options;
    std::wstring file_dir;
    std::wstring file_pipe;
    ReadDirectionsFile(file_dir, file_pipe);
    options.state_dir =
        state_dir != nullptr && *state_dir != L'\0' ? std::wstring(state_dir) : EnvironmentValue(L"VORN_AGENT_DIR");
    if (options.state_dir.empty()) {
        options.state_dir = file_dir;
    }
    options.pipe_name =
        pipe_name != nullptr && *pipe_name != L'\0' ? std::wstring(pipe_name) : EnvironmentValue(L"VORN_AGENT_PIPE");
    if (options.pipe_name.empty()) {
        options.pipe_name = file_pipe.empty() ? std::wstring(vorn_agent::kDefaultPipeName) : file_pipe;
    }
    std::lock_guard<std::mutex> lock(AgentMutex());
    if (Agent().Running()) {
        return ERROR_ALREADY_EXISTS;
    }
    vorn_agent::Scenario scenario;
    if (FileExists(options.state_dir)) {
        const DWORD loaded = ChooseScenario(options.state_dir, scenario);
        if (loaded != ERROR_SUCCESS) {
            return loaded;
        }
    }
    // A new agent starts well, whatever the last one's scenario left armed.
    Agent().Faults().Reset();
    const DWORD started = Agent().Start(options);
    if (started == ERROR_SUCCESS) {
        Runner().Start(std::move(scenario), Agent(), options);
    }
    return started;
}

extern "C" unsigned long vorn_agent_start(const wchar_t* state_dir) { return vorn_agent_start_on(state_dir, nullptr); }

extern "C" void vorn_agent_stop(void) {
    std::lock_guard<std::mutex> lock(AgentMutex());
    Runner().Stop();
    Agent().Stop();
}

extern "C" unsigned long vorn_agent_journal_failures(void) { return Agent().Journal().Failures(); }

extern "C" int vorn_agent_running(void) {
    std::lock_guard<std::mutex> lock(AgentMutex());
    return Agent().Running() ? 1 : 0;
}
