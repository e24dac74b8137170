// "Vorn.AL" through the plug-in as the host drives it, with a host of the test's own that journals what the
// loader asked of it, against the stand-in vorn.dll that records what the loader handed the agent.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/serv_plugin.h"
#include "service_host/host_interfaces.h"
#include "stand_ins/vorn/vorn_control.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"

namespace {

using namespace Endpoint::Vorn;
using Strings = std::vector<std::string>;
const std::wstring kInit = L"Endpoint::Vorn::NG::AL::Init";
const std::wstring kSetPreStart = L"Endpoint::Vorn::NG::AL::SetPreStartLoggerSettings";
const std::wstring kGetPlugin = L"ServPlugin<struct Product::ILoggerConfiguration>::GetPlugin";
const char kGet[] = "get Product.Configuration.Logger", kRelease[] = "release Product.Configuration.Logger";

Strings AgentCalls() {
    int calls[64];
    Strings names;
    for (unsigned long i = 0, n = VornControlGetCalls(calls, 64); i < n && i < 64; ++i) {
        names.push_back(Strings{"", "set_initial_log_config", "instance", "start_async", "stop"}.at(calls[i]));
    }
    return names;
}

// The host: its component manager hands out its logger plug-in, as scripted, and everything the loader asks of
// them goes into the journal; a (un)subscription also notes what the agent had been told last.
struct Host final : Product::IHost, Product::IComponentManager, Product::ILoggerConfiguration {
    void reserved0() override { ADD_FAILURE(); }
    void reserved1() override { ADD_FAILURE(); }
    void reserved2() override { ADD_FAILURE(); }
    void reserved4() override { ADD_FAILURE(); }
    Product::IComponentManager* GetComponentManager() override { return has_manager ? this : nullptr; }
    unsigned long get(const wchar_t* name, const GUID* iid, void** plugin) override {
        journal.push_back("get " + std::string(name, name + wcslen(name)));
        EXPECT_TRUE(SameInterfaceId(*iid, IID_ILoggerConfiguration));
        *plugin = hands_out ? static_cast<Product::ILoggerConfiguration*>(this) : *plugin;
        return status;
    }
    unsigned long release(const wchar_t* name) override {
        journal.push_back("release " + std::string(name, name + wcslen(name)));
        return ERROR_INVALID_FUNCTION;  // ignored, as every result of the host here
    }
    unsigned long fill(Product::LoggerSettings* settings) override {
        journal.push_back("fill");
        std::memcpy(seen, static_cast<const void*>(settings), sizeof(seen));
        seen_dir_capacity = settings->log_dir.GetCapacity();
        if (script) {
            script(*settings);
        }
        return ERROR_INVALID_FUNCTION;
    }
    unsigned long subscribe(IEvents* events, unsigned long reserved) override {
        journal.push_back("subscribe " + std::to_string(reserved) + " after " + AgentCalls().back());
        sink = events;
        return ERROR_INVALID_FUNCTION;
    }
    unsigned long unsubscribe(IEvents* events, unsigned long reserved) override {
        journal.push_back("unsubscribe " + std::to_string(reserved) + " after " + AgentCalls().back());
        EXPECT_EQ(events, sink);
        return ERROR_INVALID_FUNCTION;
    }

    bool has_manager = true, hands_out = true;
    unsigned long status = 0;
    std::function<void(Product::LoggerSettings&)> script;
    Strings journal;
    IEvents* sink = nullptr;
    unsigned char seen[64] = {};
    size_t seen_dir_capacity = 0;
};

class AlThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log_.Valid());
        // One shared instance, for the root interface as for its own; IBaseObject is not among its interfaces.
        void *base = nullptr, *refused = this;
        ASSERT_EQ(plugin_.Create(L"Vorn.AL", IID_IServPlugin, reinterpret_cast<void**>(&al_)), 0u);
        ASSERT_EQ(plugin_.Create(L"Vorn.AL", IID_IQvBaseInterface, &base), 0u);
        plugin_.Destroy(L"Vorn.AL", base);
        EXPECT_EQ(plugin_.Create(L"Vorn.AL", IID_IBaseObject, &refused), static_cast<unsigned long>(ERROR_NOT_FOUND));
        EXPECT_EQ(std::make_tuple(base, refused, al_->QueryInterface(IID_IService)),
                  std::make_tuple(al_, nullptr, nullptr));
        Reset();
    }
    void TearDown() override { plugin_.Destroy(L"Vorn.AL", al_); }
    void Reset() {
        host_.journal.clear();
        host_.sink = nullptr;
        log_.Clear();
        VornControlReset();
    }

    PluginLoader plugin_;
    StandInLogApi log_{GetModuleHandleW(L"log.dll")};
    IServPlugin* al_ = nullptr;
    Host host_;
};

