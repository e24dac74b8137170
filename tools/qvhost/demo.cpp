// The demo's steps and their account.
#include "tools/qvhost/demo.h"

#include "equipment/environment.h"
#include "equipment/folders.h"
#include "tools/qvhost/agent_host.h"
#include "tools/qvhost/console.h"
#include "tools/qvhost/policies.h"
#include "tools/qvhost/service.h"
#include "tools/qvhost/settings.h"

namespace qvhost {

namespace {

constexpr int kDemoClientNumber = 1;
constexpr unsigned long kPolicyWaitMs = 15000;

void Step(int number, const wchar_t* title) { Say(L"\n%d. %ls\n", number, title); }

}  // namespace

int RunDemo(const Plugin& plugin, const std::wstring& plugin_path, const std::wstring& agent_dir) {
    const std::wstring pipe = AgentPipeName();
    const std::wstring log_file = equipment::EnvironmentValue(L"VORN_LOG_FILE");
    const size_t policies = equipment::ListFiles(agent_dir + L"\\policies", L".json").size();
    const size_t removals = equipment::ListFiles(agent_dir + L"\\removals", L".json").size();
    Say(L"qvhost demo: a host that loads the plug-in and drives its four objects against the simulated agent\n");
    Say(L"   plug-in       %ls\n", plugin_path.c_str());
    Say(L"   agent folder  %ls (%zu policies, %zu removal)\n", agent_dir.c_str(), policies, removals);
    Say(L"   agent pipe    %ls\n", pipe.c_str());

    bool ok = true;
    Step(1, L"Vorn.AL: the host starts the agent inside its own process");
    AgentLoader agent(plugin);
    if (!agent.Run(pipe)) {
        Say(L"\nThe agent did not start; nothing else can be shown.\n");
        return 1;
    }

    Step(2, L"Vorn.Client: receive the agent's policies, run them, report each run");
    const int reported = RunPolicyRound(plugin, PolicyRound{kDemoClientNumber, policies + removals, kPolicyWaitMs, {}});
    ok = reported == static_cast<int>(policies) && ok;

    Step(3, L"Vorn.Settings: read the agent's settings, change one field, read it back");
    ok = ChangeAndReadBack(plugin, kDemoField, kDemoValue) && ok;

    Step(4, L"Vorn.Service: install the agent as the Windows service \"VornHostService\", query it, remove it");
    ok = ShowServiceRoundTrip(plugin, agent_dir, pipe) && ok;

    Step(5, L"Tear down: the clients are gone; now the agent");
    agent.Halt();
    Say(L"   Vorn.AL UnInit, QvDestroyObject\n");

    Say(L"\n%ls\n", ok ? L"Every step did what it should." : L"Some step failed; see above.");
    Say(L"The agent's folder now holds the run reports (events.jsonl) and the change (settings.json):\n   %ls\n",
        agent_dir.c_str());
    if (log_file.empty()) {
        Say(L"Set VORN_LOG_FILE to a file name to have the log.dll stand-in write the plug-in's log lines there.\n");
    } else {
        Say(L"The plug-in's log lines, indented by the nesting of its operations (log.dll stand-in):\n   %ls\n",
            log_file.c_str());
    }
    return ok ? 0 : 1;
}

}  // namespace qvhost
