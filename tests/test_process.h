// Fresh processes and scratch folders for tests whose subject is process-wide state (loaded modules,
// the log binder, the registry).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Runs one test of this executable (usually a DISABLED_ one) in a new process and returns its exit code,
// or -1 when it does not end within timeout_ms (it is then terminated). `folder`, if given, reaches the
// child as ParentFolder().
int RunTestInChild(const char* full_test_name, const std::wstring& folder = std::wstring(), DWORD timeout_ms = 60000);

// The folder a parent passed to RunTestInChild, with a trailing backslash.
std::wstring ParentFolder();

// A new empty folder under the temporary directory, removed with its files when the owner goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return path_; }
    // Copies `source` into the folder under `name`; false when the copy fails.
    bool CopyIn(const std::wstring& source, const std::wstring& name);

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

// Full path of a loaded module, empty for null.
std::wstring ModulePath(HMODULE module);

// Full paths of every module of this process whose file name is `name` (case-insensitive).
std::vector<std::wstring> LoadedModulesNamed(const std::wstring& name);
