// Endpoint::Vorn::IBaseObject: the life-cycle root of the client, the settings manager and the installer.
#pragma once

#include "interfaces/qv_base_interface.h"

namespace Endpoint::Vorn {

struct IBaseObject : IQvBaseInterface {
    // Answers IQvBaseInterface and IBaseObject. The plug-in's own objects list every ID they answer themselves, as
    // "Vorn.AL", which has no IBaseObject, must.
    void* QueryInterface(const GUID& iid) override;
    virtual ~IBaseObject() = default;
    virtual unsigned long Init() = 0;
    virtual void Uninit() = 0;
};

}  // namespace Endpoint::Vorn
