// "Vorn.AL" through the plug-in as the host drives it, with a host of the test's own that records what the
// loader asked of it, against the stand-in vorn.dll that records what the loader handed the agent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/serv_plugin.h"
#include "service_host/host_interfaces.h"
#include "stand_ins/vorn/vorn_control.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"

namespace {

using Endpoint::Vorn::SameInterfaceId;

const std::wstring kInit = L"Endpoint::Vorn::NG::AL::Init";
const std::wstring kSetPreStart = L"Endpoint::Vorn::NG::AL::SetPreStartLoggerSettings";
const std::wstring kGetPlugin = L"ServPlugin<struct Product::ILoggerConfiguration>::GetPlugin";

// Everything the host was asked, in order, as one journal.
std::vector<std::string> g_journal;

std::string Narrow(const wchar_t* text) { return text == nullptr ? "(null)" : std::string(text, text + wcslen(text)); }

// The record as the host found it before writing into it.
struct SeenRecord {
    unsigned char bytes[64];
    size_t dir_length;
    size_t dir_capacity;
};

struct Logger final : Product::ILoggerConfiguration {
    void reserved0() override { ADD_FAILURE() << "slot 0 called"; }
    void reserved1() override { ADD_FAILURE() << "slot 1 called"; }
    void reserved2() override { ADD_FAILURE() << "slot 2 called"; }
    void reserved4() override { ADD_FAILURE() << "slot 4 called"; }
    unsigned long fill(Product::LoggerSettings* settings) override {
        g_journal.push_back("fill");
        std::memcpy(seen.bytes, static_cast<const void*>(settings), sizeof(seen.bytes));
        seen.dir_length = settings->log_dir.GetLength();
        seen.dir_capacity = settings->log_dir.GetCapacity();
        if (script) {
            script(*settings);
        }
        return ERROR_INVALID_FUNCTION;  // ignored
    }
    unsigned long subscribe(IEvents* sink, unsigned long reserved) override {
        g_journal.push_back("subscribe " + std::to_string(reserved));
        subscribed = sink;
        return ERROR_INVALID_FUNCTION;
    }
    unsigned long unsubscribe(IEvents* sink, unsigned long reserved) override {
        g_journal.push_back("unsubscribe " + std::to_string(reserved));
        unsubscribed = sink;
        return ERROR_INVALID_FUNCTION;
    }

    std::function<void(Product::LoggerSettings&)> script;
    SeenRecord seen{};
    IEvents* subscribed = nullptr;
    IEvents* unsubscribed = nullptr;
};

struct Manager final : Product::IComponentManager {
    unsigned long get(const wchar_t* name, const GUID* iid, void** plugin) override {
        g_journal.push_back("get " + Narrow(name));
        EXPECT_TRUE(iid != nullptr && SameInterfaceId(*iid, Endpoint::Vorn::IID_ILoggerConfiguration));
        if (status == 0) {
            *plugin = static_cast<Product::ILoggerConfiguration*>(&logger);
        }
        return status;
    }
    unsigned long release(const wchar_t* name) override {
        g_journal.push_back("release " + Narrow(name));
        return ERROR_INVALID_FUNCTION;
    }

