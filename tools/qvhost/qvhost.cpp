// qvhost: a small host that loads the plug-in as the host product does and drives its objects.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/client.h"
#include "interfaces/interface_ids.h"
#include "interfaces/serv_plugin.h"
#include "interfaces/service.h"
#include "service_host/host_interfaces.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/vornint/vornint_control.h"

namespace {

using CreateFn = unsigned long (*)(const wchar_t*, const GUID&, void**);
using DestroyFn = void (*)(const wchar_t*, void*);

struct Plugin {
    HMODULE module = nullptr;
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
};

struct NamedObject {
    const wchar_t* name;
    const wchar_t* interface_name;
    GUID iid;
};

const NamedObject kObjects[] = {
    {L"Vorn.Client", L"IClient", Endpoint::Vorn::IID_IClient},
    {L"Vorn.AL", L"IServPlugin", Endpoint::Vorn::IID_IServPlugin},
    {L"Vorn.Service", L"IService", Endpoint::Vorn::IID_IService},
    {L"Vorn.Settings", L"Settings::IManager", Endpoint::Vorn::IID_ISettingsManager},
};

std::wstring DefaultPluginPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1) + L"vornplug.dll";
}

bool LoadPlugin(const std::wstring& path, Plugin& plugin) {
    plugin.module = LoadLibraryW(path.c_str());
    if (plugin.module == nullptr) {
        std::wprintf(L"could not load %ls (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    plugin.create =
        reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(plugin.module, "QvCreateObject")));
    plugin.destroy =
        reinterpret_cast<DestroyFn>(reinterpret_cast<void*>(GetProcAddress(plugin.module, "QvDestroyObject")));
    if (plugin.create == nullptr || plugin.destroy == nullptr) {
        std::wprintf(L"%ls does not export QvCreateObject and QvDestroyObject\n", path.c_str());
        return false;
    }
    std::wprintf(L"loaded %ls\n", path.c_str());
    return true;
}

// Creates and gives back each of the four objects, saying what happened.
int CreateEach(const Plugin& plugin) {
    for (const NamedObject& o : kObjects) {
        void* object = nullptr;
        unsigned long result = plugin.create(o.name, o.iid, &object);
        if (result == 0) {
            std::wprintf(L"%-14ls created as %ls\n", o.name, o.interface_name);
            plugin.destroy(o.name, object);
            std::wprintf(L"%-14ls destroyed\n", o.name);
        } else {
            std::wprintf(L"%-14ls not available (result %lu)\n", o.name, result);
        }
    }
    return 0;
}

// ---- agent start|stop: "Vorn.AL" with a host of the tool's own --------------------------------------------

std::wstring ToolFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

// The logger plug-in a host would offer: info and above, one 10 MB file in a "logs" folder beside the tool.
struct ToolLogger final : Product::ILoggerConfiguration {
    void reserved0() override {}
    void reserved1() override {}
    void reserved2() override {}
    void reserved4() override {}
    unsigned long fill(Product::LoggerSettings* settings) override {
        const std::wstring dir = ToolFolder() + L"logs";
        settings->enabled = 1;
        settings->level_mask = 0x1C;
        settings->max_size = 10240;
        settings->log_dir = dir.c_str();
        std::wprintf(L"host logger settings handed out: enabled, level mask 0x1C, max size 10240, directory %ls\n",
                     dir.c_str());
        return 0;
    }
    unsigned long subscribe(IEvents*, unsigned long) override {
        std::wprintf(L"the agent loader asked to hear of logger setting changes\n");
        return 0;
    }
    unsigned long unsubscribe(IEvents*, unsigned long) override {
        std::wprintf(L"the agent loader no longer listens for logger setting changes\n");
        return 0;
    }
};

struct ToolManager final : Product::IComponentManager {
    unsigned long get(const wchar_t* name, const GUID* iid, void** plugin) override {
        if (std::wcscmp(name, L"Product.Configuration.Logger") != 0 || iid == nullptr ||
            !Endpoint::Vorn::SameInterfaceId(*iid, Endpoint::Vorn::IID_ILoggerConfiguration)) {
            std::wprintf(L"the agent loader asked for an unknown plug-in %ls\n", name);
            return ERROR_NOT_FOUND;
        }
        *plugin = static_cast<Product::ILoggerConfiguration*>(&logger);
        return 0;
    }
    unsigned long release(const wchar_t*) override { return 0; }
    ToolLogger logger;
};

