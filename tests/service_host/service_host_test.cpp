// The agent service host through the plug-in: "Vorn.AL" with a host of the test's own that journals what the loader
// asks of it, against the stand-in vorn.dll; "Vorn.Service" against the prefix's real service control manager and
// the stand-in VornHostService.exe, with what the plug-in asks Windows for journaled on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "equipment/environment.h"
#include "equipment/folders.h"
#include "equipment/log_records.h"
#include "equipment/plugin_loader.h"
#include "interfaces/interface_ids.h"
#include "interfaces/serv_plugin.h"
#include "interfaces/service.h"
#include "service_host/host_interfaces.h"
#include "stand_ins/vorn/vorn_control.h"
#include "tests/import_hook.h"
#include "tests/named_rows.h"

using namespace equipment;

namespace {

using namespace Endpoint::Vorn;
using Strings = std::vector<std::string>;
const std::wstring kInit = L"Endpoint::Vorn::NG::AL::Init";
const std::wstring kSetPreStart = L"Endpoint::Vorn::NG::AL::SetPreStartLoggerSettings";
const char kGet[] = "get Product.Configuration.Logger", kRelease[] = "release Product.Configuration.Logger";

Strings AgentCalls() {
    int calls[64];
    Strings names;
    for (unsigned long i = 0, n = VornControlGetCalls(calls, 64); i < n && i < 64; ++i) {
        names.push_back(Strings{"", "set_initial_log_config", "instance", "start_async", "stop"}.at(calls[i]));
    }
    return names;
}

// The host: its component manager hands out its logger plug-in as scripted, and every call of the loader goes
// into the journal; a (un)subscription also notes what the agent had been told last. Its results are ignored.
struct Host final : Product::IHost, Product::IComponentManager, Product::ILoggerConfiguration {
    void reserved0() override { ADD_FAILURE(); }
    void reserved1() override { ADD_FAILURE(); }
    void reserved2() override { ADD_FAILURE(); }
    void reserved4() override { ADD_FAILURE(); }
    Product::IComponentManager* GetComponentManager() override { return has_manager ? this : nullptr; }
    unsigned long get(const wchar_t* name, const GUID* iid, void** plugin) override {
        EXPECT_TRUE(SameInterfaceId(*iid, IID_ILoggerConfiguration));
        *plugin = hands_out ? static_cast<Product::ILoggerConfiguration*>(this) : *plugin;
        return Note("get " + std::string(name, name + wcslen(name)), status);
    }
    unsigned long release(const wchar_t* name) override {
        return Note("release " + std::string(name, name + wcslen(name)));
    }
    unsigned long fill(Product::LoggerSettings* settings) override {
        std::memcpy(seen, static_cast<const void*>(settings), sizeof(seen));
        seen_dir_capacity = settings->log_dir.GetCapacity();
        script(*settings);
        return Note("fill");
    }
    unsigned long subscribe(IEvents* events, unsigned long reserved) override {
        sink = events;
        return Note("subscribe " + std::to_string(reserved) + " after " + AgentCalls().back());
    }
    unsigned long unsubscribe(IEvents* events, unsigned long reserved) override {
        EXPECT_EQ(events, sink);
        return Note("unsubscribe " + std::to_string(reserved) + " after " + AgentCalls().back());
    }
    unsigned long Note(const std::string& call, unsigned long result = ERROR_INVALID_FUNCTION) {
        journal.push_back(call);
        return result;
    }

