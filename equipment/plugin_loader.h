// Loads build/bin/vornplug.dll as the host does and resolves its two exports.
#pragma once

#include <windows.h>

#include <string>

#include "equipment/folders.h"

namespace equipment {

using QvCreateObjectFn = unsigned long (*)(const wchar_t*, const GUID&, void**);
using QvDestroyObjectFn = void (*)(const wchar_t*, void*);

class PluginLoader {
public:
    // Loads the plug-in from the test executable's folder (or the given full path).
    explicit PluginLoader(const std::wstring& path = ExecutableFolder() + L"vornplug.dll");
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    bool Loaded() const { return module_ != nullptr && Create != nullptr && Destroy != nullptr; }
    HMODULE Module() const { return module_; }
    // Unloads now (the destructor then does nothing).
    void Unload();

    QvCreateObjectFn Create = nullptr;
    QvDestroyObjectFn Destroy = nullptr;

private:
    HMODULE module_ = nullptr;
};

}  // namespace equipment
