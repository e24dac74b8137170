// The settings manager: its life cycle, the server-up event, reading and sending settings.
#include "settings/settings_impl.h"

#include <windows.h>

#include <string>

#include "agent_link/agent_library.h"
#include "agent_link/json_path.h"
#include "interfaces/interface_ids.h"
#include "settings/command_result_impl.h"
#include "settings/data_impl.h"
#include "settings/json_composed_serializer.h"
#include "support/logging/log_message.h"

namespace Endpoint::Vorn::NG {

namespace {

constexpr wchar_t kInitName[] = L"Endpoint::Vorn::NG::SettingsImpl::Init";
constexpr wchar_t kUninitName[] = L"Endpoint::Vorn::NG::SettingsImpl::Uninit";
constexpr wchar_t kReadName[] = L"Endpoint::Vorn::NG::SettingsImpl::Read";
constexpr wchar_t kUpdateName[] = L"Endpoint::Vorn::NG::SettingsImpl::Update";
constexpr wchar_t kNotificationName[] = L"Endpoint::Vorn::NG::SettingsImpl::on_notification";
constexpr wchar_t kWaitVornName[] = L"Endpoint::Vorn::NG::SettingsImpl::WaitVorn";

}  // namespace

unsigned long WaitForServerUp(HANDLE server_up, unsigned long timeout_ms) {
    logging::TraceScope scope(kWaitVornName);
    const HANDLE handles[] = {server_up};
    const DWORD wait_result = WaitForMultipleObjects(1, handles, FALSE, timeout_ms);
    logging::WriteMessage(logging::LevelTrace, kWaitVornName, L"wait_result [%d]", static_cast<int>(wait_result));
    return wait_result == WAIT_OBJECT_0 ? ERROR_SUCCESS : wait_result;
}

SettingsImpl::SettingsImpl() { log_.Acquire(); }

// Members go in reverse order: the log handle first, then a client still held (destroyed without stop, as
// when Init replaces it), then the event.
SettingsImpl::~SettingsImpl() = default;

void* SettingsImpl::QueryInterface(const GUID& iid) {
    if (SameInterfaceId(iid, IID_ISettingsManager) || SameInterfaceId(iid, IID_IBaseObject) ||
        SameInterfaceId(iid, IID_IQvBaseInterface)) {
        return static_cast<Settings::IManager*>(this);
    }
    return nullptr;
}

unsigned long SettingsImpl::Init() {
    logging::TraceScope scope(kInitName);
    // Without the library no client is made, and the manager stays as it was.
    const unsigned long bound = BindAgentLibrary(AgentLibrary::Comm, kInitName);
    if (bound != ERROR_SUCCESS) {
        return bound;
    }
    // A failed creation leaves no event; every later wait then fails at once instead of blocking.
    server_up_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    client_ = std::make_unique<vorn::vorn_comm_client>(kSettingsClientNumber, "vorn");
    client_->register_notification_handler(this);
    const int started = client_->start_async();
    if (started != 0) {
        logging::WriteMessage(logging::LevelError, kInitName, L"failed to start vorn client. error [%d]", started);
        return static_cast<unsigned long>(started);
    }
    // Notification 4 may have gone out before this client registered, so ask once.
    if (client_->is_connected()) {
        logging::WriteMessage(logging::LevelTrace, kInitName, L"vorn is allready connected");
        SetEvent(server_up_.get());
    }
    return ERROR_SUCCESS;
}

void SettingsImpl::Uninit() {
    logging::TraceScope scope(kUninitName);
    if (client_ == nullptr) {
        return;
    }
    client_->stop();
    // The stopped client is let go of, not destroyed; the event keeps its state for a later Init to replace.
    (void)client_.release();
}

unsigned long SettingsImpl::Read(Settings::Record& out) {
    logging::TraceScope scope(kReadName);
    if (client_ == nullptr) {
        logging::WriteMessage(logging::LevelError, kReadName, L"no vorn client (Init not called, or Uninit called)");
        return ERROR_FUNCTION_FAILED;
    }
    vorn::command_result_impl result;
    const int sent = client_->send_command(kCommandGetSettings, nullptr, &result, kCommandTimeoutMs);
    if (sent != 0) {
        logging::WriteMessage(logging::LevelError, kReadName, L"send_command(get_settings) failed with error [%d]",
                              sent);
        return static_cast<unsigned long>(sent);
    }
    // The agent's own result code is informational: a document it sends is loaded whatever the code says.
    logging::WriteMessage(logging::LevelTrace, kReadName, L"result code[%d] with data: %S",
                          static_cast<int>(result.result_code()), result.data().c_str());
    Json::Value document;
    if (!JsonParse(document, result.data().c_str())) {
        logging::WriteMessage(logging::LevelError, kReadName, L"failed to parse settings json");
        return ERROR_FUNCTION_FAILED;
    }
    JsonComposedSerializer root(&document, "");
    if (!root.Load("conn", out.conn) || !root.Load("id", out.id)) {
        logging::WriteMessage(logging::LevelError, kReadName, L"failed to deserialize settings");
        return ERROR_FUNCTION_FAILED;
    }
    return ERROR_SUCCESS;
}

unsigned long SettingsImpl::Update(Settings::IData* data) {
    logging::TraceScope scope(kUpdateName);
    if (data == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The document is read directly, so only a data object of this module can be sent.
    const auto* change = dynamic_cast<const DataImpl*>(data);
    if (change == nullptr) {
        logging::WriteMessage(logging::LevelError, kUpdateName, L"the data object was not made by CreateData");
        return ERROR_INVALID_PARAMETER;
    }
    if (client_ == nullptr) {
        logging::WriteMessage(logging::LevelError, kUpdateName, L"no vorn client (Init not called, or Uninit called)");
        return ERROR_FUNCTION_FAILED;
    }
    const unsigned long waited = WaitVorn();
    if (waited != ERROR_SUCCESS) {
        return waited;
    }
    const std::string text = change->Document().toStyledString();
    logging::WriteMessage(logging::LevelTrace, kUpdateName, L"send vorn settings: %S", text.c_str());
    const int sent = client_->send_command(kCommandUpdateSettings, text.c_str(), nullptr, kCommandTimeoutMs);
    logging::WriteMessage(logging::LevelByResult(sent), kUpdateName, L"send_command result [%d]", sent);
    return static_cast<unsigned long>(sent);
}

Settings::IData* SettingsImpl::CreateData() { return new DataImpl(); }

void SettingsImpl::DestroyData(Settings::IData* data) { delete data; }

void SettingsImpl::on_notification(int id, const char* json) {
    logging::TraceScope scope(kNotificationName);
    logging::WriteMessage(logging::LevelTrace, kNotificationName, L"id[%d] json: %S", id, json != nullptr ? json : "");
    if (id == kNotificationServerUp) {
        logging::WriteMessage(logging::LevelTrace, kNotificationName, L"vorn server up");
        SetEvent(server_up_.get());
    } else if (id == kNotificationServerDown) {
        logging::WriteMessage(logging::LevelTrace, kNotificationName, L"vorn server down");
        ResetEvent(server_up_.get());
    }
}

unsigned long SettingsImpl::WaitVorn() { return WaitForServerUp(server_up_.get(), kServerUpTimeoutMs); }

}  // namespace Endpoint::Vorn::NG