    bool has_manager = true, hands_out = true;
    unsigned long status = 0;
    std::function<void(Product::LoggerSettings&)> script = [](Product::LoggerSettings&) {};
    Strings journal;
    IEvents* sink = nullptr;
    unsigned char seen[64] = {};
    size_t seen_dir_capacity = 0;
};

class AlThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        // Made for the root interface; IBaseObject is not among its interfaces.
        void* refused = this;
        ASSERT_TRUE(log_.Valid());
        ASSERT_EQ(plugin_.Create(L"Vorn.AL", IID_IQvBaseInterface, reinterpret_cast<void**>(&al_)), 0u);
        EXPECT_EQ(plugin_.Create(L"Vorn.AL", IID_IBaseObject, &refused), static_cast<unsigned long>(ERROR_NOT_FOUND));
        EXPECT_EQ(std::make_tuple(refused, al_->QueryInterface(IID_IService)), std::make_tuple(nullptr, nullptr));
    }
    void TearDown() override { plugin_.Destroy(L"Vorn.AL", al_); }
    void Reset() {
        std::tie(host_.journal, host_.sink) = std::make_tuple(Strings{}, nullptr);
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
        const char* name;
        bool fills;
        std::uint8_t enabled;
        std::int32_t mask, max_size;
        const wchar_t* dir;
        const char* level;
    } cases[] = {
        {"the host fills nothing: the defaults go on", false, 0, 0, 10240, L"", "off"},
        {"every level", true, 1, 0x3F, 4096, L"C:\\Host Logs", "trace"},
        {"info and above", true, 1, 0x1C, 1, L"x", "info"},
        {"warning and above", true, 1, 0x0C, 0, L"", "warning"},
        {"any enabled byte but 0 enables", true, 0xFF, 0x04, -1, L"D:\\", "error"},
        {"critical alone", true, 1, 0x01, 7, L"x", "critical"},
        {"bits above 0x20 play no part", true, 1, 0xC0, 7, L"x", "off"},
        {"disabled", true, 0, 0x3F, 7, L"x", "off"},
    };
    ForEachRow(cases, [&](const auto& c) {
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
        EXPECT_EQ(
            std::make_tuple(config.level.text, config.log_dir.is_null, config.log_dir.text, config.max_size,
                            config.max_files, config.reserved.is_null),
            std::make_tuple(std::string(c.level), 0, std::string(c.dir, c.dir + wcslen(c.dir)), c.max_size, 1, 1));
    });
    // What the host found in the record before it wrote into it: the loader's defaults, byte for byte.
    std::uint32_t words[10];
    std::memcpy(words, host_.seen, sizeof(words));
    EXPECT_EQ(std::vector<std::uint32_t>({host_.seen[0], words[2], words[3], words[6], words[7], words[8], words[9]}),
              std::vector<std::uint32_t>({0, 10240, 0, 0, 0, 1, 7}));
    EXPECT_EQ(std::vector<int>(host_.seen + 40, host_.seen + 50), std::vector<int>({1, 0, 0, 0, 1, 0, 1, 1, 1, 1}));
    EXPECT_EQ(host_.seen_dir_capacity, 64u);
}

TEST_F(AlThroughPlugin, LifeCycleCallsReachTheirCounterpartsInOrder) {
    const std::wstring get_plugin = L"ServPlugin<struct Product::ILoggerConfiguration>::GetPlugin";
    const LogLine no_config{0x08, kInit, L"failed to get logger config."};
    const LogLine no_manager{0x04, get_plugin, L"Null component manager"};
    const LogLine refused{0x08, get_plugin, L"Error 5 getting plugin \"Product.Configuration.Logger\""};
    const LogLine config{0x20, kSetPreStart,
                         L"Set initial vorn log settings: level[off] dir_path [] max_size[10240] max_files[1]"};
    const Strings held{kGet, "fill", "subscribe 0 after start_async", "unsubscribe 0 after stop"};
    const Strings configured{"set_initial_log_config", "instance", "instance", "start_async", "instance", "stop"};
    const Strings unconfigured(configured.begin() + 1, configured.end());
    const struct {
        const char* name;
        bool host, has_manager, hands_out;
        unsigned long status;
        std::vector<LogLine> messages;
        Strings journal, agent_calls;
    } cases[] = {
        {"configured", true, true, true, 0, {config}, {held[0], held[1], held[2], held[3], kRelease}, configured},
        {"no host", false, true, true, 0, {no_manager, no_config}, {}, unconfigured},
        {"no component manager", true, false, true, 0, {no_manager, no_config}, {}, unconfigured},
        {"logger refused", true, true, false, ERROR_ACCESS_DENIED, {refused, no_config}, {kGet}, unconfigured},
        // Whatever a refusing manager leaves in the out-pointer is used, but never given back to it.
        {"refused but handed out", true, true, true, ERROR_ACCESS_DENIED, {refused, config}, held, configured},
    };
    ForEachRow(cases, [&](const auto& c) {
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
        EXPECT_EQ(LinesOf(Traces(lines), L"Endpoint::Vorn::NG::AL::OnSettingsChanged").size(), host_.sink ? 2u : 0u);
    });
}

