// The host's interfaces as a host binary calls them: by slot number through the vtable, not by name.
#include <gtest/gtest.h>

#include <string>

#include "interfaces/interface_ids.h"
#include "service_host/host_interfaces.h"

namespace {

// Calls slot `slot` of `object`'s vtable the way a caller compiled against the host's own headers does.
template <typename Result, typename... Args>
Result CallSlot(void* object, int slot, Args... args) {
    using Fn = Result (*)(void*, Args...);
    void** vtable = *static_cast<void***>(object);
    return reinterpret_cast<Fn>(vtable[slot])(object, args...);
}

std::string g_called;

struct Manager final : Product::IComponentManager {
    unsigned long get(const wchar_t*, const GUID*, void**) override {
        g_called = "get";
        return 10;
    }
    unsigned long release(const wchar_t*) override {
        g_called = "release";
        return 11;
    }
};

struct Host final : Product::IHost {
    void reserved0() override { g_called = "reserved0"; }
    Product::IComponentManager* GetComponentManager() override {
        g_called = "GetComponentManager";
        return &manager;
    }
    Manager manager;
};

struct Events final : Product::ILoggerConfiguration::IEvents {
    unsigned long OnSettingsChanged() override {
        g_called = "OnSettingsChanged";
        return 0;
    }
};

struct LoggerConfiguration final : Product::ILoggerConfiguration {
    void reserved0() override { g_called = "reserved0"; }
    void reserved1() override { g_called = "reserved1"; }
    void reserved2() override { g_called = "reserved2"; }
    unsigned long fill(Product::LoggerSettings* settings) override {
        g_called = "fill";
        settings->level_mask = 0x3F;
        return 3;
    }
    void reserved4() override { g_called = "reserved4"; }
    unsigned long subscribe(IEvents*, unsigned long) override {
        g_called = "subscribe";
        return 5;
    }
    unsigned long unsubscribe(IEvents*, unsigned long) override {
        g_called = "unsubscribe";
        return 6;
    }
};

TEST(HostInterfaces, CalledOperationsSitInTheHostsSlots) {
    Host host;
    EXPECT_EQ(CallSlot<Product::IComponentManager*>(static_cast<Product::IHost*>(&host), 1), &host.manager);
    EXPECT_EQ(g_called, "GetComponentManager");

    void* plugin = nullptr;
    const GUID iid = Endpoint::Vorn::IID_ILoggerConfiguration;
    EXPECT_EQ((CallSlot<unsigned long, const wchar_t*, const GUID*, void**>(
                  static_cast<Product::IComponentManager*>(&host.manager), 0, L"Product.Configuration.Logger", &iid,
                  &plugin)),
              10u);
    EXPECT_EQ(g_called, "get");
    EXPECT_EQ((CallSlot<unsigned long, const wchar_t*>(static_cast<Product::IComponentManager*>(&host.manager), 1,
                                                       L"Product.Configuration.Logger")),
              11u);
    EXPECT_EQ(g_called, "release");

    LoggerConfiguration logger;
    void* as_interface = static_cast<Product::ILoggerConfiguration*>(&logger);
    Product::LoggerSettings settings{};
    EXPECT_EQ((CallSlot<unsigned long, Product::LoggerSettings*>(as_interface, 3, &settings)), 3u);
    EXPECT_EQ(g_called, "fill");
    EXPECT_EQ(settings.level_mask, 0x3F);
    Events events;
    Product::ILoggerConfiguration::IEvents* sink = &events;
    EXPECT_EQ(
        (CallSlot<unsigned long, Product::ILoggerConfiguration::IEvents*, unsigned long>(as_interface, 5, sink, 0ul)),
        5u);
    EXPECT_EQ(g_called, "subscribe");
    EXPECT_EQ(
        (CallSlot<unsigned long, Product::ILoggerConfiguration::IEvents*, unsigned long>(as_interface, 6, sink, 0ul)),
        6u);
    EXPECT_EQ(g_called, "unsubscribe");

    EXPECT_EQ(CallSlot<unsigned long>(static_cast<void*>(sink), 0), 0u);
    EXPECT_EQ(g_called, "OnSettingsChanged");
}

}  // namespace
