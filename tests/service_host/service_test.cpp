// "Vorn.Service" through the plug-in against the prefix's real service control manager and the stand-in
// VornHostService.exe, with what the plug-in asked Windows for journaled on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/service.h"
#include "tests/import_hook.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"
#include "tests/test_process.h"

namespace {

using Endpoint::Vorn::IService;
using Journal = std::vector<std::wstring>;
const std::wstring kRunProcess = L"Endpoint::Vorn::NG::ServiceImpl::RunProcess";

Journal g_calls;
bool g_refuse_manager = false;  // OpenSCManagerW fails as it does without administrative rights

SC_HANDLE WINAPI RecordedOpenManager(const wchar_t* machine, const wchar_t* database, DWORD access) {
    g_calls.push_back(L"OpenSCManagerW " + std::to_wstring(machine == nullptr && database == nullptr) + L" " +
                      std::to_wstring(access));
    if (g_refuse_manager) {
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
        ASSERT_EQ(plugin_.Create(L"Vorn.Service", Endpoint::Vorn::IID_IService, reinterpret_cast<void**>(&service_)),
                  0u);
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
TEST_F(ServiceThroughPlugin, InstallAndUninstallShowInTheServiceManagerWhichItAsksForFullAccess) {
    const std::wstring bin = ExecutableFolder().substr(0, ExecutableFolder().size() - 1);
    const std::wstring exe = bin + L"\\VornHostService.exe";
    auto ran = [&](const std::wstring& operation, const wchar_t* switch_text, int exit_code) {
        const std::wstring function = L"Endpoint::Vorn::NG::ServiceImpl::" + operation;
        return std::vector<LogLine>{TraceEntry(function),
                                    {0x20, kRunProcess, L"waiting for [" + exe + L"] [" + switch_text + L"]"},
                                    {0x20, kRunProcess, L"exit_code [" + std::to_wstring(exit_code) + L"]"},
                                    TraceExit(function)};
    };
    using Endpoint::Vorn::IID_IBaseObject, Endpoint::Vorn::IID_IQvBaseInterface, Endpoint::Vorn::IID_IServPlugin;
    EXPECT_EQ(std::make_tuple(service_->QueryInterface(IID_IBaseObject), service_->QueryInterface(IID_IQvBaseInterface),
                              service_->QueryInterface(IID_IServPlugin)),
              std::make_tuple(service_, service_, nullptr));
    qv::WString name(L"a much longer text that was there before");
    service_->GetExecutableName(name);
    EXPECT_EQ(std::wstring(name.GetString()), L"VornHostService.exe");
    EXPECT_EQ(service_->Init(), 0u);
    service_->Uninit();
    const std::wstring init = L"Endpoint::Vorn::NG::ServiceImpl::Init",
                       uninit = L"Endpoint::Vorn::NG::ServiceImpl::Uninit";
    std::vector<LogLine> expected{TraceEntry(init), TraceExit(init), TraceEntry(uninit), TraceExit(uninit)};
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
    g_refuse_manager = true;
    EXPECT_FALSE(service_->IsInstalled());
    g_refuse_manager = false;
    expected.push_back(
        {0x04, L"Endpoint::Vorn::NG::ServiceImpl::IsInstalled", L"failed to open sc manager. error [5]"});
    EXPECT_EQ(WrittenLines(log_), expected);
    const std::wstring manager = L"OpenSCManagerW 1 " + std::to_wstring(0xF003F);
    const std::wstring service = L"OpenServiceW VornHostService " + std::to_wstring(0xF01FF);
    const std::wstring run = exe + L" | \"" + exe + L"\" /";
    EXPECT_EQ(g_calls, (Journal{manager, service, run + L"install | plain", manager, service, run + L"install | plain",
                                run + L"uninstall | plain", manager, service, manager}));
}

TEST_F(ServiceThroughPlugin, RunsTheExecutableOfTheDirectoryAndTurnsItsExitCodeIntoTheResult) {
    // A copy of the stand-in in a folder whose name has spaces; with an exit code scripted it exits at once.
    TempFolder folder(L"vorn agent "), empty;
    ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + L"VornHostService.exe", L"VornHostService.exe"));
    const std::wstring exe = folder.File(L"VornHostService.exe");
    std::wstring forward = folder.Path(), forward_exe = exe;
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    std::replace(forward_exe.begin(), forward_exe.end(), L'\\', L'/');
    const struct {
        std::wstring directory;
        const wchar_t* exit_code;
        std::wstring application;
        unsigned long result;
    } cases[] = {
        {folder.Dir(), L"0", exe, 0},
        {folder.Path(), L"0", exe, 0},
        {forward, L"0", forward_exe, 0},
        {L"", L"0", L"VornHostService.exe", 0},  // looked up in the current directory only
        {folder.Dir(), L"2", exe, ERROR_FUNCTION_FAILED},
        {empty.Dir(), L"0", empty.File(L"VornHostService.exe"), ERROR_FILE_NOT_FOUND},
    };
    wchar_t here[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, here);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.Dir().c_str()));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.directory) + " exits with " + testing::PrintToString(c.exit_code));
        ScopedEnvironment scripted(L"VORN_SERVICE_EXIT_CODE", c.exit_code);
        for (const wchar_t* operation : {L"install", L"uninstall"}) {
            log_.Clear();
            g_calls.clear();
            const qv::WString directory(c.directory.c_str());
            EXPECT_EQ(operation[0] == L'i' ? service_->Install(directory) : service_->Uninstall(directory), c.result);
            const std::wstring ran = L"[" + c.application + L"] [/" + operation + L"]";
            const std::vector<LogLine> failed{
                {0x04, kRunProcess, L"failed to create process: " + ran + L". error [2]"}};
            const std::vector<LogLine> ended{{0x20, kRunProcess, L"waiting for " + ran},
                                             {0x20, kRunProcess, std::wstring(L"exit_code [") + c.exit_code + L"]"}};
            EXPECT_EQ(Messages(WrittenLines(log_)), c.result == ERROR_FILE_NOT_FOUND ? failed : ended);
            EXPECT_EQ(g_calls, Journal{c.application + L" | \"" + c.application + L"\" /" + operation + L" | plain"});
        }
    }
    SetCurrentDirectoryW(here);
}

}  // namespace
