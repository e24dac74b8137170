// Settings::IManager: reads the agent's settings and sends changes to it ("Vorn.Settings").
#pragma once

#include "interfaces/base_object.h"
#include "interfaces/settings_data.h"
#include "interfaces/settings_record.h"

namespace Endpoint::Vorn::Settings {

// Init links the manager to the agent; Uninit stops the link. Results are Windows error codes.
struct IManager : IBaseObject {
    // Fetches the agent's settings into out. Does not wait for the agent's server; fields loaded before a
    // fault in the agent's document keep their new values.
    virtual unsigned long Read(Record& out) = 0;
    // Waits until the agent's server is up (up to 100 minutes), then sends data's keys. data must come from
    // CreateData of this manager's module.
    virtual unsigned long Update(IData* data) = 0;
    // An empty change that the caller owns until DestroyData.
    virtual IData* CreateData() = 0;
    virtual void DestroyData(IData* data) = 0;
};

}  // namespace Endpoint::Vorn::Settings
