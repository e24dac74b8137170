// IObjectConstructor: what the registry knows of a declaration.
#pragma once

#include "interfaces/qv_base_interface.h"

class IObjectConstructor {
public:
    virtual IQvBaseInterface* Create() = 0;
    virtual void Destroy(IQvBaseInterface* object) = 0;
    // Part of the entry interface for the host's tools; the module itself never asks.
    virtual bool HasInstances() = 0;
};
