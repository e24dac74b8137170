// Endpoint::Vorn::IService: whether the agent's Windows service is installed; installs and removes it.
#pragma once

#include "interfaces/base_object.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn {

struct IService : IBaseObject {
    virtual bool IsInstalled() = 0;
    // Run the agent's service executable from `directory`; 0, or a Windows error code (1627 when the executable
    // itself reported a failure).
    virtual unsigned long Install(const qv::WString& directory) = 0;
    virtual unsigned long Uninstall(const qv::WString& directory) = 0;
    // The file name of the agent's service executable; replaces what `name` held.
    virtual void GetExecutableName(qv::WString& name) = 0;
};

}  // namespace Endpoint::Vorn
