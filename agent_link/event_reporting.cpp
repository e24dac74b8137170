// The policy client's reports to the agent: the start and the end of a policy run, and the host's own events.
#include <windows.h>

#include <json/json.h>

#include <string>

#include "agent_link/client_impl.h"
#include "agent_link/json_path.h"
#include "support/logging/log_message.h"
#include "support/strings/utf8.h"

namespace Endpoint::Vorn::NG {

namespace {

// The agent's event codes for policy runs. Start and end share type and subtype; the agent tells them
// apart by "desc".
constexpr unsigned long long kEventTypePolicy = 101;
constexpr unsigned long long kEventSubtypePolicyStarted = 5;
constexpr unsigned long long kEventSubtypePolicyRun = 5;
constexpr unsigned long long kNoFlags = 0;

// send_event's wait argument.
constexpr int kWaitForAgent = -1;
constexpr int kDoNotWait = 0;

constexpr vorn::event_priority kPriority = vorn::event_priority{};

// The event object the agent expects, with exactly these three members, as styled JSON text.
std::string EventText(const qv::WString& name, const char* description, const Json::Value& content) {
    Json::Value event(Json::objectValue);
    event["name"] = qv::ToUtf8(name).c_str();
    event["desc"] = description;
    event["content"] = content;
    return event.toStyledString();
}

}  // namespace

constexpr wchar_t kSendPolicyStarted[] = L"Endpoint::Vorn::NG::ClientImpl::SendPolicyStarted";

void ClientImpl::SendPolicyStarted(const qv::WString& policy_name) {
    if (!client_) {
        return;
    }
    const std::string text = EventText(policy_name, "Policy run started", Json::Value());
    const int result = client_->send_event(kPriority, kEventTypePolicy, kEventSubtypePolicyStarted, kNoFlags,
                                           text.c_str(), kWaitForAgent);
    logging::WriteMessage(logging::LevelByResult(result), kSendPolicyStarted,
                          L"send_event EVST_POLICY_STARTED result [%d]", result);
}

constexpr wchar_t kSendPolicyRun[] = L"Endpoint::Vorn::NG::ClientImpl::SendPolicyRun";

void ClientImpl::SendPolicyRun(const qv::WString& policy_name, const qv::WString& run_result) {
    if (!client_) {
        return;
    }
    // A result that does not parse is still reported: the run has ended either way, and the agent gets
    // whatever the parse left (JSON null for an empty result).
    Json::Value content;
    if (!JsonParseWide(content, run_result.c_str())) {
        logging::WriteMessage(logging::LevelError, kSendPolicyRun, L"failed to parse response json: %s",
                              run_result.c_str());
    }
    const std::string text = EventText(policy_name, "Policy run stopped/succeeded", content);
    const int result =
        client_->send_event(kPriority, kEventTypePolicy, kEventSubtypePolicyRun, kNoFlags, text.c_str(), kWaitForAgent);
    logging::WriteMessage(logging::LevelByResult(result), kSendPolicyRun, L"send_event EVST_POLICY_RUN result [%d]",
                          result);
}

constexpr wchar_t kSendEvent[] = L"Endpoint::Vorn::NG::ClientImpl::SendEvent";

void ClientImpl::SendEvent(const EventDescriptor& event) {
    logging::TraceScope scope(kSendEvent);
    if (!client_) {
        return;
    }
    logging::WriteMessage(logging::LevelTrace, kSendEvent,
                          L"Send event: name[%s] description[%s] type[%d] subtype[%d] flags[%d] async[%s] "
                          L"content[%s]",
                          event.name.c_str(), event.description.c_str(), static_cast<int>(event.type),
                          static_cast<int>(event.subtype), static_cast<int>(event.flags),
                          event.async ? L"true" : L"false", event.content.c_str());
    // Unlike a run result, an event whose content does not parse is not worth reporting.
    Json::Value content;
    if (!JsonParseWide(content, event.content.c_str())) {
        logging::WriteMessage(logging::LevelError, kSendEvent, L"failed to parse content");
        return;
    }
    const std::string text = EventText(event.name, qv::ToUtf8(event.description).c_str(), content);
    const int result = client_->send_event(kPriority, event.type, event.subtype, event.flags, text.c_str(),
                                           event.async ? kDoNotWait : kWaitForAgent);
    logging::WriteMessage(logging::LevelByResult(result), kSendEvent, L"send result [%d]", result);
}

}  // namespace Endpoint::Vorn::NG
