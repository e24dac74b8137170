// The VornHostService.exe stand-in against the prefix's real service control manager, run as the installer
// runs it: a child process with a command line, judged by its exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/plugin_loader.h"
#include "tests/test_process.h"

namespace {

constexpr wchar_t kServiceName[] = L"VornHostService";
constexpr DWORD kChildTimeoutMs = 60000;
constexpr DWORD kServiceStateTimeoutMs = 30000;

DWORD RunChild(const std::wstring& application, const std::wstring& arguments) {
    return static_cast<DWORD>(RunProgram(application, arguments, kChildTimeoutMs));
}

// 0 when the service can be opened with full access, else the error of OpenServiceW (or OpenSCManagerW).
DWORD OpenServiceError() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return GetLastError();
    }
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    const DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

struct ServiceConfig {
    DWORD type = 0;
    DWORD start_type = 0;
    std::wstring binary;
};

bool QueryConfig(ServiceConfig* config) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG) : nullptr;
    bool ok = false;
    if (service != nullptr) {
        std::vector<unsigned char> buffer(8192);
        DWORD needed = 0;
        auto* raw = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (QueryServiceConfigW(service, raw, static_cast<DWORD>(buffer.size()), &needed)) {
            config->type = raw->dwServiceType;
            config->start_type = raw->dwStartType;
            config->binary = raw->lpBinaryPathName ? raw->lpBinaryPathName : L"";
            ok = true;
        }
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return ok;
}

// Polls the service's state until it is `wanted` or the time is up; returns the last state seen.
DWORD WaitForServiceState(SC_HANDLE service, DWORD wanted) {
    SERVICE_STATUS status{};
    const ULONGLONG deadline = GetTickCount64() + kServiceStateTimeoutMs;
    do {
        if (!QueryServiceStatus(service, &status)) {
            return 0;
        }
        if (status.dwCurrentState == wanted) {
            break;
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return status.dwCurrentState;
}

class ServiceStandIn : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OpenServiceError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST))
            << "the prefix already holds a service \"VornHostService\"; remove it with VornHostService.exe /uninstall";
        checked_absent_ = true;
    }

    // Whatever a failed case left behind goes, so that the prefix ends as it was found.
    void TearDown() override {
        if (!checked_absent_) {
            return;
        }
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = manager ? OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS) : nullptr;
        if (service != nullptr) {
            SERVICE_STATUS status{};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            WaitForServiceState(service, SERVICE_STOPPED);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        if (manager != nullptr) {
            CloseServiceHandle(manager);
        }
        EXPECT_EQ(OpenServiceError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }

    const std::wstring exe_ = ExecutableFolder() + L"VornHostService.exe";

private:
    bool checked_absent_ = false;
};

TEST_F(ServiceStandIn, InstallRegistersItsOwnPathAsDemandStartServiceAndUninstallRemovesIt) {
    ASSERT_EQ(RunChild(exe_, L"/install"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(OpenServiceError(), static_cast<DWORD>(ERROR_SUCCESS));
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(config.type & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.binary, L"\"" + exe_ + L"\"");

    EXPECT_EQ(RunChild(exe_, L"/install"), static_cast<DWORD>(ERROR_SERVICE_EXISTS));

    EXPECT_EQ(RunChild(exe_, L"/uninstall"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(OpenServiceError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(RunChild(exe_, L"/uninstall"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServiceStandIn, RunsAsTheServiceUntilStopped) {
    ASSERT_EQ(RunChild(exe_, L"/install"), 0u);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    EXPECT_NE(service, nullptr);
    if (service != nullptr) {
        EXPECT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
        EXPECT_EQ(WaitForServiceState(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
        SERVICE_STATUS status{};
        EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_EQ(WaitForServiceState(service, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    EXPECT_EQ(RunChild(exe_, L"/uninstall"), 0u);
}

}  // namespace
