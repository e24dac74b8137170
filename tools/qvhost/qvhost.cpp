// qvhost: a host that loads the plug-in as the host product does and drives its objects, the whole demo or one
// part at a time.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "equipment/environment.h"
#include "equipment/folders.h"
#include "tools/qvhost/agent_host.h"
#include "tools/qvhost/console.h"
#include "tools/qvhost/demo.h"
#include "tools/qvhost/plugin.h"
#include "tools/qvhost/policies.h"
#include "tools/qvhost/service.h"
#include "tools/qvhost/settings.h"
#include "tools/qvhost/soak/soak.h"

namespace {

using namespace qvhost;

struct Options {
    std::wstring plugin_path = equipment::ExecutableFolder() + L"vornplug.dll";
    std::wstring agent_libraries;
    bool scripted = false;
    std::wstring reply_file;
    PolicyRound policies;
    SoakOptions soak;
    std::wstring scenario;
    std::vector<std::wstring> words;
};

void Usage() {
    Say(L"usage: qvhost [--plugin PATH] [--agent-libraries DIR] [--scripted] [COMMAND]\n"
        L"  demo [AGENT_DIR]                  the whole demo (the default command)\n"
        L"  agent run SECONDS [AGENT_DIR] [--scenario FILE]\n"
        L"                                    run the agent in this process, for the commands below to reach,\n"
        L"                                    playing the fault scenario FILE (else AGENT_DIR\\scenario.json)\n"
        L"  policies [--client N] [--seconds S] [--deliver JSON]\n"
        L"                                    receive policies for S seconds, report each run\n"
        L"  settings get [--reply FILE]       print the agent's settings\n"
        L"  settings set FIELD VALUE          change one of: %ls\n"
        L"  service install DIR | service uninstall DIR | service status\n"
        L"  soak [--seconds N] [--seed S]       the plug-in through N s (default 60) of an agent's faults, from\n"
        L"                                    several host threads; its last line counts what was lost or stuck\n"
        L"AGENT_DIR defaults to VORN_AGENT_DIR, else demo-agent beside the tool's folder. The agent's clients\n"
        L"link to it over VORN_AGENT_PIPE (default \\\\.\\pipe\\vorn-agent): the tool sets VORNINT_MODE=connected\n"
        L"unless told --scripted, when the stand-in vornint.dll answers as scripted (--deliver and --reply script\n"
        L"it, and imply --scripted).\n"
        L"The plug-in finds vornint.dll and vorn.dll beside itself or in the process's safe folders; "
        L"--agent-libraries\n"
        L"adds the agent's own folder to those (AddDllDirectory).\n",
        kSettableFields);
}

bool Parse(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == L"--plugin" && has_value) {
            options.plugin_path = argv[++i];
        } else if (arg == L"--agent-libraries" && has_value) {
            options.agent_libraries = argv[++i];
        } else if (arg == L"--scripted") {
            options.scripted = true;
        } else if (arg == L"--reply" && has_value) {
            options.reply_file = argv[++i];
            options.scripted = true;
        } else if (arg == L"--client" && has_value) {
            options.policies.client_number = _wtoi(argv[++i]);
        } else if (arg == L"--seconds" && has_value) {
            options.soak.seconds = std::wcstoul(argv[++i], nullptr, 10);
            options.policies.wait_ms = options.soak.seconds * 1000;
        } else if (arg == L"--seed" && has_value) {
            options.soak.seed = std::wcstoull(argv[++i], nullptr, 10);
            options.soak.seed_given = true;
        } else if (arg == L"--scenario" && has_value) {
            options.scenario = argv[++i];
        } else if (arg == L"--deliver" && has_value) {
            options.policies.deliver = argv[++i];
            options.scripted = true;
        } else if (arg.compare(0, 2, L"--") == 0) {
            return false;
        } else {
            options.words.push_back(arg);
        }
    }
    if (options.words.empty()) {
        options.words.push_back(L"demo");
    }
    const std::vector<std::wstring>& w = options.words;
    const std::wstring& command = w[0];
    const size_t n = w.size();
    return (command == L"demo" && n <= 2) || (command == L"agent" && n >= 3 && n <= 4 && w[1] == L"run") ||
           (command == L"policies" && n == 1) || (command == L"soak" && n == 1) ||
           (command == L"settings" && ((n <= 2 && (n == 1 || w[1] == L"get")) || (n == 4 && w[1] == L"set"))) ||
           (command == L"service" &&
            ((n == 3 && (w[1] == L"install" || w[1] == L"uninstall")) || (n == 2 && w[1] == L"status")));
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    return GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr) != 0 ? std::wstring(full) : path;
}

