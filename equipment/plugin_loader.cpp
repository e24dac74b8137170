// Loading the plug-in for tests that drive it as the host does.
#include "equipment/plugin_loader.h"

namespace equipment {

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

}  // namespace equipment
