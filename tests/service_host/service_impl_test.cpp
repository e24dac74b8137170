// "Vorn.Service" through the plug-in against the prefix's real service control manager and the stand-in
// VornHostService.exe, which records how it was started; and the executable path rules as a unit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/service.h"
#include "service_host/service_impl.h"
#include "support/strings/utf8.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"
#include "tests/test_process.h"

namespace {

using Endpoint::Vorn::NG::ServiceImpl;

const std::wstring kRunProcess = L"Endpoint::Vorn::NG::ServiceImpl::RunProcess";
constexpr DWORD kTestLimitMs = 120000;

TEST(ServiceExecutablePath, SeparatorGoesBetweenOnlyWhenTheDirectoryLacksOne) {
    const struct {
        const wchar_t* directory;
        const wchar_t* path;
    } cases[] = {
        {L"D:\\Agent", L"D:\\Agent\\VornHostService.exe"},
        {L"D:\\Agent\\", L"D:\\Agent\\VornHostService.exe"},
        {L"D:/Agent/", L"D:/Agent/VornHostService.exe"},
        {L"D:/Agent", L"D:/Agent\\VornHostService.exe"},
        {L"D:\\My Agent", L"D:\\My Agent\\VornHostService.exe"},
        {L"\\", L"\\VornHostService.exe"},
        {L"", L"VornHostService.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::wstring(ServiceImpl::ExecutablePath(qv::WString(c.directory)).GetString()), c.path)
            << testing::PrintToString(std::wstring(c.directory));
    }
    EXPECT_EQ(std::wstring(ServiceImpl::ExecutablePath(qv::WString()).GetString()), L"VornHostService.exe");
}

// Ends the process when a case runs past its limit: Install waits for the executable without one.
class Watchdog {
public:
    Watchdog() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = CreateThread(nullptr, 0, &Watch, done_, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(void* done) {
        if (WaitForSingleObject(done, kTestLimitMs) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "a service case ran longer than %lu ms\n", kTestLimitMs);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }
    HANDLE done_;
    HANDLE thread_ = nullptr;
};

DWORD OpenServiceError() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return GetLastError();
    }
    SC_HANDLE service = OpenServiceW(manager, L"VornHostService", SERVICE_ALL_ACCESS);
    const DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (service != nullptr) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

// The stand-in's record: one line per run, module path, command line and current directory, tab-separated.
std::vector<std::vector<std::string>> ReadRuns(const std::wstring& path) {
    std::vector<std::vector<std::string>> runs;
    for (const std::string& line : ReadFileLines(path)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) {
            fields.push_back(field);
        }
        runs.push_back(fields);
    }
    return runs;
}

// Drives "Vorn.Service" through the plug-in. Every case starts and ends with no "VornHostService" in the
// prefix; the delete in OpenServiceError removes what a failed case left behind.
class ServiceThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.Loaded());
        ASSERT_TRUE(log_.Valid());
        ASSERT_EQ(OpenServiceError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST))
            << "the prefix already holds a service \"VornHostService\"";
        void* object = nullptr;
        ASSERT_EQ(plugin_.Create(L"Vorn.Service", Endpoint::Vorn::IID_IService, &object), 0u);
        service_ = static_cast<Endpoint::Vorn::IService*>(object);
        log_.Clear();
    }

    void TearDown() override {
        if (service_ != nullptr) {
            plugin_.Destroy(L"Vorn.Service", service_);
            EXPECT_EQ(OpenServiceError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        }
    }

    Watchdog watchdog_;
    PluginLoader plugin_;
    StandInLogApi log_{GetModuleHandleW(L"log.dll")};
    Endpoint::Vorn::IService* service_ = nullptr;
    // The build's folder without its trailing backslash, so that the installer has to add one.
    const std::wstring bin_ = ExecutableFolder().substr(0, ExecutableFolder().size() - 1);
};

TEST_F(ServiceThroughPlugin, InstallAndUninstallShowInTheServiceManager) {
    EXPECT_FALSE(service_->IsInstalled());
    EXPECT_EQ(service_->Install(qv::WString(bin_.c_str())), 0u);
    EXPECT_TRUE(service_->IsInstalled());
    const std::wstring application = bin_ + L"\\VornHostService.exe";
    const std::wstring install = L"Endpoint::Vorn::NG::ServiceImpl::Install";
    EXPECT_THAT(WrittenLines(log_),
                testing::ElementsAre(TraceEntry(install),
                                     LogLine{0x20, kRunProcess, L"waiting for [" + application + L"] [/install]"},
                                     LogLine{0x20, kRunProcess, L"exit_code [0]"}, TraceExit(install)));

    // The stand-in refuses a second install with its own code; the host only learns that it failed.
    log_.Clear();
    EXPECT_EQ(service_->Install(qv::WString(bin_.c_str())), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
    EXPECT_THAT(
        Messages(WrittenLines(log_)),
        testing::Contains(LogLine{0x20, kRunProcess, L"exit_code [" + std::to_wstring(ERROR_SERVICE_EXISTS) + L"]"}));

    EXPECT_EQ(service_->Uninstall(qv::WString(bin_.c_str())), 0u);
    EXPECT_FALSE(service_->IsInstalled());
}

TEST_F(ServiceThroughPlugin, NonZeroExitCodeBecomesFunctionFailed) {
    for (const wchar_t* code : {L"2", L"0"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(code)));
        ScopedEnvironment scripted(L"VORN_SERVICE_EXIT_CODE", code);
        log_.Clear();
        const unsigned long expected = code[0] == L'0' ? 0 : ERROR_FUNCTION_FAILED;
        EXPECT_EQ(service_->Install(qv::WString(bin_.c_str())), expected);
        EXPECT_EQ(service_->Uninstall(qv::WString(bin_.c_str())), expected);
        const std::vector<LogLine> messages = Messages(WrittenLines(log_));
        ASSERT_EQ(messages.size(), 4u);
        EXPECT_EQ(messages[1], (LogLine{0x20, kRunProcess, L"exit_code [" + std::wstring(code) + L"]"}));
        EXPECT_EQ(messages[3], messages[1]);
    }
}

