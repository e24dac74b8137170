// Programs and modules.
#include "equipment/processes.h"

#include <psapi.h>

#include <cwchar>

#include "equipment/environment.h"
#include "support/unique_resource.h"

namespace equipment {

namespace {
constexpr wchar_t kArgumentVariable[] = L"VORN_TEST_CHILD_ARGUMENT";
}

int RunProgram(const std::wstring& application, const std::wstring& arguments, DWORD timeout_ms) {
    std::wstring command = L"\"" + application + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(application.c_str(), &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return -2;
    }
    qv::UniqueHandle process(info.hProcess);
    qv::UniqueHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

int RunTestInChild(const char* full_test_name, const std::wstring& argument, DWORD timeout_ms) {
    std::wstring arguments = L"--gtest_also_run_disabled_tests --gtest_brief=1 --gtest_filter=";
    for (const char* c = full_test_name; *c != '\0'; ++c) {
        arguments += static_cast<wchar_t>(*c);
    }
    ScopedEnvironment passed(kArgumentVariable, argument.empty() ? nullptr : argument.c_str());
    return RunProgram(ExecutablePath(), arguments, timeout_ms);
}

std::wstring ChildArgument() { return EnvironmentValue(kArgumentVariable); }

std::wstring ModulePath(HMODULE module) {
    if (module == nullptr) {
        return std::wstring();
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // cut short: a long path
    }
}

HMODULE ModuleHolding(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

std::vector<std::wstring> LoadedModulesNamed(const std::wstring& name) {
    HMODULE modules[1024];
    DWORD bytes = 0;
    std::vector<std::wstring> found;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &bytes)) {
        return found;
    }
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
        std::wstring path = ModulePath(modules[i]);
        const wchar_t* slash = wcsrchr(path.c_str(), L'\\');
        if (_wcsicmp(slash != nullptr ? slash + 1 : path.c_str(), name.c_str()) == 0) {
            found.push_back(path);
        }
    }
    return found;
}

}  // namespace equipment
