// Loads build/bin/vornplug.dll as the host does, through the SDK's host helper, and resolves its two exports.
#pragma once

#include <windows.h>

#include <string>

#include "equipment/folders.h"
#include "interfaces/plugin_library.h"

namespace equipment {

using QvCreateObjectFn = Endpoint::Vorn::QvCreateObjectFn;
using QvDestroyObjectFn = Endpoint::Vorn::QvDestroyObjectFn;

class PluginLoader {
public:
    // Loads the plug-in from the test executable's folder (or the given full path).
    explicit PluginLoader(const std::wstring& path = ExecutableFolder() + L"vornplug.dll");
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    bool Loaded() const { return library_.Loaded(); }
    HMODULE Module() const { return library_.Module(); }
    // Unloads now (the destructor then does nothing).
    void Unload();

    // The object `name` asked for `iid`, owned until the owner goes; empty when QvCreateObject fails.
    template <typename Interface>
    Endpoint::Vorn::UniqueObject<Interface> Make(const wchar_t* name, const GUID& iid,
                                                 unsigned long* result = nullptr) const {
        return library_.Create<Interface>(name, iid, result);
    }

    // The exports themselves, for tests that drive an object's life by hand; null when not loaded.
    QvCreateObjectFn Create = nullptr;
    QvDestroyObjectFn Destroy = nullptr;

private:
    Endpoint::Vorn::PluginLibrary library_;
};

}  // namespace equipment
