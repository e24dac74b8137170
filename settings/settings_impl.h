// SettingsImpl ("Vorn.Settings"): reads the agent's settings and sends changes once the agent's server is up.
//
// The manager owns one vorn_comm_client (client number 12) and listens to its notifications: 4 (server up)
// signals a manual-reset event, 5 (server down) resets it. Update waits on that event before it sends; Read
// does not wait, so with the agent unreachable it fails with the agent library's own error instead.
//
// There is no lock. Notifications touch only the event, which is safe against a concurrent wait; Init, Uninit
// and destruction replace or clear the fields, so the host must not run them while a Read or Update is running.
#pragma once

#include <memory>

#include "agent_link/comm_client.h"
#include "interfaces/settings_manager.h"
#include "support/logging/log_handle.h"
#include "support/unique_resource.h"

namespace Endpoint::Vorn::NG {

// How long an update waits for the agent's server.
constexpr unsigned long kServerUpTimeoutMs = 6000000;
// How long the agent may take to answer a command.
constexpr int kCommandTimeoutMs = 15000;
constexpr int kSettingsClientNumber = 12;
constexpr int kCommandGetSettings = 1;
constexpr int kCommandUpdateSettings = 2;
constexpr int kNotificationServerUp = 4;
constexpr int kNotificationServerDown = 5;

class SettingsImpl final : public Settings::IManager, public vorn::notification_handler {
public:
    SettingsImpl();
    ~SettingsImpl() override;
    SettingsImpl(const SettingsImpl&) = delete;
    SettingsImpl& operator=(const SettingsImpl&) = delete;

    // IQvBaseInterface, IBaseObject and Settings::IManager, each answered with the object itself.
    void* QueryInterface(const GUID& iid) override;

    unsigned long Init() override;
    void Uninit() override;
    unsigned long Read(Settings::Record& out) override;
    unsigned long Update(Settings::IData* data) override;
    Settings::IData* CreateData() override;
    void DestroyData(Settings::IData* data) override;

    void on_notification(int id, const char* json) override;

private:
    // 0 when the server-up event is signalled within kServerUpTimeoutMs, else the raw wait result (WAIT_TIMEOUT,
    // or WAIT_FAILED when Init could not create the event).
    unsigned long WaitVorn();

    qv::UniqueHandle server_up_;
    CommClient client_;
    logging::LogHandle log_;
};

}  // namespace Endpoint::Vorn::NG