using Journal = std::vector<std::wstring>;
const std::wstring kRunProcess = L"Endpoint::Vorn::NG::ServiceImpl::RunProcess";

Journal g_calls;
bool g_deny_manager = false;  // as for a host without administrative rights

SC_HANDLE WINAPI RecordedOpenManager(const wchar_t* machine, const wchar_t* database, DWORD access) {
    g_calls.push_back(L"OpenSCManagerW " + std::to_wstring(!machine && !database) + L" " + std::to_wstring(access));
    if (g_deny_manager) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return OpenSCManagerW(machine, database, access);
}

SC_HANDLE WINAPI RecordedOpenService(SC_HANDLE manager, const wchar_t* name, DWORD access) {
    g_calls.push_back(L"OpenServiceW " + std::wstring(name) + L" " + std::to_wstring(access));
    return OpenServiceW(manager, name, access);
}

// The application and command line; "plain" when all else is as an installer starts a program: no inherited
// handles, no window and no other flag, no security attributes, this process's environment and directory,
// startup information empty but for its size.
BOOL WINAPI RecordedCreateProcess(const wchar_t* application, wchar_t* command_line, SECURITY_ATTRIBUTES* process,
                                  SECURITY_ATTRIBUTES* thread, BOOL inherit, DWORD flags, void* environment,
                                  const wchar_t* directory, STARTUPINFOW* startup, PROCESS_INFORMATION* info) {
    STARTUPINFOW empty{};
    empty.cb = sizeof(empty);
    const bool plain = !inherit && flags == CREATE_NO_WINDOW && !process && !thread && !environment && !directory &&
                       std::memcmp(startup, &empty, sizeof(empty)) == 0;
    g_calls.push_back(std::wstring(application) + L" | " + command_line + (plain ? L" | plain" : L" | NOT PLAIN"));
    return CreateProcessW(application, command_line, process, thread, inherit, flags, environment, directory, startup,
                          info);
}

class ServiceThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log_.Valid() && manager_hook_.Active() && service_hook_.Active() && process_hook_.Active());
        ASSERT_EQ(plugin_.Create(L"Vorn.Service", IID_IService, reinterpret_cast<void**>(&service_)), 0u);
        g_calls.clear();
        log_.Clear();
    }
    void TearDown() override { plugin_.Destroy(L"Vorn.Service", service_); }

    PluginLoader plugin_;
    ImportHook manager_hook_{plugin_.Module(), "advapi32.dll", "OpenSCManagerW", &RecordedOpenManager};
    ImportHook service_hook_{plugin_.Module(), "advapi32.dll", "OpenServiceW", &RecordedOpenService};
    ImportHook process_hook_{plugin_.Module(), "kernel32.dll", "CreateProcessW", &RecordedCreateProcess};
    StandInLogApi log_{GetModuleHandleW(L"log.dll")};
    IService* service_ = nullptr;
};