// The agent's folder as an absolute path, named to the stand-in vorn.dll through VORN_AGENT_DIR.
std::wstring ChooseAgentFolder(const std::wstring& given) {
    std::wstring folder = given;
    if (folder.empty()) {
        folder = equipment::EnvironmentValue(L"VORN_AGENT_DIR");
    }
    if (folder.empty()) {
        folder = equipment::ExecutableFolder() + L"..\\demo-agent";
    }
    folder = FullPath(folder);
    SetEnvironmentVariableW(L"VORN_AGENT_DIR", folder.c_str());
    return folder;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int RunAgent(const Plugin& plugin, unsigned long seconds, const std::wstring& folder) {
    const std::wstring pipe = AgentPipeName();
    AgentLoader agent(plugin);
    if (!agent.Run(pipe)) {
        return 1;
    }
    Say(L"running for %lu s; in another window: qvhost policies, qvhost settings get, ...\n", seconds);
    Sleep(seconds * 1000);
    agent.Halt();
    Say(L"the agent's folder %ls holds what it received (events.jsonl, settings.json)\n", folder.c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        Usage();
        return 2;
    }
    const std::vector<std::wstring>& w = options.words;
    if (!options.scripted) {
        SetEnvironmentVariableW(L"VORNINT_MODE", L"connected");
    }
    std::wstring agent_dir;
    if (w[0] == L"demo" || w[0] == L"agent") {
        agent_dir = ChooseAgentFolder(w[0] == L"demo" ? (w.size() == 2 ? w[1] : L"") : (w.size() == 4 ? w[3] : L""));
        if (!IsFolder(agent_dir)) {
            Say(L"no agent folder %ls: scripts/demo makes one from samples/agent, or name one (qvhost demo DIR)\n",
                agent_dir.c_str());
            return 1;
        }
    }

    if (!options.agent_libraries.empty()) {
        const std::wstring folder = FullPath(options.agent_libraries);
        if (AddDllDirectory(folder.c_str()) == nullptr) {
            const DWORD error = GetLastError();
            Say(L"cannot add %ls for the agent's libraries: error %lu (%ls)\n", folder.c_str(), error,
                ErrorText(error).c_str());
            return 1;
        }
    }
    Plugin plugin;
    if (!plugin.Load(options.plugin_path)) {
        return 1;
    }
    const std::wstring& command = w[0];
    if (command == L"demo") {
        return RunDemo(plugin, options.plugin_path, agent_dir);
    }
    if (command == L"agent") {
        if (!options.scenario.empty()) {
            wchar_t full[MAX_PATH] = {};
            GetFullPathNameW(options.scenario.c_str(), MAX_PATH, full, nullptr);
            SetEnvironmentVariableW(L"VORN_AGENT_SCENARIO", full);
        }
        return RunAgent(plugin, std::wcstoul(w[2].c_str(), nullptr, 10), agent_dir);
    }
    if (command == L"soak") {
        return RunSoak(plugin, options.soak);
    }
    if (command == L"policies") {
        return RunPolicyRound(plugin, options.policies) >= 0 ? 0 : 1;
    }
    if (command == L"settings") {
        return RunSettingsCommand(plugin, w.size() >= 2 ? w[1] : L"get", w.size() == 4 ? w[2] : L"",
                                  w.size() == 4 ? w[3] : L"", options.reply_file);
    }
    return RunServiceCommand(plugin, w[1], w.size() == 3 ? w[2] : L"");
}
