// Loading the plug-in for tests that drive it as the host does.
#include "tests/plugin_loader.h"

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

PluginLoader::PluginLoader(const std::wstring& path) {
    if (library_.Load(path.c_str()) == ERROR_SUCCESS) {
        Create = library_.CreateFunction();
        Destroy = library_.DestroyFunction();
    }
}

void PluginLoader::Unload() {
    Create = nullptr;
    Destroy = nullptr;
    library_.Unload();
}
