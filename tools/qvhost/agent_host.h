// The host's side of "Vorn.AL": the host pointer, its component manager, and the logger-configuration plug-in
// that fills the host's real logger settings; and the agent loader's life cycle as a host drives it.
#pragma once

#include <string>

#include "interfaces/serv_plugin.h"
#include "service_host/host_interfaces.h"
#include "tools/qvhost/plugin.h"

namespace qvhost {

// Info and above, one 10 MB file in a "logs" folder beside the tool: what a host configured for support
// would hand out.
class ToolLogger final : public Product::ILoggerConfiguration {
public:
    explicit ToolLogger(bool verbose) : verbose_(verbose) {}
    void reserved0() override {}
    void reserved1() override {}
    void reserved2() override {}
    void reserved4() override {}
    unsigned long fill(Product::LoggerSettings* settings) override;
    unsigned long subscribe(IEvents* sink, unsigned long reserved) override;
    unsigned long unsubscribe(IEvents* sink, unsigned long reserved) override;

private:
    const bool verbose_;
};

// Offers the one plug-in the agent loader asks for, "Product.Configuration.Logger".
class ToolManager final : public Product::IComponentManager {
public:
    explicit ToolManager(bool verbose) : logger_(verbose) {}
    unsigned long get(const wchar_t* plugin_name, const GUID* iid, void** plugin) override;
    unsigned long release(const wchar_t* plugin_name) override;

private:
    ToolLogger logger_;
};

class ToolHost final : public Product::IHost {
public:
    explicit ToolHost(bool verbose) : manager_(verbose) {}
    void reserved0() override {}
    Product::IComponentManager* GetComponentManager() override { return &manager_; }

private:
    ToolManager manager_;
};

// "Vorn.AL" with this tool's host: Init and Start on Run, Stop and UnInit on Halt or when the owner goes. The
// stand-in vorn.dll runs the simulated agent in this process while it is started, serving the folder that
// VORN_AGENT_DIR names. Not verbose, it tells only what went wrong.
class AgentLoader {
public:
    explicit AgentLoader(const Plugin& plugin, bool verbose = true);
    ~AgentLoader() { Halt(); }
    AgentLoader(const AgentLoader&) = delete;
    AgentLoader& operator=(const AgentLoader&) = delete;

    // False when "Vorn.AL" is not available or the agent's pipe does not answer.
    bool Run(const std::wstring& pipe_name);
    void Halt();

private:
    const bool verbose_;
    ToolHost host_;
    Object<IServPlugin> loader_;
    bool initialised_ = false;
};

// The pipe the simulated agent serves and the connected clients use.
std::wstring AgentPipeName();

}  // namespace qvhost