    unsigned long status = 0;
    Logger logger;
};

struct Host final : Product::IHost {
    void reserved0() override { ADD_FAILURE() << "slot 0 called"; }
    Product::IComponentManager* GetComponentManager() override { return manager; }
    Product::IComponentManager* manager = nullptr;
};

std::vector<int> VornCalls() {
    std::vector<int> calls(64);
    calls.resize(VornControlGetCalls(calls.data(), static_cast<unsigned long>(calls.size())));
    return calls;
}

VornControlCounts VornCounts() {
    VornControlCounts counts{};
    VornControlGetCounts(&counts);
    return counts;
}

class AlThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.Loaded());
        ASSERT_TRUE(log_.Valid()) << "the plug-in did not bind the stand-in log.dll beside it";
        host_.manager = &manager_;
        Reset();
    }

    void TearDown() override {
        while (outstanding_ > 0) {
            Destroy();
        }
    }

    void Reset() {
        g_journal.clear();
        log_.Clear();
        VornControlReset();
    }

    IServPlugin* Create() {
        void* object = nullptr;
        EXPECT_EQ(plugin_.Create(L"Vorn.AL", Endpoint::Vorn::IID_IServPlugin, &object), 0u);
        outstanding_ += object != nullptr ? 1 : 0;
        return static_cast<IServPlugin*>(object);
    }

    void Destroy() {
        --outstanding_;
        plugin_.Destroy(L"Vorn.AL", nullptr);
    }

    VornControlLogConfig Config() {
        VornControlLogConfig config{};
        EXPECT_EQ(VornControlGetLogConfig(&config), 1) << "set_initial_log_config was not called";
        return config;
    }

    PluginLoader plugin_;
    StandInLogApi log_{GetModuleHandleW(L"log.dll")};
    Manager manager_;
    Host host_;
    int outstanding_ = 0;
};

TEST_F(AlThroughPlugin, EveryCreateSharesOneInstanceThatTheLastDestroyDeletes) {
    IServPlugin* first = Create();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Create(), first);
    void* base = nullptr;
    EXPECT_EQ(plugin_.Create(L"Vorn.AL", Endpoint::Vorn::IID_IQvBaseInterface, &base), 0u);
    ++outstanding_;
    EXPECT_EQ(base, first);
    void* refused = first;
    EXPECT_EQ(plugin_.Create(L"Vorn.AL", Endpoint::Vorn::IID_IBaseObject, &refused),
              static_cast<unsigned long>(ERROR_NOT_FOUND));
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(first->QueryInterface(Endpoint::Vorn::IID_IService), nullptr);

    // The held plug-in goes back with the instance, so the release shows when the instance is deleted.
    EXPECT_EQ(first->Init(&host_), 0u);
    g_journal.clear();
    Destroy();
    Destroy();
    EXPECT_THAT(g_journal, testing::IsEmpty());
    Destroy();
    EXPECT_THAT(g_journal, testing::ElementsAre("release Product.Configuration.Logger"));
}

TEST_F(AlThroughPlugin, HandsTheHostsSettingsToTheAgentBeforeTheServiceObjectIsMade) {
    struct Case {
        std::uint8_t enabled;
        std::int32_t mask;
        std::int32_t max_size;
        const wchar_t* dir;
        const char* level;
        const char* dir_utf8;
    };
    const Case cases[] = {
        {1, 0x3F, 4096, L"C:\\Logs", "trace", "C:\\Logs"},
        {1, 0x0C, 1, L"C:\\Logs\\Zo\u00EB", "warning", "C:\\Logs\\Zo\xC3\xAB"},
        {1, 0x10, 0, L"", "info", ""},
        {0xFF, 0x04, -1, L"D:\\", "error", "D:\\"},
        {1, 0x02, 10240, L"x", "critical", "x"},
        {1, 0x01, 10240, L"x", "critical", "x"},
        {1, 0x00, 10240, L"x", "off", "x"},
        {1, 0xC0, 10240, L"x", "off", "x"},
        {0, 0x3F, 10240, L"x", "off", "x"},
    };
    IServPlugin* al = Create();
    ASSERT_NE(al, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "enabled " << int(c.enabled) << ", mask 0x" << std::hex << c.mask);
        Reset();
        manager_.logger.script = [&c](Product::LoggerSettings& settings) {
            settings.enabled = c.enabled;
            settings.level_mask = c.mask;
            settings.max_size = c.max_size;
            settings.log_dir = c.dir;
            // Whatever the host keeps in the fields the loader does not read changes nothing.
            settings.reserved12 = settings.reserved24 = settings.reserved28 = settings.reserved32 = 9;
            settings.reserved40 = 9;
        };
        EXPECT_EQ(al->Init(&host_), 0u);
        const VornControlLogConfig config = Config();
        EXPECT_STREQ(config.level.text, c.level);
        EXPECT_EQ(config.log_dir.is_null, 0);
        EXPECT_STREQ(config.log_dir.text, c.dir_utf8);
        EXPECT_EQ(config.max_size, c.max_size);
        EXPECT_EQ(config.max_files, 1);
        EXPECT_EQ(config.reserved.is_null, 1);
        EXPECT_EQ(VornCalls(), (std::vector<int>{VORN_CALL_SET_INITIAL_LOG_CONFIG, VORN_CALL_INSTANCE}));
        al->UnInit();
    }
}

