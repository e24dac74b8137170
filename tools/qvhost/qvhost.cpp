// qvhost: a small host that loads the plug-in as the host product does and drives its objects.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "interfaces/interface_ids.h"
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring path = DefaultPluginPath();
    std::wstring reply_file;
    bool settings = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--plugin") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else if (std::wcscmp(argv[i], L"--reply") == 0 && i + 1 < argc) {
            reply_file = argv[++i];
        } else if (std::wcscmp(argv[i], L"settings") == 0) {
            settings = true;
        }
    }
    Plugin plugin;
    if (!LoadPlugin(path, plugin)) {
        return 1;
    }
    int rc = settings ? ReadSettings(plugin, reply_file) : CreateEach(plugin);
    FreeLibrary(plugin.module);
    return rc;
}
