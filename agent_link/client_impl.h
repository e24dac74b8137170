// Endpoint::Vorn::NG::ClientImpl: the policy client ("Vorn.Client"), between the host's subscribers and the
// agent communication library.
//
// The host calls IClient on its own threads; the library calls the policy_handler base on threads of its own,
// concurrently with the host. Each policy callback walks the policy handlers under the list's shared lock,
// so walks on several library threads run together and the host's AddPolicyHandle and RemovePolicyHandle
// (exclusive) wait for the walks in progress. The client pointer is not locked at all: the host makes the
// life-cycle and send calls from one thread at a time.
//
// Client pointer rules: Start always makes a fresh library client and destroys (without stop) one still held;
// Stop stops the held client and lets go of it, and Uninit lets go of it without stopping. A client let go is
// never destroyed, because the library may still be running its callbacks. Without a held client, Stop,
// Uninit and the send operations only write their trace lines (where they have any) and call nothing.
#pragma once

#include <memory>

#include "agent_link/comm_client.h"
#include "interfaces/client.h"
#include "interfaces/live_command.h"
#include "interfaces/notification.h"
#include "interfaces/policy.h"
#include "interfaces/policy_handle.h"
#include "support/logging/log_handle.h"
#include "support/strings/qv_string.h"
#include "support/sync/event.h"
#include "support/sync/member_function.h"
#include "support/sync/synchronyzed_object_container.h"

namespace Endpoint::Vorn::NG {

class ClientImpl final : public IClient, public vorn::policy_handler {
public:
    ClientImpl();
    ~ClientImpl() override;
    ClientImpl(const ClientImpl&) = delete;
    ClientImpl& operator=(const ClientImpl&) = delete;

    // IQvBaseInterface, IBaseObject and IClient, each answered with the object itself.
    void* QueryInterface(const GUID& iid) override;
    unsigned long Init() override;
    void Uninit() override;

    unsigned long Start(const int& client_number) override;
    void Stop() override;
    unsigned long AddPolicyHandle(IPolicyHandle* handle) override;
    unsigned long AddNotification(INotification* notification) override;
    unsigned long RemovePolicyHandle(IPolicyHandle* handle) override;
    unsigned long RemoveNotification(INotification* notification) override;
    void CancelRunPolicy() override;
    void ReloadPolicies() override;
    void SendPolicyRun(const qv::WString& policy_name, const qv::WString& run_result) override;
    void SendPolicyStarted(const qv::WString& policy_name) override;
    void SendEvent(const EventDescriptor& event) override;

    // Called by the agent library on its own threads. Nothing thrown (by a subscriber or for lack of memory)
    // leaves them: the library's thread must never see an exception.
    void on_run_policy(const char* json) override;
    void on_add_policy(const char* json) override;
    void on_remove_policy(const char* json) override;
    void on_notification(const char* text) override;

private:
    using PolicyHandlers = SynchronyzedObjectContainer<IPolicyHandle*>;
    using NotificationHandlers = SynchronyzedObjectContainer<INotification*>;
    using RunPolicyEvent =
        Event<MemberFunction_1_args<IPolicyHandle, void, const IPolicy*>, &IPolicyHandle::OnRunPolicy>;
    using RemovePolicyEvent =
        Event<MemberFunction_1_args<IPolicyHandle, void, const qv::WString&>, &IPolicyHandle::OnRemovePolicy>;
    using LiveCommandEvent =
        Event<MemberFunction_1_args<IPolicyHandle, void, ILiveCommand*>, &IPolicyHandle::OnLiveCommand>;
    using NotificationEvent = Event<MemberFunction_2_args<INotification, void, unsigned long, const qv::WString&>,
                                    &INotification::OnNotification>;

    CommClient client_;
    PolicyHandlers policy_handlers_;
    NotificationHandlers notification_handlers_;
    RunPolicyEvent run_policy_event_{&policy_handlers_};
    RemovePolicyEvent remove_policy_event_{&policy_handlers_};
    LiveCommandEvent live_command_event_{&policy_handlers_};         // nothing raises it
    NotificationEvent notification_event_{&notification_handlers_};  // nothing raises it
    logging::LogHandle log_;
};

}  // namespace Endpoint::Vorn::NG
