// The registry's map operations and the create and destroy sequences of the two exports.
#include "module/exported_object_registry.h"

#include <algorithm>

bool ObjectNameLess::operator()(const std::wstring& a, const std::wstring& b) const noexcept {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return static_cast<unsigned short>(x) < static_cast<unsigned short>(y);
    });
}

unsigned long ExportedObjectRegistry::Register(const wchar_t* name, IObjectConstructor* constructor) {
    qv::CriticalSectionGuard guard(lock_);
    return entries_.emplace(std::wstring(name), constructor).second ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
}

void ExportedObjectRegistry::Unregister(const wchar_t* name) {
    qv::CriticalSectionGuard guard(lock_);
    entries_.erase(std::wstring(name));
}

IQvBaseInterface* ExportedObjectRegistry::CreateByName(const wchar_t* name) {
    qv::CriticalSectionGuard guard(lock_);
    auto it = entries_.find(std::wstring(name));
    return it == entries_.end() ? nullptr : it->second->Create();
}

void ExportedObjectRegistry::DestroyByName(const wchar_t* name, IQvBaseInterface* object) {
    qv::CriticalSectionGuard guard(lock_);
    auto it = entries_.find(std::wstring(name));
    if (it != entries_.end()) {
        it->second->Destroy(object);
    }
}

unsigned long CreateObjectByName(const wchar_t* name, const GUID& iid, void** object) {
    *object = nullptr;
    const GUID id = iid;
    IQvBaseInterface* made;
    {
        ExportedObjectRegistryRef ref;
        made = ref.Get()->CreateByName(name);
    }
    if (made == nullptr) {
        return ERROR_NOT_FOUND;
    }
    *object = made->QueryInterface(id);
    if (*object != nullptr) {
        return ERROR_SUCCESS;
    }
    // The object does not speak that interface: give it straight back.
    ExportedObjectRegistryRef ref;
    ref.Get()->DestroyByName(name, made);
    return ERROR_NOT_FOUND;
}

void DestroyObjectByName(const wchar_t* name, void* object) {
    ExportedObjectRegistryRef ref;
    ref.Get()->DestroyByName(name, static_cast<IQvBaseInterface*>(object));
}
