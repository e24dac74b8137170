// The plug-in as the host tool holds it: the loaded module, its two exports, and scoped objects made by them.
#pragma once

#include <windows.h>

#include <string>

namespace qvhost {

using CreateFn = unsigned long (*)(const wchar_t*, const GUID&, void**);
using DestroyFn = void (*)(const wchar_t*, void*);

class Plugin {
public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the module and resolves QvCreateObject and QvDestroyObject; says why when it cannot.
    bool Load(const std::wstring& path);

    unsigned long Create(const wchar_t* name, const GUID& iid, void** object) const {
        return create_(name, iid, object);
    }
    void Destroy(const wchar_t* name, void* object) const { destroy_(name, object); }

private:
    HMODULE module_ = nullptr;
    CreateFn create_ = nullptr;
    DestroyFn destroy_ = nullptr;
};

// One object of the plug-in, given back through QvDestroyObject when the owner goes. Objects must go before the
// plug-in is unloaded, which the order of declaration in the commands takes care of.
template <typename Interface>
class Object {
public:
    Object(const Plugin& plugin, const wchar_t* name, const GUID& iid) : plugin_(plugin), name_(name) {
        void* object = nullptr;
        result_ = plugin.Create(name, iid, &object);
        object_ = result_ == 0 ? static_cast<Interface*>(object) : nullptr;
    }
    ~Object() { Reset(); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Gives the object back now.
    void Reset() {
        if (object_ != nullptr) {
            plugin_.Destroy(name_, object_);
            object_ = nullptr;
        }
    }
    explicit operator bool() const { return object_ != nullptr; }
    Interface* operator->() const { return object_; }
    Interface& operator*() const { return *object_; }
    Interface* get() const { return object_; }
    unsigned long CreateResult() const { return result_; }
    const wchar_t* Name() const { return name_; }

private:
    const Plugin& plugin_;
    const wchar_t* name_;
    Interface* object_ = nullptr;
    unsigned long result_ = 0;
};

}  // namespace qvhost
