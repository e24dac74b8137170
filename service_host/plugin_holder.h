// ServPlugin<T>: holds one of the host's plug-ins, obtained by name from the host's component manager.
#pragma once

#include <guiddef.h>

#include "interfaces/interface_ids.h"
#include "service_host/host_interfaces.h"
#include "support/logging/log_message.h"
#include "support/strings/qv_string.h"

// What a ServPlugin needs to know about the host interface it holds: the ID asked for, and the name its
// messages are written under (the host's tools group plug-in failures by that name).
template <typename Plugin>
struct ServPluginTraits;

template <>
struct ServPluginTraits<Product::ILoggerConfiguration> {
    static constexpr const GUID& kInterfaceId = Endpoint::Vorn::IID_ILoggerConfiguration;
    static constexpr const wchar_t* kGetPluginName = L"ServPlugin<struct Product::ILoggerConfiguration>::GetPlugin";
};

// The manager is remembered only when it handed the plug-in out: the plug-in must go back to the manager it
// came from, and only then.
template <typename Plugin>
class ServPlugin {
public:
    static constexpr size_t kNameCapacity = 64;

    explicit ServPlugin(const wchar_t* name) : name_(kNameCapacity) { name_ = name; }
    ~ServPlugin() { Release(); }
    ServPlugin(const ServPlugin&) = delete;
    ServPlugin& operator=(const ServPlugin&) = delete;

    // Gives back a plug-in still held, then asks `manager` (may be null) for it again. Returns the plug-in, or
    // null when none was obtained.
    Plugin* GetPlugin(Product::IComponentManager* manager) {
        Release();
        if (manager != nullptr) {
            // The host writes through an untyped out-pointer; whatever it leaves there is kept, as the host
            // may hand out the interface even with a failure status.
            void* obtained = plugin_;
            const unsigned long status =
                manager->get(name_.GetString(), &ServPluginTraits<Plugin>::kInterfaceId, &obtained);
            plugin_ = static_cast<Plugin*>(obtained);
            if (status == 0) {
                manager_ = manager;
            } else {
                logging::WriteMessage(logging::LevelWarning, ServPluginTraits<Plugin>::kGetPluginName,
                                      L"Error %d getting plugin \"%s\"", static_cast<int>(status), name_.GetString());
            }
        } else {
            logging::WriteMessage(logging::LevelError, ServPluginTraits<Plugin>::kGetPluginName,
                                  L"Null component manager");
        }
        return plugin_;
    }

    // Gives the plug-in back to the manager it came from, if one is held.
    void Release() {
        if (plugin_ == nullptr) {
            return;
        }
        if (manager_ != nullptr) {
            (void)manager_->release(name_.GetString());
        }
        manager_ = nullptr;
        plugin_ = nullptr;
    }

    Plugin* Get() const { return plugin_; }

private:
    Product::IComponentManager* manager_ = nullptr;
    Plugin* plugin_ = nullptr;
    qv::WString name_;
};