// The build's folder holds the stand-in; given without its trailing backslash, the installer adds one.
TEST_F(ServiceThroughPlugin, UninstallUndoesInstallInTheServiceManager) {
    const std::wstring bin = ExecutableFolder().substr(0, ExecutableFolder().size() - 1),
                       exe = bin + L"\\VornHostService.exe";
    auto ran = [&](const std::wstring& operation, const wchar_t* switch_text, int exit_code) {
        const std::wstring function = L"Endpoint::Vorn::NG::ServiceImpl::" + operation;
        return std::vector<LogLine>{TraceEntry(function),
                                    {0x20, kRunProcess, L"waiting for [" + exe + L"] [" + switch_text + L"]"},
                                    {0x20, kRunProcess, L"exit_code [" + std::to_wstring(exit_code) + L"]"},
                                    TraceExit(function)};
    };
    std::vector<LogLine> expected;
    for (const auto& lines : {ran(L"Install", L"/install", 0), ran(L"Install", L"/install", ERROR_SERVICE_EXISTS),
                              ran(L"Uninstall", L"/uninstall", 0)}) {
        expected.insert(expected.end(), lines.begin(), lines.end());
    }
    EXPECT_FALSE(service_->IsInstalled());
    EXPECT_EQ(service_->Install(qv::WString(bin.c_str())), 0u);
    EXPECT_TRUE(service_->IsInstalled());
    // The stand-in refuses a second install with its own code; the host only learns that it failed.
    EXPECT_EQ(service_->Install(qv::WString(bin.c_str())), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(service_->Uninstall(qv::WString(bin.c_str())), 0u);
    EXPECT_FALSE(service_->IsInstalled());
    EXPECT_EQ(WrittenLines(log_), expected);
    const std::wstring manager = L"OpenSCManagerW 1 " + std::to_wstring(0xF003F);
    const std::wstring service = L"OpenServiceW VornHostService " + std::to_wstring(0xF01FF);
    const std::wstring run = exe + L" | \"" + exe + L"\" /";
    EXPECT_EQ(g_calls, (Journal{manager, service, run + L"install | plain", manager, service, run + L"install | plain",
                                run + L"uninstall | plain", manager, service}));
}

TEST_F(ServiceThroughPlugin, WithoutTheRightsToOpenTheServiceManagerItIsNotInstalled) {
    g_deny_manager = true;
    EXPECT_FALSE(service_->IsInstalled());
    g_deny_manager = false;
    EXPECT_EQ(WrittenLines(log_), (std::vector<LogLine>{{0x04, L"Endpoint::Vorn::NG::ServiceImpl::IsInstalled",
                                                         L"failed to open sc manager. error [5]"}}));
}

TEST_F(ServiceThroughPlugin, InstallResultIsTheExitCodeOfTheFoldersExecutable) {
    // A copy of the stand-in in a folder whose name has spaces; with an exit code scripted it exits at once.
    TempFolder folder(L"vorn agent "), empty;
    ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + L"VornHostService.exe", L"VornHostService.exe"));
    const std::wstring exe = folder.File(L"VornHostService.exe");
    const struct {
        const char* name;
        std::wstring directory;
        const wchar_t* exit_code;
        std::wstring application;
        unsigned long result;
    } cases[] = {
        {"folder", folder.Path(), L"0", exe, 0},
        {"folder without its trailing backslash", folder.Dir(), L"0", exe, 0},
        {"failing executable", folder.Dir(), L"2", exe, ERROR_FUNCTION_FAILED},
        {"folder without the executable", empty.Dir(), L"0", empty.File(L"VornHostService.exe"), ERROR_FILE_NOT_FOUND},
        // Looked up in the current directory only.
        {"no folder", L"", L"0", L"VornHostService.exe", ERROR_FILE_NOT_FOUND},
    };
    ForEachRow(cases, [&](const auto& c) {
        ScopedEnvironment scripted(L"VORN_SERVICE_EXIT_CODE", c.exit_code);
        log_.Clear();
        g_calls.clear();
        EXPECT_EQ(service_->Install(qv::WString(c.directory.c_str())), c.result);
        const std::wstring ran = L"[" + c.application + L"] [/install]";
        const std::vector<LogLine> failed{{0x04, kRunProcess, L"failed to create process: " + ran + L". error [2]"}};
        const std::vector<LogLine> ended{{0x20, kRunProcess, L"waiting for " + ran},
                                         {0x20, kRunProcess, std::wstring(L"exit_code [") + c.exit_code + L"]"}};
        EXPECT_EQ(Messages(WrittenLines(log_)), c.result == ERROR_FILE_NOT_FOUND ? failed : ended);
        EXPECT_EQ(g_calls, Journal{c.application + L" | \"" + c.application + L"\" /install | plain"});
    });
}

}  // namespace
