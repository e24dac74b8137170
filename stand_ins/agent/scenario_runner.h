// Plays a scenario against the simulated agent's server: one thread that fires each step when its trigger has
// come, names it in the agent's log and journal, and ends the timed faults (a server down, connections refused)
// when their time is up. A restart step stops the server and starts it again on the same options; the runner
// outlives it.
#pragma once

#include <windows.h>

#include <thread>

#include "stand_ins/agent/agent_server.h"
#include "stand_ins/agent/scenario.h"
#include "support/unique_resource.h"

namespace vorn_agent {

class ScenarioRunner {
public:
    ScenarioRunner() = default;
    ~ScenarioRunner() { Stop(); }
    ScenarioRunner(const ScenarioRunner&) = delete;
    ScenarioRunner& operator=(const ScenarioRunner&) = delete;

    // The server runs already, on options; the scenario's time starts now.
    void Start(Scenario scenario, AgentServer& server, const AgentOptions& options);
    // Returns when the thread has ended, after a restart in progress has completed, and forgets the scenario; the
    // server keeps running.
    void Stop();

private:
    void Run();
    void Fire(const ScenarioStep& step);
    void Restart(const ScenarioStep& step);
    void EndStep(const char* what, int step);
    unsigned long long Elapsed() const { return GetTickCount64() - started_; }

    Scenario scenario_;
    AgentServer* server_ = nullptr;
    AgentOptions options_;
    qv::UniqueHandle stop_;
    std::thread thread_;
    ULONGLONG started_ = 0;
    // The timed faults in force: when they end (Elapsed time) and which step began them; 0 when none.
    unsigned long long down_until_ = 0;
    int down_step_ = 0;
    unsigned long long refuse_until_ = 0;
    int refuse_step_ = 0;
};

}  // namespace vorn_agent
