// For hosts: vornplug.dll loaded by full path, its two exports with their types, and each object it makes held
// by an owner that gives it back under the name it was made with.
//
//     Endpoint::Vorn::PluginLibrary plugin;
//     if (plugin.Load(L"C:\\Program Files\\Host\\vornplug.dll") != ERROR_SUCCESS) { ... }
//     unsigned long result = 0;
//     auto service = plugin.Create<Endpoint::Vorn::IService>(L"Vorn.Service", Endpoint::Vorn::IID_IService, &result);
//     if (service) { service->Init(); ... }
//     // service goes first (QvDestroyObject(L"Vorn.Service", ...)), then plugin (FreeLibrary).
//
// Header-only, C++17, no exceptions, for MSVC and MinGW alike. The plug-in's code gives the objects back, so
// every owner must be gone before its library is unloaded: declare the library first.
#pragma once

#include <windows.h>

#include <utility>

namespace Endpoint::Vorn {

// The plug-in's two exports.
using QvCreateObjectFn = unsigned long (*)(const wchar_t* name, const GUID& iid, void** object);
using QvDestroyObjectFn = void (*)(const wchar_t* name, void* object);

// Owns one object of the plug-in and gives it back with QvDestroyObject under the name it was made with,
// exactly once. Move-only; a moved-from owner is empty. The name is kept by pointer and must outlive the owner,
// as object names written as literals do.
template <typename Interface>
class UniqueObject {
public:
    UniqueObject() noexcept = default;
    UniqueObject(Interface* object, const wchar_t* name, QvDestroyObjectFn destroy) noexcept
        : object_(object), name_(name), destroy_(destroy) {}
    UniqueObject(const UniqueObject&) = delete;
    UniqueObject& operator=(const UniqueObject&) = delete;
    UniqueObject(UniqueObject&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)),
          name_(std::exchange(other.name_, nullptr)),
          destroy_(std::exchange(other.destroy_, nullptr)) {}
    UniqueObject& operator=(UniqueObject&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
            name_ = std::exchange(other.name_, nullptr);
            destroy_ = std::exchange(other.destroy_, nullptr);
        }
        return *this;
    }
    ~UniqueObject() { reset(); }

    // Gives the object back now; an empty owner does nothing.
    void reset() noexcept {
        Interface* object = std::exchange(object_, nullptr);
        if (object != nullptr && destroy_ != nullptr) {
            destroy_(name_, object);
        }
    }
    // Stops owning the object without giving it back: the caller passes it to QvDestroyObject itself.
    [[nodiscard]] Interface* release() noexcept { return std::exchange(object_, nullptr); }

    Interface* get() const noexcept { return object_; }
    Interface* operator->() const noexcept { return object_; }
    Interface& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // The name the object was made with (null for an owner that never held one).
    const wchar_t* name() const noexcept { return name_; }

private:
    Interface* object_ = nullptr;
    const wchar_t* name_ = nullptr;
    QvDestroyObjectFn destroy_ = nullptr;
};

// The loaded plug-in. Move-only; unloads when it goes.
class PluginLibrary {
public:
    PluginLibrary() noexcept = default;
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    PluginLibrary(PluginLibrary&& other) noexcept
        : module_(std::exchange(other.module_, nullptr)),
          create_(std::exchange(other.create_, nullptr)),
          destroy_(std::exchange(other.destroy_, nullptr)) {}
    PluginLibrary& operator=(PluginLibrary&& other) noexcept {
        if (this != &other) {
            Unload();
            module_ = std::exchange(other.module_, nullptr);
            create_ = std::exchange(other.create_, nullptr);
            destroy_ = std::exchange(other.destroy_, nullptr);
        }
        return *this;
    }
    ~PluginLibrary() { Unload(); }

    // A full path: a drive ("C:\" or "C:/") or a UNC or device path ("\\"). Anything else would make
    // LoadLibraryW search the current directory and PATH, where anybody who can write a file could plant one.
    static bool IsFullPath(const wchar_t* path) noexcept {
        if (path == nullptr) {
            return false;
        }
        const bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                           path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
        const bool unc = path[0] == L'\\' && path[1] == L'\\';
        return drive || unc;
    }

    // Loads the plug-in from `full_path` (unloading one loaded before) and resolves both exports. ERROR_SUCCESS;
    // ERROR_INVALID_PARAMETER for a path that is not full; LoadLibraryW's error; ERROR_PROC_NOT_FOUND when the
    // module lacks either export (it is then unloaded again).
    unsigned long Load(const wchar_t* full_path) noexcept {
        Unload();
        if (!IsFullPath(full_path)) {
            return ERROR_INVALID_PARAMETER;
        }
        HMODULE module = LoadLibraryW(full_path);
        if (module == nullptr) {
            return GetLastError();
        }
        auto create =
            reinterpret_cast<QvCreateObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "QvCreateObject")));
        auto destroy =
            reinterpret_cast<QvDestroyObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "QvDestroyObject")));
        if (create == nullptr || destroy == nullptr) {
            FreeLibrary(module);
            return ERROR_PROC_NOT_FOUND;
        }
        module_ = module;
        create_ = create;
        destroy_ = destroy;
        return ERROR_SUCCESS;
    }

    // Unloads now. Every object made must have been given back.
    void Unload() noexcept {
        create_ = nullptr;
        destroy_ = nullptr;
        if (HMODULE module = std::exchange(module_, nullptr)) {
            FreeLibrary(module);
        }
    }

    bool Loaded() const noexcept { return module_ != nullptr; }
    HMODULE Module() const noexcept { return module_; }
    // The exports themselves, for a host that manages an object's life by hand; null when not loaded.
    QvCreateObjectFn CreateFunction() const noexcept { return create_; }
    QvDestroyObjectFn DestroyFunction() const noexcept { return destroy_; }

    // Makes the object `name` and asks it for `iid` (QvCreateObject). The owner is empty when that fails;
    // `result`, when given, receives QvCreateObject's result, or ERROR_INVALID_HANDLE when nothing is loaded.
    template <typename Interface>
    UniqueObject<Interface> Create(const wchar_t* name, const GUID& iid,
                                   unsigned long* result = nullptr) const noexcept {
        unsigned long made = ERROR_INVALID_HANDLE;
        void* object = nullptr;
        if (create_ != nullptr) {
            made = create_(name, iid, &object);
        }
        if (result != nullptr) {
            *result = made;
        }
        if (made != ERROR_SUCCESS || object == nullptr) {
            return UniqueObject<Interface>();
        }
        return UniqueObject<Interface>(static_cast<Interface*>(object), name, destroy_);
    }

private:
    HMODULE module_ = nullptr;
    QvCreateObjectFn create_ = nullptr;
    QvDestroyObjectFn destroy_ = nullptr;
};

}  // namespace Endpoint::Vorn