struct ToolHost final : Product::IHost {
    void reserved0() override {}
    Product::IComponentManager* GetComponentManager() override { return &manager; }
    ToolManager manager;
};

// "agent start [SECONDS]" runs the agent in this process for that long (5 s by default) and stops it again;
// "agent stop" tells an agent of this process to stop. The agent lives only as long as the tool.
int RunAgentCommand(const Plugin& plugin, const std::vector<std::wstring>& words) {
    const bool start = words.size() >= 2 && words[1] == L"start";
    if (!start && !(words.size() == 2 && words[1] == L"stop")) {
        std::wprintf(L"usage: qvhost agent start [SECONDS] | agent stop\n");
        return 2;
    }
    void* object = nullptr;
    const unsigned long created = plugin.create(L"Vorn.AL", Endpoint::Vorn::IID_IServPlugin, &object);
    if (created != 0) {
        std::wprintf(L"Vorn.AL is not available (result %lu)\n", created);
        return 1;
    }
    auto* agent = static_cast<IServPlugin*>(object);
    ToolHost host;
    std::wprintf(L"agent loader initialised (result %lu)\n", agent->Init(&host));
    if (start) {
        const unsigned long seconds = words.size() >= 3 ? std::wcstoul(words[2].c_str(), nullptr, 10) : 5;
        std::wprintf(L"agent service started (result %lu); running for %lu s\n", agent->Start(), seconds);
        Sleep(seconds * 1000);
    }
    agent->Stop();
    std::wprintf(L"agent service stopped\n");
    agent->UnInit();
    plugin.destroy(L"Vorn.AL", object);
    return 0;
}

// ---- service install DIR | uninstall DIR | status: "Vorn.Service" ---------------------------------------------

std::wstring ErrorText(unsigned long code) {
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, 512, nullptr);
    std::wstring result(text, length);
    while (!result.empty() && std::iswspace(result.back())) {
        result.pop_back();
    }
    return result.empty() ? L"no description" : result;
}

int RunServiceCommand(const Plugin& plugin, const std::vector<std::wstring>& words) {
    const std::wstring verb = words.size() >= 2 ? words[1] : L"";
    const bool with_directory = verb == L"install" || verb == L"uninstall";
    if (!(with_directory && words.size() == 3) && !(verb == L"status" && words.size() == 2)) {
        std::wprintf(L"usage: qvhost service install DIR | service uninstall DIR | service status\n");
        return 2;
    }
    void* object = nullptr;
    const unsigned long created = plugin.create(L"Vorn.Service", Endpoint::Vorn::IID_IService, &object);
    if (created != 0) {
        std::wprintf(L"Vorn.Service is not available (result %lu)\n", created);
        return 1;
    }
    auto* service = static_cast<Endpoint::Vorn::IService*>(object);
    service->Init();
    int rc = 0;
    if (with_directory) {
        const qv::WString directory(words[2].c_str());
        const unsigned long result = verb == L"install" ? service->Install(directory) : service->Uninstall(directory);
        if (result == 0) {
            std::wprintf(L"%ls from %ls succeeded\n", verb.c_str(), words[2].c_str());
        } else {
            std::wprintf(L"%ls from %ls failed: result %lu (%ls)\n", verb.c_str(), words[2].c_str(), result,
                         ErrorText(result).c_str());
            rc = 1;
        }
    } else {
        qv::WString name;
        service->GetExecutableName(name);
        std::wprintf(L"the agent's service is %ls (executable %ls)\n",
                     service->IsInstalled() ? L"installed" : L"not installed", name.GetString());
    }
    service->Uninit();
    plugin.destroy(L"Vorn.Service", object);
    return rc;
}