TEST_F(AlThroughPlugin, HostThatFillsNothingGetsTheDefaultsPassedOn) {
    IServPlugin* al = Create();
    ASSERT_NE(al, nullptr);
    EXPECT_EQ(al->Init(&host_), 0u);

    const SeenRecord& seen = manager_.logger.seen;
    auto u32 = [&seen](size_t offset) {
        std::uint32_t value;
        std::memcpy(&value, seen.bytes + offset, sizeof(value));
        return value;
    };
    EXPECT_EQ(seen.bytes[0], 0);
    EXPECT_EQ(u32(8), 10240u);
    EXPECT_EQ(u32(12), 0u);
    EXPECT_EQ(seen.dir_length, 0u);
    EXPECT_EQ(seen.dir_capacity, 64u);
    EXPECT_EQ(u32(24), 0u);
    EXPECT_EQ(u32(28), 0u);
    EXPECT_EQ(u32(32), 1u);
    EXPECT_EQ(u32(36), 7u);
    EXPECT_EQ(u32(40), 1u);
    EXPECT_THAT(std::vector<int>(seen.bytes + 44, seen.bytes + 50), testing::ElementsAre(1, 0, 1, 1, 1, 1));

    const VornControlLogConfig config = Config();
    EXPECT_STREQ(config.level.text, "off");
    EXPECT_EQ(config.log_dir.is_null, 0);
    EXPECT_STREQ(config.log_dir.text, "");
    EXPECT_EQ(config.max_size, 10240);
    EXPECT_EQ(config.max_files, 1);
    EXPECT_EQ(config.reserved.is_null, 1);
    EXPECT_THAT(g_journal, testing::ElementsAre("get Product.Configuration.Logger", "fill"));
}

TEST_F(AlThroughPlugin, InitTracesItselfAndTheSettingsItPassesOn) {
    IServPlugin* al = Create();
    ASSERT_NE(al, nullptr);
    manager_.logger.script = [](Product::LoggerSettings& settings) {
        settings.enabled = 1;
        settings.level_mask = 0x1C;
        settings.max_size = 2048;
        settings.log_dir = L"C:\\Host Logs";
    };
    al->Init(&host_);
    EXPECT_THAT(WrittenLines(log_),
                testing::ElementsAre(TraceEntry(kInit), TraceEntry(kSetPreStart),
                                     LogLine{0x20, kSetPreStart,
                                             L"Set initial vorn log settings: level[info] dir_path [C:\\Host Logs] "
                                             L"max_size[2048] max_files[1]"},
                                     TraceExit(kSetPreStart), TraceExit(kInit)));

    const std::wstring others[] = {L"Endpoint::Vorn::NG::AL::Start", L"Endpoint::Vorn::NG::AL::Stop",
                                   L"Endpoint::Vorn::NG::AL::UnInit"};
    log_.Clear();
    al->Start();
    al->Stop();
    al->UnInit();
    EXPECT_THAT(WrittenLines(log_),
                testing::ElementsAre(TraceEntry(others[0]), TraceExit(others[0]), TraceEntry(others[1]),
                                     TraceExit(others[1]), TraceEntry(others[2]), TraceExit(others[2])));
}

