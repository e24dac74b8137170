// Endpoint::Vorn::NG::AL ("Vorn.AL"): runs the agent service of vorn.dll inside the host's process, with the
// host's logger settings as the agent's initial logging settings.
#pragma once

#include "interfaces/serv_plugin.h"
#include "service_host/host_interfaces.h"
#include "service_host/plugin_holder.h"
#include "support/logging/log_handle.h"

namespace Endpoint::Vorn::NG {

// One per process, shared by every holder through the singleton declaration, which deletes it as an AL: hence
// final and without a virtual destructor (neither of the host's tables has a destructor slot).
//
// No lock: the host runs Init, Start, Stop and UnInit one at a time. OnSettingsChanged may come on any host
// thread and touches no state.
class AL final : public IServPlugin, public Product::ILoggerConfiguration::IEvents {
public:
    AL();

    // IQvBaseInterface and IServPlugin, each answered with the object itself; nothing else.
    void* QueryInterface(const GUID& iid) override;
    unsigned long Init(Product::IHost* host) override;
    void UnInit() override;
    unsigned long Start() override;
    void Stop() override;

    unsigned long OnSettingsChanged() override;

    // Hands the record to vorn.dll as the agent's initial log configuration. Must come before the agent's
    // service object is first made, which is when the agent reads it.
    static void SetPreStartLoggerSettings(const Product::LoggerSettings& settings);

private:
    ServPlugin<Product::ILoggerConfiguration> logger_;
    logging::LogHandle log_;
};

}  // namespace Endpoint::Vorn::NG
