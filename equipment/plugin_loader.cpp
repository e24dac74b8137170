// Loading the plug-in for tests that drive it as the host does.
#include "equipment/plugin_loader.h"

namespace equipment {

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

}  // namespace equipment
