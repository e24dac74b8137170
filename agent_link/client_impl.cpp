// The policy client's life cycle, its subscriber lists and the agent library's policy callbacks.
#include "agent_link/client_impl.h"

#include <windows.h>

#include "agent_link/agent_library.h"
#include "agent_link/policy_impl.h"
#include "interfaces/interface_ids.h"
#include "support/logging/log_message.h"
#include "support/sync/event_walk.h"

namespace Endpoint::Vorn::NG {

ClientImpl::ClientImpl() { log_.Acquire(); }

ClientImpl::~ClientImpl() {
    // The held client goes first, ahead of the lists and the log handle: its destructor returns only when no
    // callback of it is running, and those callbacks walk the lists and write to the log.
    client_.reset();
}

void* ClientImpl::QueryInterface(const GUID& iid) {
    if (SameInterfaceId(iid, IID_IQvBaseInterface) || SameInterfaceId(iid, IID_IBaseObject) ||
        SameInterfaceId(iid, IID_IClient)) {
        return static_cast<IClient*>(this);
    }
    return nullptr;
}

constexpr wchar_t kInit[] = L"Endpoint::Vorn::NG::ClientImpl::Init";

unsigned long ClientImpl::Init() {
    logging::TraceScope scope(kInit);
    return ERROR_SUCCESS;
}

constexpr wchar_t kUninit[] = L"Endpoint::Vorn::NG::ClientImpl::Uninit";

void ClientImpl::Uninit() {
    logging::TraceScope scope(kUninit);
    // Not stopped: the library may go on calling back.
    LetGoOf(client_);
}

constexpr wchar_t kStart[] = L"Endpoint::Vorn::NG::ClientImpl::Start";

unsigned long ClientImpl::Start(const int& client_number) {
    logging::TraceScope scope(kStart);
    // Without the library no client is made, and one still held stays as it is.
    const unsigned long bound = BindAgentLibrary(AgentLibrary::Comm, kStart);
    if (bound != ERROR_SUCCESS) {
        return bound;
    }
    auto fresh = std::make_unique<vorn::vorn_comm_client>(client_number, kLinkName);
    // The new client exists before the old one is destroyed, which is never stopped first.
    client_ = std::move(fresh);
    client_->register_policy_handler(this);
    const int result = client_->start_async();
    if (result != 0) {
        // The client stays held, so that a later Stop stops it.
        logging::WriteMessage(logging::LevelError, kStart, L"failed to start vorn client. error [%d]", result);
        return static_cast<unsigned long>(result);
    }
    return ERROR_SUCCESS;
}

constexpr wchar_t kStop[] = L"Endpoint::Vorn::NG::ClientImpl::Stop";

void ClientImpl::Stop() {
    if (client_) {
        client_->stop();
        LetGoOf(client_);
    }
    // Opened only now, so that its entry line follows the stop.
    logging::TraceScope scope(kStop);
}

unsigned long ClientImpl::AddPolicyHandle(IPolicyHandle* handle) {
    return handle != nullptr ? policy_handlers_.Add(handle) : ERROR_FUNCTION_FAILED;
}

unsigned long ClientImpl::AddNotification(INotification* notification) {
    return notification != nullptr ? notification_handlers_.Add(notification) : ERROR_FUNCTION_FAILED;
}

unsigned long ClientImpl::RemovePolicyHandle(IPolicyHandle* handle) { return policy_handlers_.Remove(handle); }

unsigned long ClientImpl::RemoveNotification(INotification* notification) {
    return notification_handlers_.Remove(notification);
}

constexpr wchar_t kCancelRunPolicy[] = L"Endpoint::Vorn::NG::ClientImpl::CancelRunPolicy";

void ClientImpl::CancelRunPolicy() { logging::TraceScope scope(kCancelRunPolicy); }

constexpr wchar_t kReloadPolicies[] = L"Endpoint::Vorn::NG::ClientImpl::ReloadPolicies";

void ClientImpl::ReloadPolicies() {
    logging::TraceScope scope(kReloadPolicies);
    logging::WriteMessage(logging::LevelError, kReloadPolicies, L"NOT IMPLEMENTED");
}

constexpr wchar_t kOnRunPolicy[] = L"Endpoint::Vorn::NG::ClientImpl::on_run_policy";

void ClientImpl::on_run_policy(const char* json) {
    logging::TraceScope scope(kOnRunPolicy);
    try {
        // Lives only for this call: a subscriber must not keep the pointer.
        PolicyImpl policy;
        if (policy.Parse(json) == ERROR_SUCCESS) {
            NotifyEach(run_policy_event_, static_cast<const IPolicy*>(&policy));
        }
    } catch (...) {
        // A throwing subscriber, or no memory for a huge policy: the walk has ended and the policy is gone;
        // the agent gets no answer either way.
    }
}

constexpr wchar_t kOnAddPolicy[] = L"Endpoint::Vorn::NG::ClientImpl::on_add_policy";

void ClientImpl::on_add_policy(const char*) { logging::TraceScope scope(kOnAddPolicy); }

constexpr wchar_t kOnRemovePolicy[] = L"Endpoint::Vorn::NG::ClientImpl::on_remove_policy";

void ClientImpl::on_remove_policy(const char* json) {
    logging::TraceScope scope(kOnRemovePolicy);
    try {
        // A removal must be a complete policy text too, although only its id is passed on.
        PolicyImpl policy;
        if (policy.Parse(json) == ERROR_SUCCESS) {
            const qv::WString id = policy.GetId();
            NotifyEach(remove_policy_event_, id);
        }
    } catch (...) {
    }
}

constexpr wchar_t kOnNotification[] = L"Endpoint::Vorn::NG::ClientImpl::on_notification";

void ClientImpl::on_notification(const char* text) {
    logging::TraceScope scope(kOnNotification);
    logging::WriteMessage(logging::LevelTrace, kOnNotification, L"notification: %S", text != nullptr ? text : "");
}

}  // namespace Endpoint::Vorn::NG
