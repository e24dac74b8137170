// qvhost: a small host that loads the plug-in as the host product does and drives its objects.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

#include "interfaces/client.h"
#include "interfaces/interface_ids.h"

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
        L"              (--deliver: have the stand-in vornint.dll hand over JSON as a policy)\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring path = DefaultPluginPath();
    const wchar_t* command = nullptr;
    PolicyOptions policy_options;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::wcscmp(argv[i], L"--plugin") == 0 && has_value) {
            path = argv[++i];
        } else if (std::wcscmp(argv[i], L"--client") == 0 && has_value) {
            policy_options.client_number = _wtoi(argv[++i]);
        } else if (std::wcscmp(argv[i], L"--seconds") == 0 && has_value) {
            policy_options.seconds = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (std::wcscmp(argv[i], L"--deliver") == 0 && has_value) {
            policy_options.deliver = argv[++i];
        } else if (command == nullptr && std::wcscmp(argv[i], L"policies") == 0) {
            command = argv[i];
        } else {
            Usage();
            return 2;
        }
    }
    Plugin plugin;
    if (!LoadPlugin(path, plugin)) {
        return 1;
    }
    const int rc = command != nullptr ? RunPolicies(plugin, policy_options) : CreateEach(plugin);
    FreeLibrary(plugin.module);
    return rc;
}