// The stand-in agent library answers get_settings only as scripted; with the real library this fails.
bool ScriptSettingsReply(const std::wstring& file) {
    using ScriptFn = int (*)(int, int, const vornint_command_script*);
    HMODULE agent = GetModuleHandleW(L"vornint.dll");
    auto script = reinterpret_cast<ScriptFn>(
        reinterpret_cast<void*>(agent != nullptr ? GetProcAddress(agent, "vornint_script_command") : nullptr));
    FILE* in = _wfopen(file.c_str(), L"rb");
    if (script == nullptr || in == nullptr) {
        std::wprintf(L"cannot give the agent library the reply %ls\n", file.c_str());
        if (in != nullptr) {
            std::fclose(in);
        }
        return false;
    }
    std::string reply;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        reply.append(chunk, n);
    }
    std::fclose(in);
    const vornint_command_script get_settings{0, 1, reply.c_str(), 0};
    return script(VORNINT_ALL_CLIENTS, 1, &get_settings) == VORNINT_OK;
}

void PrintRecord(const Endpoint::Vorn::Settings::Record& record) {
    const auto& c = record.conn;
    const auto& i = record.id;
    std::wprintf(L"conn.srvaddr         %ls\nconn.srvaddrlist     ", c.srvaddr.GetString());
    for (size_t n = 0; n < c.srvaddrlist.size(); ++n) {
        std::wprintf(L"%ls%ls", n == 0 ? L"" : L", ", c.srvaddrlist[n].GetString());
    }
    std::wprintf(L"\nconn.storeevs        %ls\nconn.timesec         %d\n", c.storeevs ? L"true" : L"false", c.timesec);
    std::wprintf(L"conn.proxy           %ls:%d user %ls\n", c.proxy.server.GetString(), c.proxy.port,
                 c.proxy.username.GetString());
    std::wprintf(L"id.appid             %d\nid.custid            %ls\nid.userid            %ls\n", i.appid,
                 i.custid.GetString(), i.userid.GetString());
    std::wprintf(L"id.groupid           %ls\nid.token             %ls\nid.customdata        %ls", i.groupid.GetString(),
                 i.token.GetString(), i.customdata.GetString());
}

// Reads the agent's settings through "Vorn.Settings" and prints the record.
int ReadSettings(const Plugin& plugin, const std::wstring& reply_file) {
    using namespace Endpoint::Vorn;
    if (!reply_file.empty() && !ScriptSettingsReply(reply_file)) {
        return 1;
    }
    void* object = nullptr;
    unsigned long result = plugin.create(L"Vorn.Settings", IID_ISettingsManager, &object);
    if (result != 0) {
        std::wprintf(L"Vorn.Settings not available (result %lu)\n", result);
        return 1;
    }
    auto* manager = static_cast<Settings::IManager*>(object);
    result = manager->Init();
    if (result == 0) {
        // The record's strings come from the plug-in's allocator: they go before the plug-in is unloaded.
        Settings::Record record;
        result = manager->Read(record);
        if (result == 0) {
            PrintRecord(record);
        }
        manager->Uninit();
    }
    std::wprintf(L"Vorn.Settings read: result %lu\n", result);
    plugin.destroy(L"Vorn.Settings", object);
    return result == 0 ? 0 : 1;
}

// A host policy subscriber that prints what the agent hands over. Called on the agent library's threads.
class PrintingSubscriber : public Endpoint::Vorn::IPolicyHandle {
public:
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override {
        const qv::WString id = policy->GetId();
        const qv::WString content = policy->GetContent();
        std::lock_guard<std::mutex> lock(print_);
        std::wprintf(L"run policy [%ls]:\n%ls", id.c_str(), content.c_str());
        std::fflush(stdout);
    }
    void OnRemovePolicy(const qv::WString& id) override {
        std::lock_guard<std::mutex> lock(print_);
        std::wprintf(L"remove policy [%ls]\n", id.c_str());
        std::fflush(stdout);
    }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}

private:
    std::mutex print_;
};

struct PolicyOptions {
    int client_number = 1;
    DWORD seconds = 3;
    const wchar_t* deliver = nullptr;  // a policy for the stand-in agent library to hand over, or null
};

// The stand-in vornint.dll can be asked to hand a policy to its newest client; the agent's own library
// cannot, and then only what the agent sends arrives.
bool DeliverThroughStandIn(const wchar_t* policy) {
    using DeliverFn = int (*)(int client_index, int delivery, int notification_id, const char* text);
    constexpr int kLatestClient = -2;
    constexpr int kRunPolicy = 1;
    HMODULE library = GetModuleHandleW(L"vornint.dll");
    auto deliver =
        library != nullptr
            ? reinterpret_cast<DeliverFn>(reinterpret_cast<void*>(GetProcAddress(library, "vornint_deliver")))
            : nullptr;
    if (deliver == nullptr) {
        std::wprintf(L"the loaded vornint.dll is not the stand-in; nothing delivered\n");
        return false;
    }
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, policy, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
    const int result = deliver(kLatestClient, kRunPolicy, 0, utf8);
    std::wprintf(L"stand-in delivery queued (result %d)\n", result);
    return result == 0;
}