TEST_F(AlThroughPlugin, WithoutTheLoggerPluginTheAgentKeepsItsOwnDefaults) {
    Host no_manager;
    Manager refusing;
    refusing.status = ERROR_ACCESS_DENIED;
    Host refused;
    refused.manager = &refusing;
    const LogLine failed{0x08, kInit, L"failed to get logger config."};
    const struct {
        const char* what;
        Product::IHost* host;
        LogLine first;
        std::vector<std::string> journal;
    } cases[] = {
        {"null host pointer", nullptr, {0x04, kGetPlugin, L"Null component manager"}, {}},
        {"host without manager", &no_manager, {0x04, kGetPlugin, L"Null component manager"}, {}},
        {"manager refuses",
         &refused,
         {0x08, kGetPlugin, L"Error 5 getting plugin \"Product.Configuration.Logger\""},
         {"get Product.Configuration.Logger"}},
    };
    IServPlugin* al = Create();
    ASSERT_NE(al, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        EXPECT_EQ(al->Init(c.host), 0u);
        EXPECT_THAT(Messages(WrittenLines(log_)), testing::ElementsAre(c.first, failed));
        EXPECT_EQ(VornCalls(), std::vector<int>{VORN_CALL_INSTANCE});
        // No plug-in held: starting and stopping reach the agent, the host hears of nothing.
        EXPECT_EQ(al->Start(), 0u);
        al->Stop();
        al->UnInit();
        EXPECT_EQ(VornCounts().start_async, 1u);
        EXPECT_EQ(VornCounts().stop, 1u);
        EXPECT_EQ(g_journal, c.journal);
    }
}

TEST_F(AlThroughPlugin, StartedLoaderIsRegisteredForChangesThatLeaveTheAgentAlone) {
    IServPlugin* al = Create();
    ASSERT_NE(al, nullptr);
    // Before Init there is no plug-in to register with.
    EXPECT_EQ(al->Start(), 0u);
    al->Stop();
    EXPECT_THAT(g_journal, testing::IsEmpty());
    EXPECT_EQ(VornCounts().start_async, 1u);

    Reset();
    al->Init(&host_);
    EXPECT_EQ(al->Start(), 0u);
    EXPECT_EQ(VornCounts().running, 1);
    Product::ILoggerConfiguration::IEvents* sink = manager_.logger.subscribed;
    ASSERT_NE(sink, nullptr);
    const std::vector<int> before = VornCalls();
    log_.Clear();
    EXPECT_EQ(sink->OnSettingsChanged(), 0u);
    EXPECT_EQ(VornCalls(), before);
    const std::wstring changed = L"Endpoint::Vorn::NG::AL::OnSettingsChanged";
    EXPECT_THAT(WrittenLines(log_), testing::ElementsAre(TraceEntry(changed), TraceExit(changed)));

    al->Stop();
    EXPECT_EQ(manager_.logger.unsubscribed, sink);
    EXPECT_EQ(VornCounts().running, 0);
    al->UnInit();
    al->UnInit();
    EXPECT_THAT(g_journal, testing::ElementsAre("get Product.Configuration.Logger", "fill", "subscribe 0",
                                                "unsubscribe 0", "release Product.Configuration.Logger"));
}

TEST_F(AlThroughPlugin, SecondInitGivesThePluginBackAndAppliesTheSettingsAgain) {
    IServPlugin* al = Create();
    ASSERT_NE(al, nullptr);
    int fills = 0;
    manager_.logger.script = [&fills](Product::LoggerSettings& settings) {
        settings.enabled = 1;
        settings.level_mask = ++fills == 1 ? 0x20 : 0x08;
    };
    al->Init(&host_);
    al->Init(&host_);
    EXPECT_THAT(g_journal,
                testing::ElementsAre("get Product.Configuration.Logger", "fill", "release Product.Configuration.Logger",
                                     "get Product.Configuration.Logger", "fill"));
    EXPECT_EQ(VornCalls(), (std::vector<int>{VORN_CALL_SET_INITIAL_LOG_CONFIG, VORN_CALL_INSTANCE,
                                             VORN_CALL_SET_INITIAL_LOG_CONFIG, VORN_CALL_INSTANCE}));
    EXPECT_STREQ(Config().level.text, "warning");
}

}  // namespace