TEST_F(AlThroughPlugin, EachInitHandsTheHostsLoggerSettingsToTheAgentBeforeTheServiceObjectIsMade) {
    const struct {
        bool fills;
        std::uint8_t enabled;
        std::int32_t mask, max_size;
        const wchar_t* dir;
        const char* level;
    } cases[] = {
        {false, 0, 0, 10240, L"", "off"},  // the host fills nothing: the defaults go on
        {true, 1, 0x3F, 4096, L"C:\\Host Logs", "trace"},
        {true, 1, 0x1C, 1, L"x", "info"},
        {true, 1, 0x0C, 0, L"", "warning"},
        {true, 0xFF, 0x04, -1, L"D:\\", "error"},
        {true, 1, 0x02, 7, L"x", "critical"},
        {true, 1, 0x01, 7, L"x", "critical"},
        {true, 1, 0x00, 7, L"x", "off"},
        {true, 1, 0xC0, 7, L"x", "off"},
        {true, 0, 0x3F, 7, L"x", "off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "enabled " << int(c.enabled) << ", mask " << c.mask);
        host_.script = [&c](Product::LoggerSettings& s) {
            if (c.fills) {
                std::tie(s.enabled, s.level_mask, s.max_size) = std::make_tuple(c.enabled, c.mask, c.max_size);
                s.log_dir = c.dir;
                s.reserved12 = s.reserved24 = s.reserved28 = s.reserved32 = s.reserved40 = 9;  // not read
            }
        };
        Reset();
        EXPECT_EQ(al_->Init(&host_), 0u);
        // Every Init after the first gives the plug-in back before it asks for it again.
        EXPECT_EQ(host_.journal, (&c == cases ? Strings{kGet, "fill"} : Strings{kRelease, kGet, "fill"}));
        EXPECT_EQ(AgentCalls(), (Strings{"set_initial_log_config", "instance"}));
        VornControlLogConfig config{};
        ASSERT_EQ(VornControlGetLogConfig(&config), 1);
        const std::string dir(c.dir, c.dir + wcslen(c.dir));
        EXPECT_EQ(std::make_tuple(config.level.text, config.log_dir.is_null, config.log_dir.text, config.max_size,
                                  config.max_files, config.reserved.is_null),
                  std::make_tuple(std::string(c.level), 0, dir, c.max_size, 1, 1));
        const std::string line = std::string("Set initial vorn log settings: level[") + c.level + "] dir_path [" + dir +
                                 "] max_size[" + std::to_string(c.max_size) + "] max_files[1]";
        EXPECT_EQ(Messages(WrittenLines(log_)),
                  (std::vector<LogLine>{{0x20, kSetPreStart, std::wstring(line.begin(), line.end())}}));
    }
    // What the host found in the record before it wrote into it: the loader's defaults, byte for byte.
    std::uint32_t words[10];
    std::memcpy(words, host_.seen, sizeof(words));
    EXPECT_EQ(std::vector<std::uint32_t>({host_.seen[0], words[2], words[3], words[6], words[7], words[8], words[9]}),
              std::vector<std::uint32_t>({0, 10240, 0, 0, 0, 1, 7}));
    EXPECT_EQ(std::vector<int>(host_.seen + 40, host_.seen + 50), std::vector<int>({1, 0, 0, 0, 1, 0, 1, 1, 1, 1}));
    EXPECT_EQ(host_.seen_dir_capacity, 64u);
}

TEST_F(AlThroughPlugin, StartStopAndUnInitReachTheAgentAndTheHostsPluginInOrder) {
    const LogLine no_config{0x08, kInit, L"failed to get logger config."};
    const LogLine no_manager{0x04, kGetPlugin, L"Null component manager"};
    const LogLine refused{0x08, kGetPlugin, L"Error 5 getting plugin \"Product.Configuration.Logger\""};
    const LogLine config{0x20, kSetPreStart,
                         L"Set initial vorn log settings: level[off] dir_path [] max_size[10240] max_files[1]"};
    const Strings held{kGet, "fill", "subscribe 0 after start_async", "unsubscribe 0 after stop"};
    const Strings configured{"set_initial_log_config", "instance", "instance", "start_async", "instance", "stop"};
    const Strings unconfigured(configured.begin() + 1, configured.end());
    const char* with_plugin = "Init SetPreStartLoggerSettings Start OnSettingsChanged Stop UnInit UnInit";
    const char* without = "Init Start Stop UnInit UnInit";
    const struct {
        bool host, has_manager, hands_out;
        unsigned long status;
        std::vector<LogLine> messages;
        Strings journal, agent_calls;
        const char* traced;  // the operations entered, in order
    } cases[] = {
        {true, true, true, 0, {config}, {held[0], held[1], held[2], held[3], kRelease}, configured, with_plugin},
        {false, true, true, 0, {no_manager, no_config}, {}, unconfigured, without},
        {true, false, true, 0, {no_manager, no_config}, {}, unconfigured, without},
        {true, true, false, ERROR_ACCESS_DENIED, {refused, no_config}, {kGet}, unconfigured, without},
        // Whatever a refusing manager leaves in the out-pointer is used, but never given back to it.
        {true, true, true, ERROR_ACCESS_DENIED, {refused, config}, held, configured, with_plugin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Reset();
        std::tie(host_.has_manager, host_.hands_out, host_.status) =
            std::make_tuple(c.has_manager, c.hands_out, c.status);
        EXPECT_EQ(al_->Init(c.host ? &host_ : nullptr), 0u);
        EXPECT_EQ(al_->Start(), 0u);
        // A change of the host's settings is traced and reaches nothing.
        EXPECT_EQ(host_.sink != nullptr ? host_.sink->OnSettingsChanged() : 0u, 0u);
        al_->Stop();
        al_->UnInit();
        al_->UnInit();
        EXPECT_EQ(host_.journal, c.journal);
        EXPECT_EQ(AgentCalls(), c.agent_calls);
        const auto lines = WrittenLines(log_);
        EXPECT_EQ(Messages(lines), c.messages);
        std::wstring traced;
        for (const LogLine& line : Traces(lines)) {
            const std::wstring name = line.function.substr(line.function.rfind(L':') + 1);
            traced += line == TraceEntry(line.function) ? (traced.empty() ? L"" : L" ") + name : L"";
        }
        EXPECT_EQ(traced, std::wstring(c.traced, c.traced + std::strlen(c.traced)));
    }
}

}  // namespace
