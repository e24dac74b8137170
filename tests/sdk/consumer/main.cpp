// Loads vornplug.dll from its own folder by full path as a host does, prints its version resource, asks it for
// the service installer and prints what the installer answers.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/plugin_library.h"
#include "interfaces/service.h"

// The file version from the DLL's version resource, as a host shows which plug-in it loaded.
void PrintVersion(HMODULE plugin) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(plugin, path, MAX_PATH);
    std::vector<unsigned char> info(GetFileVersionInfoSizeW(path, nullptr));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (info.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) || fixed == nullptr) {
        std::printf("no version resource\n");
        return;
    }
    std::printf("vornplug.dll version %u.%u.%u.%u\n", unsigned{HIWORD(fixed->dwFileVersionMS)},
                unsigned{LOWORD(fixed->dwFileVersionMS)}, unsigned{HIWORD(fixed->dwFileVersionLS)},
                unsigned{LOWORD(fixed->dwFileVersionLS)});
}

// `file_name` in the folder of this executable.
std::wstring BesideExecutable(const wchar_t* file_name) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + file_name;
}

int main() {
    // Declared first, so that it is unloaded after every object it made is given back.
    Endpoint::Vorn::PluginLibrary plugin;
    const std::wstring path = BesideExecutable(L"vornplug.dll");
    const unsigned long loaded = plugin.Load(path.c_str());
    if (loaded != ERROR_SUCCESS) {
        std::printf("loading %ls failed: %lu\n", path.c_str(), loaded);
        return 1;
    }
    PrintVersion(plugin.Module());

    unsigned long result = 0;
    auto service = plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IService, &result);
    std::printf("QvCreateObject(Vorn.Service, IID_IService) = %lu\n", result);
    if (!service) {
        return 1;
    }
    std::printf("Init = %lu\n", service->Init());
    {
        // The plug-in fills the string from its own heap: it must be gone before the plug-in is unloaded.
        qv::WString name;
        service->GetExecutableName(name);
        std::printf("GetExecutableName = %ls\n", name.GetString());
    }
    service->Uninit();
    return 0;
}
