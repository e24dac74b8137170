// The agent service installer.
#include "service_host/service_impl.h"

#include <windows.h>

#include "interfaces/interface_ids.h"
#include "support/logging/log_message.h"
#include "support/unique_resource.h"

namespace Endpoint::Vorn::NG {

namespace {

constexpr wchar_t kServiceName[] = L"VornHostService";
constexpr wchar_t kExecutableName[] = L"VornHostService.exe";
constexpr wchar_t kInstallSwitch[] = L"/install";
constexpr wchar_t kUninstallSwitch[] = L"/uninstall";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

ServiceImpl::ServiceImpl() { log_.Acquire(); }

void* ServiceImpl::QueryInterface(const GUID& iid) {
    if (SameInterfaceId(iid, IID_IQvBaseInterface) || SameInterfaceId(iid, IID_IBaseObject) ||
        SameInterfaceId(iid, IID_IService)) {
        return static_cast<IService*>(this);
    }
    return nullptr;
}

constexpr wchar_t kInitName[] = L"Endpoint::Vorn::NG::ServiceImpl::Init";

unsigned long ServiceImpl::Init() {
    logging::TraceScope scope(kInitName);
    return 0;
}

constexpr wchar_t kUninitName[] = L"Endpoint::Vorn::NG::ServiceImpl::Uninit";

void ServiceImpl::Uninit() { logging::TraceScope scope(kUninitName); }

constexpr wchar_t kIsInstalledName[] = L"Endpoint::Vorn::NG::ServiceImpl::IsInstalled";

// Full access, not just existence: a caller that could not also remove or control the service (no
// administrative rights) is told it is not installed.
bool ServiceImpl::IsInstalled() {
    qv::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        logging::WriteMessage(logging::LevelError, kIsInstalledName, L"failed to open sc manager. error [%d]",
                              static_cast<int>(GetLastError()));
        return false;
    }
    const qv::UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    return static_cast<bool>(service);
}

constexpr wchar_t kInstallName[] = L"Endpoint::Vorn::NG::ServiceImpl::Install";

unsigned long ServiceImpl::Install(const qv::WString& directory) {
    logging::TraceScope scope(kInstallName);
    return RunExecutable(directory, kInstallSwitch);
}

constexpr wchar_t kUninstallName[] = L"Endpoint::Vorn::NG::ServiceImpl::Uninstall";

unsigned long ServiceImpl::Uninstall(const qv::WString& directory) {
    logging::TraceScope scope(kUninstallName);
    return RunExecutable(directory, kUninstallSwitch);
}

void ServiceImpl::GetExecutableName(qv::WString& name) { name = kExecutableName; }

qv::WString ServiceImpl::ExecutablePath(const qv::WString& directory) {
    qv::WString path(directory);
    const size_t length = path.GetLength();
    if (length != 0 && !IsSeparator(path.GetString()[length - 1])) {
        path.Append(L"\\");
    }
    path.Append(kExecutableName);
    return path;
}

// The executable's own exit code only reaches the log: the host is told success or 1627.
unsigned long ServiceImpl::RunExecutable(const qv::WString& directory, const wchar_t* switch_text) {
    const qv::WString application = ExecutablePath(directory);
    unsigned long exit_code = 0;
    const unsigned long result = RunProcess(application, qv::WString(switch_text), &exit_code);
    if (result != 0) {
        return result;
    }
    return exit_code == 0 ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

constexpr wchar_t kRunProcessName[] = L"Endpoint::Vorn::NG::ServiceImpl::RunProcess";

unsigned long ServiceImpl::RunProcess(const qv::WString& application, const qv::WString& arguments,
                                      unsigned long* exit_code) {
    // Quoted, so that a directory with spaces stays the program's first argument and the switch its second.
    qv::WString command_line(L"\"");
    command_line.Append(application);
    command_line.Append(L"\" ");
    command_line.Append(arguments);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // CreateProcessW may write into the command line, so it gets the string's own buffer.
    if (!CreateProcessW(application.GetString(), command_line.GetBuffer(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        const unsigned long error = GetLastError();
        logging::WriteMessage(logging::LevelError, kRunProcessName, L"failed to create process: [%s] [%s]. error [%d]",
                              application.GetString(), arguments.GetString(), static_cast<int>(error));
        return error;
    }
    // Declared process first so that the thread handle is closed first.
    const qv::UniqueHandle process_handle(process.hProcess);
    const qv::UniqueHandle thread_handle(process.hThread);

    logging::WriteMessage(logging::LevelTrace, kRunProcessName, L"waiting for [%s] [%s]", application.GetString(),
                          arguments.GetString());
    const DWORD wait_result = WaitForSingleObject(process_handle.get(), INFINITE);
    if (wait_result != WAIT_OBJECT_0) {
        logging::WriteMessage(logging::LevelError, kRunProcessName, L"failed waiting for process. wait_result [%d]",
                              static_cast<int>(wait_result));
        return ERROR_FUNCTION_FAILED;
    }
    if (!GetExitCodeProcess(process_handle.get(), exit_code)) {
        const unsigned long error = GetLastError();
        logging::WriteMessage(logging::LevelError, kRunProcessName, L"failed to get exit code. error [%d]",
                              static_cast<int>(error));
        return error;
    }
    logging::WriteMessage(logging::LevelTrace, kRunProcessName, L"exit_code [%d]", static_cast<int>(*exit_code));
    return ERROR_SUCCESS;
}

}  // namespace Endpoint::Vorn::NG