TEST_F(ServiceThroughPlugin, MissingExecutableGivesTheCreateProcessError) {
    TempFolder empty;
    const std::wstring application = empty.Path() + L"VornHostService.exe";
    EXPECT_EQ(service_->Uninstall(qv::WString(empty.Path().c_str())), static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    EXPECT_THAT(Messages(WrittenLines(log_)),
                testing::ElementsAre(LogLine{
                    0x04, kRunProcess, L"failed to create process: [" + application + L"] [/uninstall]. error [2]"}));
}

std::wstring Slashed(std::wstring path) {
    for (wchar_t& c : path) {
        c = c == L'\\' ? L'/' : c;
    }
    return path;
}

TEST_F(ServiceThroughPlugin, RunsTheExecutableOfTheDirectoryWithItsQuotedPathAndTheSwitch) {
    // A copy of the stand-in in a folder whose name has spaces, recording its runs into the same folder.
    TempFolder folder(L"vorn agent ");
    ASSERT_TRUE(folder.CopyIn(ExecutableFolder() + L"VornHostService.exe", L"VornHostService.exe"));
    const std::wstring executable = folder.File(L"VornHostService.exe");
    ScopedEnvironment record(L"VORN_SERVICE_RECORD", folder.File(L"runs.txt").c_str());
    ScopedEnvironment scripted(L"VORN_SERVICE_EXIT_CODE", L"0");
    wchar_t here[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, here);

    const struct {
        std::wstring directory;
        std::wstring application;
    } cases[] = {
        {folder.Dir(), executable},
        {folder.Path(), executable},
        {Slashed(folder.Path()), Slashed(executable)},
        // A bare file name is looked up in the current directory only.
        {L"", L"VornHostService.exe"},
    };
    std::vector<std::vector<std::string>> expected;
    for (const auto& c : cases) {
        const bool bare = c.directory.empty();
        if (bare) {
            ASSERT_TRUE(SetCurrentDirectoryW(folder.Dir().c_str()));
        }
        EXPECT_EQ(service_->Install(qv::WString(c.directory.c_str())), 0u) << testing::PrintToString(c.directory);
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        SetCurrentDirectoryW(here);
        expected.push_back({qv::ToUtf8(executable.c_str()).GetString(),
                            qv::ToUtf8((L"\"" + c.application + L"\" /install").c_str()).GetString(),
                            qv::ToUtf8(current).GetString()});
    }
    // Which file ran is compared with either separator: how a module path is spelled is the loader's choice.
    std::vector<std::vector<std::string>> runs = ReadRuns(folder.File(L"runs.txt"));
    for (auto* list : {&runs, &expected}) {
        for (auto& run : *list) {
            if (!run.empty()) {
                std::replace(run[0].begin(), run[0].end(), '\\', '/');
            }
        }
    }
    EXPECT_EQ(runs, expected);
}

TEST_F(ServiceThroughPlugin, AnswersItsInterfacesAndNamesTheExecutable) {
    EXPECT_EQ(service_->QueryInterface(Endpoint::Vorn::IID_IBaseObject), service_);
    EXPECT_EQ(service_->QueryInterface(Endpoint::Vorn::IID_IQvBaseInterface), service_);
    EXPECT_EQ(service_->QueryInterface(Endpoint::Vorn::IID_IServPlugin), nullptr);
    EXPECT_EQ(service_->Init(), 0u);
    qv::WString name(L"a much longer text that was there before");
    service_->GetExecutableName(name);
    EXPECT_EQ(std::wstring(name.GetString()), L"VornHostService.exe");
    service_->Uninit();
    EXPECT_THAT(WrittenLines(log_), testing::ElementsAre(TraceEntry(L"Endpoint::Vorn::NG::ServiceImpl::Init"),
                                                         TraceExit(L"Endpoint::Vorn::NG::ServiceImpl::Init"),
                                                         TraceEntry(L"Endpoint::Vorn::NG::ServiceImpl::Uninit"),
                                                         TraceExit(L"Endpoint::Vorn::NG::ServiceImpl::Uninit")));
}

}  // namespace
