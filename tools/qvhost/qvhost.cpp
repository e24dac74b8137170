// qvhost: a small host that loads the plug-in as the host product does and drives its objects.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

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
    plugin.create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(plugin.module, "QvCreateObject")));
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring path = DefaultPluginPath();
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--plugin") == 0) {
            path = argv[i + 1];
        }
    }
    Plugin plugin;
    if (!LoadPlugin(path, plugin)) {
        return 1;
    }
    int rc = CreateEach(plugin);
    FreeLibrary(plugin.module);
    return rc;
}
