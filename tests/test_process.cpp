// Fresh processes and scratch folders for tests.
#include "tests/test_process.h"

#include <psapi.h>

#include <cwchar>

#include "support/unique_resource.h"

namespace {
constexpr wchar_t kFolderVariable[] = L"VORN_TEST_PARENT_FOLDER";
}

int RunTestInChild(const char* full_test_name, const std::wstring& folder, DWORD timeout_ms) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_also_run_disabled_tests --gtest_brief=1";
    command += L" --gtest_filter=";
    for (const char* c = full_test_name; *c != '\0'; ++c) {
        command += static_cast<wchar_t>(*c);
    }
    SetEnvironmentVariableW(kFolderVariable, folder.empty() ? nullptr : folder.c_str());

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessW(exe, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableW(kFolderVariable, nullptr);
    if (!started) {
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

std::wstring ParentFolder() {
    wchar_t folder[MAX_PATH] = {};
    DWORD chars = GetEnvironmentVariableW(kFolderVariable, folder, MAX_PATH);
    return chars == 0 || chars >= MAX_PATH ? std::wstring() : std::wstring(folder);
}

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static LONG serial = 0;
    wchar_t name[64];
    std::swprintf(name, 64, L"vorn-test-%lu-%ld\\", GetCurrentProcessId(), InterlockedIncrement(&serial));
    path_ = std::wstring(temp) + name;
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
        DeleteFileW(it->c_str());
    }
    RemoveDirectoryW(path_.c_str());
}

bool TempFolder::CopyIn(const std::wstring& source, const std::wstring& name) {
    std::wstring target = path_ + name;
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        return false;
    }
    files_.push_back(target);
    return true;
}

std::wstring ModulePath(HMODULE module) {
    if (module == nullptr) {
        return std::wstring();
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
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
