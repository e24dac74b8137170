// VornHostService.exe stand-in: installs and removes the "VornHostService" service with "/install" and
// "/uninstall", and otherwise runs as that service until it is stopped.
//
// For tests it records every run (module path, command line, current directory) to the file named by
// VORN_SERVICE_RECORD, and exits at once with the code in VORN_SERVICE_EXIT_CODE when that is set, before it
// touches the service control manager, so that failures of the installer can be driven without side effects.
#include <windows.h>

#include <cwchar>
#include <string>

#include "equipment/environment.h"
#include "equipment/files.h"
#include "equipment/processes.h"
#include "equipment/text.h"
#include "stand_ins/agent/vorn_agent.h"
#include "support/unique_resource.h"

using equipment::AppendToFile;
using equipment::EnvironmentValue;
using equipment::ExecutablePath;
using equipment::ToUtf8;

namespace {

constexpr wchar_t kServiceName[] = L"VornHostService";
constexpr wchar_t kRecordVariable[] = L"VORN_SERVICE_RECORD";
constexpr wchar_t kExitCodeVariable[] = L"VORN_SERVICE_EXIT_CODE";

std::wstring CurrentDirectory() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    path.resize(length < path.size() ? length : 0);
    return path;
}

// One line per run, tab-separated, UTF-8. A single append-mode write keeps lines whole when runs overlap.
void RecordRun() {
    const std::wstring file = EnvironmentValue(kRecordVariable);
    if (file.empty()) {
        return;
    }
    AppendToFile(
        file, ToUtf8(ExecutablePath()) + '\t' + ToUtf8(GetCommandLineW()) + '\t' + ToUtf8(CurrentDirectory()) + '\n');
}

bool ScriptedExitCode(DWORD* code) {
    const std::wstring value = EnvironmentValue(kExitCodeVariable);
    if (value.empty()) {
        return false;
    }
    wchar_t* end = nullptr;
    const unsigned long parsed = std::wcstoul(value.c_str(), &end, 0);
    if (end == value.c_str() || *end != L'\0') {
        return false;
    }
    *code = parsed;
    return true;
}

DWORD Install() {
    const std::wstring binary = L"\"" + ExecutablePath() + L"\"";
    qv::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        return GetLastError();
    }
    qv::UniqueServiceHandle service(CreateServiceW(
        manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return service ? ERROR_SUCCESS : GetLastError();
}

DWORD Uninstall() {
    qv::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return GetLastError();
    }
    qv::UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_STOP));
    if (!service) {
        return GetLastError();
    }
    // A running service would otherwise stay until its process ends; a refusal (not running) is no failure.
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    return DeleteService(service.get()) ? ERROR_SUCCESS : GetLastError();
}

// Service mode. The control handler runs on the dispatcher's thread, the service main on its own.
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
qv::UniqueHandle g_stop_event;

void ReportState(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 5000 : 0;
    SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            ReportState(SERVICE_STOP_PENDING);
            SetEvent(g_stop_event.get());
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_status_handle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
    if (g_status_handle == nullptr) {
        return;
    }
    // The simulated agent runs when a state folder is named (vorn_agent_dir.txt beside this file, since the
    // service control manager passes no environment of the installer's); without one the service only idles.
    const unsigned long agent = vorn_agent_start(nullptr);
    ReportState(SERVICE_RUNNING);
    WaitForSingleObject(g_stop_event.get(), INFINITE);
    if (agent == ERROR_SUCCESS) {
        vorn_agent_stop();
    }
    ReportState(SERVICE_STOPPED);
}

DWORD RunAsService() {
    g_stop_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_stop_event) {
        return GetLastError();
    }
    wchar_t name[] = L"VornHostService";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    RecordRun();
    DWORD code = 0;
    if (ScriptedExitCode(&code)) {
        return static_cast<int>(code);
    }
    if (argc == 1) {
        return static_cast<int>(RunAsService());
    }
    if (argc == 2 && std::wcscmp(argv[1], L"/install") == 0) {
        return static_cast<int>(Install());
    }
    if (argc == 2 && std::wcscmp(argv[1], L"/uninstall") == 0) {
        return static_cast<int>(Uninstall());
    }
    return ERROR_INVALID_PARAMETER;
}
