// Fresh processes and scratch folders for tests.
#include "tests/test_process.h"

#include <psapi.h>

#include <sstream>

#include "support/unique_resource.h"

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
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ScopedEnvironment passed(kArgumentVariable, argument.empty() ? nullptr : argument.c_str());
    return RunProgram(exe, arguments, timeout_ms);
}

std::wstring ChildArgument() {
    wchar_t argument[MAX_PATH] = {};
    DWORD chars = GetEnvironmentVariableW(kArgumentVariable, argument, MAX_PATH);
    return chars == 0 || chars >= MAX_PATH ? std::wstring() : std::wstring(argument);
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length > 0) {
        old_value_.resize(length);
        old_value_.resize(GetEnvironmentVariableW(name, &old_value_[0], length));
        had_value_ = true;
    }
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}

std::string ReadFileText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string text;
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

std::vector<std::string> ReadFileLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadFileText(path));
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

namespace {
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(folder + name + L"\\");
            } else {
                DeleteFileW((folder + name).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    // A child that ran in the folder may hold it as its current directory for a moment after it has ended.
    for (int attempt = 0; !RemoveDirectoryW(folder.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
                          GetLastError() != ERROR_PATH_NOT_FOUND && attempt < 50;
         ++attempt) {
        Sleep(20);
    }
}
}  // namespace

TempFolder::TempFolder(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static LONG serial = 0;
    path_ = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&serial)) + L"\\";
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

bool TempFolder::CopyIn(const std::wstring& source, const std::wstring& name) const {
    return CopyFileW(source.c_str(), File(name).c_str(), FALSE) != FALSE;
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
