// Loading the plug-in for tests that drive it as the host does.
#include "tests/plugin_loader.h"

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

PluginLoader::PluginLoader(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {
    if (module_ != nullptr) {
        Create = reinterpret_cast<QvCreateObjectFn>(reinterpret_cast<void*>(GetProcAddress(module_, "QvCreateObject")));
        Destroy =
            reinterpret_cast<QvDestroyObjectFn>(reinterpret_cast<void*>(GetProcAddress(module_, "QvDestroyObject")));
    }
}

PluginLoader::~PluginLoader() { Unload(); }

void PluginLoader::Unload() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
    Create = nullptr;
    Destroy = nullptr;
}
