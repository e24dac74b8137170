// The plug-in as the host tool holds it: the loaded module, its two exports, and scoped objects made by them.
#pragma once

#include <windows.h>

#include <string>

#include "interfaces/plugin_library.h"

namespace qvhost {

// The plug-in as the SDK's host helper loads it, saying why when it cannot.
class Plugin {
public:
    // Loads the module by its full path (a relative one is made full first) and resolves both exports.
    bool Load(const std::wstring& path);

    unsigned long Create(const wchar_t* name, const GUID& iid, void** object) const {
        return library_.CreateFunction()(name, iid, object);
    }
    template <typename Interface>
    Endpoint::Vorn::UniqueObject<Interface> Make(const wchar_t* name, const GUID& iid, unsigned long* result) const {
        return library_.Create<Interface>(name, iid, result);
    }

private:
    Endpoint::Vorn::PluginLibrary library_;
};

// One object of the plug-in, with the result of its creation. Objects must go before the plug-in is unloaded,
// which the order of declaration in the commands takes care of.
template <typename Interface>
class Object {
public:
    Object(const Plugin& plugin, const wchar_t* name, const GUID& iid)
        : object_(plugin.Make<Interface>(name, iid, &result_)), name_(name) {}

    // Gives the object back now.
    void Reset() { object_.reset(); }
    explicit operator bool() const { return static_cast<bool>(object_); }
    Interface* operator->() const { return object_.get(); }
    Interface& operator*() const { return *object_; }
    Interface* get() const { return object_.get(); }
    unsigned long CreateResult() const { return result_; }
    const wchar_t* Name() const { return name_; }

private:
    unsigned long result_ = 0;  // written while object_ is made
    Endpoint::Vorn::UniqueObject<Interface> object_;
    const wchar_t* name_;
};

}  // namespace qvhost
