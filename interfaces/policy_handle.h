// Endpoint::Vorn::IPolicyHandle: the host's policy subscriber.
#pragma once

#include "interfaces/live_command.h"
#include "interfaces/policy.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn {

// Called on the agent library's threads while the client's subscriber list is share-locked: a subscriber
// must not add or remove policy handles from inside these calls. The plug-in never deletes a subscriber.
struct IPolicyHandle {
    virtual void OnRunPolicy(const IPolicy* policy) = 0;
    virtual void OnRemovePolicy(const qv::WString& policy_id) = 0;
    virtual void OnLiveCommand(ILiveCommand* command) = 0;

protected:
    ~IPolicyHandle() = default;
};

}  // namespace Endpoint::Vorn
