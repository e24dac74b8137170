// The host's side of the in-process agent loader.
#include "tools/qvhost/agent_host.h"

#include <cwchar>

#include "equipment/environment.h"
#include "equipment/folders.h"
#include "equipment/processes.h"
#include "interfaces/interface_ids.h"
#include "stand_ins/vorn/vorn_control.h"
#include "tools/qvhost/console.h"

namespace qvhost {

namespace {

constexpr wchar_t kLoggerPluginName[] = L"Product.Configuration.Logger";
constexpr int kLevelsInfoAndAbove = 0x1C;
constexpr int kMaxSizeKb = 10240;
constexpr DWORD kPipeAnswerMs = 5000;

// What the stand-in vorn.dll was handed as the agent's initial log configuration; says nothing when the loaded
// vorn.dll is the agent's own.
void ShowAgentLogConfig() {
    using GetLogConfigFn = int (*)(VornControlLogConfig*);
    const auto get = equipment::ExportOf<GetLogConfigFn>(L"vorn.dll", "VornControlGetLogConfig");
    VornControlLogConfig config{};
    if (get != nullptr && get(&config) != 0) {
        Say(L"   the agent's initial log configuration (as vorn.dll received it): level %hs, folder %hs, "
            L"max size %d KB, %d file(s)\n",
            config.level.text, config.log_dir.text, config.max_size, config.max_files);
    }
}

}  // namespace

unsigned long ToolLogger::fill(Product::LoggerSettings* settings) {
    const std::wstring folder = equipment::ExecutableFolder() + L"logs";
    settings->enabled = 1;
    settings->level_mask = kLevelsInfoAndAbove;
    settings->max_size = kMaxSizeKb;
    settings->log_dir = folder.c_str();
    if (!verbose_) {
        return 0;
    }
    Say(L"   host logger plug-in filled the settings: enabled, level mask 0x%02X, max size %d KB, folder %ls\n",
        kLevelsInfoAndAbove, kMaxSizeKb, folder.c_str());
    return 0;
}

unsigned long ToolLogger::subscribe(IEvents*, unsigned long) {
    if (!verbose_) {
        return 0;
    }
    Say(L"   the agent loader subscribed to the host's logger changes\n");
    return 0;
}

unsigned long ToolLogger::unsubscribe(IEvents*, unsigned long) {
    if (!verbose_) {
        return 0;
    }
    Say(L"   the agent loader unsubscribed from the host's logger changes\n");
    return 0;
}

unsigned long ToolManager::get(const wchar_t* plugin_name, const GUID* iid, void** plugin) {
    if (plugin_name == nullptr || std::wcscmp(plugin_name, kLoggerPluginName) != 0 || iid == nullptr ||
        !Endpoint::Vorn::SameInterfaceId(*iid, Endpoint::Vorn::IID_ILoggerConfiguration)) {
        Say(L"   the agent loader asked for a plug-in this host does not have: %ls\n",
            plugin_name != nullptr ? plugin_name : L"(null)");
        return ERROR_NOT_FOUND;
    }
    *plugin = static_cast<Product::ILoggerConfiguration*>(&logger_);
    return 0;
}

unsigned long ToolManager::release(const wchar_t*) { return 0; }

AgentLoader::AgentLoader(const Plugin& plugin, bool verbose)
    : verbose_(verbose), host_(verbose), loader_(plugin, L"Vorn.AL", Endpoint::Vorn::IID_IServPlugin) {}

bool AgentLoader::Run(const std::wstring& pipe_name) {
    if (!loader_) {
        Say(L"   Vorn.AL is not available (result %lu)\n", loader_.CreateResult());
        return false;
    }
    const unsigned long initialised = loader_->Init(&host_);
    initialised_ = true;
    if (verbose_) {
        Say(L"   Init(host) -> %lu\n", initialised);
        ShowAgentLogConfig();
    }
    const unsigned long started = loader_->Start();
    if (verbose_) {
        Say(L"   Start() -> %lu\n", started);
    }
    // Start always answers 0; whether an agent serves shows only at its pipe.
    if (!WaitNamedPipeW(pipe_name.c_str(), kPipeAnswerMs)) {
        const DWORD error = GetLastError();
        Say(L"   no agent answers on %ls: error %lu (%ls); the agent's log, agent.log in its folder, says why\n",
            pipe_name.c_str(), error, ErrorText(error).c_str());
        return false;
    }
    if (verbose_) {
        Say(L"   the agent serves %ls on %ls\n", equipment::EnvironmentValue(L"VORN_AGENT_DIR").c_str(),
            pipe_name.c_str());
    }
    return true;
}

void AgentLoader::Halt() {
    if (!initialised_) {
        return;
    }
    initialised_ = false;
    loader_->Stop();
    if (verbose_) {
        Say(L"   Vorn.AL Stop: vorn.dll stopped the agent (a client still linked would get notification 5)\n");
    }
    loader_->UnInit();
    loader_.Reset();
}

std::wstring AgentPipeName() {
    const std::wstring pipe = equipment::EnvironmentValue(L"VORN_AGENT_PIPE");
    return pipe.empty() ? L"\\\\.\\pipe\\vorn-agent" : pipe;
}

}  // namespace qvhost
