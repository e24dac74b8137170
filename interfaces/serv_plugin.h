// IServPlugin: the interface through which the host runs a service plug-in ("Vorn.AL").
#pragma once

#include "interfaces/qv_base_interface.h"

namespace Product {
struct IHost;
}

// Derives from the root directly, not from Endpoint::Vorn::IBaseObject: the host drives its service plug-ins
// through this table alone and gives them back through QvDestroyObject, so there is no destructor slot.
struct IServPlugin : IQvBaseInterface {
    // Answers IQvBaseInterface and IServPlugin.
    void* QueryInterface(const GUID& iid) override = 0;
    // `host` may be null. Always 0: the host does not act on a failure here.
    virtual unsigned long Init(Product::IHost* host) = 0;
    virtual void UnInit() = 0;
    // Always 0.
    virtual unsigned long Start() = 0;
    virtual void Stop() = 0;

protected:
    ~IServPlugin() = default;
};