// Starts "Vorn.Client" with a printing subscriber, prints what arrives for a few seconds, reports one run
// and stops.
int RunPolicies(const Plugin& plugin, const PolicyOptions& options) {
    void* object = nullptr;
    const unsigned long created = plugin.create(L"Vorn.Client", Endpoint::Vorn::IID_IClient, &object);
    if (created != 0) {
        std::wprintf(L"Vorn.Client not available (result %lu)\n", created);
        return 1;
    }
    auto* client = static_cast<Endpoint::Vorn::IClient*>(object);
    PrintingSubscriber subscriber;
    client->Init();
    client->AddPolicyHandle(&subscriber);
    const unsigned long started = client->Start(options.client_number);
    std::wprintf(L"Vorn.Client started as client %d (result %lu)\n", options.client_number, started);
    if (started == 0) {
        if (options.deliver != nullptr) {
            DeliverThroughStandIn(options.deliver);
        }
        std::wprintf(L"waiting %lu s for policies\n", options.seconds);
        std::fflush(stdout);
        Sleep(options.seconds * 1000);
        client->SendPolicyStarted(L"qvhost");
        client->SendPolicyRun(L"qvhost", L"{\"result\":\"ok\"}");
        std::wprintf(L"reported the start and the end of a run of \"qvhost\"\n");
    }
    client->Stop();
    client->RemovePolicyHandle(&subscriber);
    client->Uninit();
    plugin.destroy(L"Vorn.Client", client);
    std::wprintf(L"Vorn.Client stopped\n");
    return started == 0 ? 0 : 1;
}

void Usage() {
    std::wprintf(
        L"usage: qvhost [--plugin PATH]                 create and give back each object\n"
        L"       qvhost [--plugin PATH] policies [--client N] [--seconds S] [--deliver JSON]\n"
        L"              start Vorn.Client, print the policies that arrive, report a run, stop\n"
        L"              (--deliver: have the stand-in vornint.dll hand over JSON as a policy)\n"
        L"       qvhost [--plugin PATH] settings [--reply FILE]\n"
        L"       qvhost [--plugin PATH] agent start [SECONDS] | agent stop\n"
        L"       qvhost [--plugin PATH] service install DIR | service uninstall DIR | service status\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring path = DefaultPluginPath();
    std::wstring reply_file;
    PolicyOptions policy_options;
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::wcscmp(argv[i], L"--plugin") == 0 && has_value) {
            path = argv[++i];
        } else if (std::wcscmp(argv[i], L"--reply") == 0 && has_value) {
            reply_file = argv[++i];
        } else if (std::wcscmp(argv[i], L"--client") == 0 && has_value) {
            policy_options.client_number = _wtoi(argv[++i]);
        } else if (std::wcscmp(argv[i], L"--seconds") == 0 && has_value) {
            policy_options.seconds = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (std::wcscmp(argv[i], L"--deliver") == 0 && has_value) {
            policy_options.deliver = argv[++i];
        } else {
            words.push_back(argv[i]);
        }
    }
    const std::wstring command = words.empty() ? L"" : words[0];
    if (!command.empty() && command != L"policies" && command != L"agent" && command != L"service" &&
        command != L"settings") {
        Usage();
        return 2;
    }
    Plugin plugin;
    if (!LoadPlugin(path, plugin)) {
        return 1;
    }
    int rc = 0;
    if (command.empty()) {
        rc = CreateEach(plugin);
    } else if (command == L"policies") {
        rc = RunPolicies(plugin, policy_options);
    } else if (command == L"agent") {
        rc = RunAgentCommand(plugin, words);
    } else if (command == L"settings") {
        rc = ReadSettings(plugin, reply_file);
    } else {
        rc = RunServiceCommand(plugin, words);
    }
    FreeLibrary(plugin.module);
    return rc;
}
