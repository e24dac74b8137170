// Endpoint::Vorn::IClient: the policy client as the host drives it ("Vorn.Client").
#pragma once

#include "interfaces/base_object.h"
#include "interfaces/event_descriptor.h"
#include "interfaces/notification.h"
#include "interfaces/policy_handle.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn {

// Slots follow IBaseObject's four in this order. Start, Stop, Uninit and the three send operations share the
// link to the agent without a lock, so the host calls them from one thread at a time; subscribers may be
// added and removed from any thread at any time.
struct IClient : IBaseObject {
    // Links to the agent under the given client number; 0 or the agent library's own start error.
    virtual unsigned long Start(const int& client_number) = 0;
    virtual void Stop() = 0;

    // 0, or ERROR_FUNCTION_FAILED for null, a subscriber already added, or one not added.
    virtual unsigned long AddPolicyHandle(IPolicyHandle* handle) = 0;
    virtual unsigned long AddNotification(INotification* notification) = 0;
    virtual unsigned long RemovePolicyHandle(IPolicyHandle* handle) = 0;
    virtual unsigned long RemoveNotification(INotification* notification) = 0;

    virtual void CancelRunPolicy() = 0;
    virtual void ReloadPolicies() = 0;

    // Reports to the agent; failures reach only the log.
    virtual void SendPolicyRun(const qv::WString& policy_name, const qv::WString& run_result) = 0;
    virtual void SendPolicyStarted(const qv::WString& policy_name) = 0;
    virtual void SendEvent(const EventDescriptor& event) = 0;
};

}  // namespace Endpoint::Vorn
