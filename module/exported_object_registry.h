// ExportedObjectRegistry: the process-wide map from object name to declaration, and the counted hold on it.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "module/object_constructor.h"
#include "support/logging/counted_holder.h"
#include "support/sync/thread_annotations.h"
#include "support/unique_resource.h"

// Object names compare as unsigned 16-bit code units; a proper prefix sorts first.
struct ObjectNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const noexcept;
};

class ExportedObjectRegistry {
public:
    ExportedObjectRegistry() = default;
    ExportedObjectRegistry(const ExportedObjectRegistry&) = delete;
    ExportedObjectRegistry& operator=(const ExportedObjectRegistry&) = delete;

    // 0, or ERROR_ALREADY_EXISTS when the name is taken (the first entry stays).
    unsigned long Register(const wchar_t* name, IObjectConstructor* constructor);
    void Unregister(const wchar_t* name);

    // Lets the named declaration make (or share) an object, under the registry lock; null for an unknown name.
    IQvBaseInterface* CreateByName(const wchar_t* name);
    // Hands an object back to the named declaration, under the registry lock; an unknown name does nothing.
    void DestroyByName(const wchar_t* name, IQvBaseInterface* object);

private:
    std::map<std::wstring, IObjectConstructor*, ObjectNameLess> entries_ GUARDED_BY(lock_);
    qv::CriticalSection lock_;
};

// A counted hold on the current registry; the first hold in the process makes it, the last release frees it.
using ExportedObjectRegistryRef = qv::CountedHolder<ExportedObjectRegistry>;

// What the two exports do.
unsigned long CreateObjectByName(const wchar_t* name, const GUID& iid, void** object);
void DestroyObjectByName(const wchar_t* name, void* object);
