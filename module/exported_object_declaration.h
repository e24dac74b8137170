// The static declarations that make an object class known to the registry under its name.
#pragma once

#include <string>

#include "interfaces/interface_ids.h"
#include "module/exported_object_registry.h"

// Registers itself while the module loads. Each declaration unregisters its name first thing in its own
// destructor (the singleton deletes its instance only after that); the base then releases the registry.
class ExportedDeclarationBase : public IObjectConstructor {
protected:
    explicit ExportedDeclarationBase(const wchar_t* name) {
        registry_.Acquire();
        name_ = name;
        registry_.Get()->Register(name_.c_str(), this);
    }
    ~ExportedDeclarationBase() { registry_.Release(); }
    ExportedDeclarationBase(const ExportedDeclarationBase&) = delete;
    ExportedDeclarationBase& operator=(const ExportedDeclarationBase&) = delete;

    template <typename T>
    static IQvBaseInterface* AsBase(T* object) {
        return static_cast<IQvBaseInterface*>(object->QueryInterface(Endpoint::Vorn::IID_IQvBaseInterface));
    }

    std::wstring name_;
    ExportedObjectRegistryRef registry_;
};

// Every Create makes a new object that belongs to the caller until Destroy.
template <typename T>
class ExportedObjectDeclaration final : public ExportedDeclarationBase {
public:
    explicit ExportedObjectDeclaration(const wchar_t* name) : ExportedDeclarationBase(name) {}
    ~ExportedObjectDeclaration() { registry_.Get()->Unregister(name_.c_str()); }

    IQvBaseInterface* Create() override { return AsBase(new T()); }

    // Objects of another class (handed back under the wrong name) and null are ignored.
    void Destroy(IQvBaseInterface* object) override { delete dynamic_cast<T*>(object); }

    bool HasInstances() override { return false; }
};

// Every Create hands out the one shared instance; the Destroy that brings the count back to 0 deletes it.
template <typename T>
class ExportedSingletonDeclaration final : public ExportedDeclarationBase {
public:
    explicit ExportedSingletonDeclaration(const wchar_t* name) : ExportedDeclarationBase(name) {}

    ~ExportedSingletonDeclaration() {
        registry_.Get()->Unregister(name_.c_str());
        delete instance_;
        instance_ = nullptr;
        count_ = 0;
    }

    IQvBaseInterface* Create() override {
        if (instance_ == nullptr) {
            instance_ = new T();
        }
        ++count_;
        return AsBase(instance_);
    }

    // The pointer is not looked at: every call counts down. Below 0 the instance stays until unload.
    void Destroy(IQvBaseInterface*) override {
        if (--count_ == 0) {
            delete instance_;
            instance_ = nullptr;
        }
    }

    bool HasInstances() override { return count_ > 0; }

private:
    T* instance_ = nullptr;
    long count_ = 0;
};
