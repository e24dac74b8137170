// Loads vornplug.dll from its own folder as a host does, prints its version resource, asks it for the service
// installer and prints what the installer answers.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/service.h"

using QvCreateObjectFn = unsigned long (*)(const wchar_t* name, const GUID& iid, void** object);
using QvDestroyObjectFn = void (*)(const wchar_t* name, void* object);

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

int main() {
    HMODULE plugin = LoadLibraryW(L"vornplug.dll");
    if (plugin == nullptr) {
        std::printf("LoadLibraryW(vornplug.dll) failed: %lu\n", GetLastError());
        return 1;
    }
    PrintVersion(plugin);
    auto create = reinterpret_cast<QvCreateObjectFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "QvCreateObject")));
    auto destroy =
        reinterpret_cast<QvDestroyObjectFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "QvDestroyObject")));
    if (create == nullptr || destroy == nullptr) {
        std::printf("exports missing\n");
        return 1;
    }

    void* object = nullptr;
    unsigned long result = create(L"Vorn.Service", Endpoint::Vorn::IID_IService, &object);
    std::printf("QvCreateObject(Vorn.Service, IID_IService) = %lu\n", result);
    if (result != 0 || object == nullptr) {
        return 1;
    }
    auto* service = static_cast<Endpoint::Vorn::IService*>(object);
    std::printf("Init = %lu\n", service->Init());
    {
        // The plug-in fills the string from its own heap: it must be gone before the plug-in is unloaded.
        qv::WString name;
        service->GetExecutableName(name);
        std::printf("GetExecutableName = %ls\n", name.GetString());
    }
    service->Uninit();
    destroy(L"Vorn.Service", object);
    FreeLibrary(plugin);
    return 0;
}
