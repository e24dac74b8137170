// Fresh processes and scratch folders for tests whose subject is process-wide state (loaded modules,
// the log binder, the registry).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Runs `application` with `arguments` behind its quoted path, as an installer runs a program: no window, this
// process's standard handles. Its exit code, -1 when it does not end within timeout_ms (it is then terminated),
// -2 when it cannot start.
int RunProgram(const std::wstring& application, const std::wstring& arguments, DWORD timeout_ms = 60000);

// Runs one test of this executable (usually a DISABLED_ one) in a new process and returns its exit code as
// RunProgram does. `argument`, if given, reaches the child as ChildArgument().
int RunTestInChild(const char* full_test_name, const std::wstring& argument = std::wstring(), DWORD timeout_ms = 60000);

// What the parent passed to RunTestInChild: a case's index, or a folder (with its trailing backslash).
std::wstring ChildArgument();
inline std::wstring ParentFolder() { return ChildArgument(); }

// Sets an environment variable (null removes it) for the owner's lifetime, then restores what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    bool had_value_ = false;
    std::wstring old_value_;
};

// The whole content of a file, empty when it cannot be read; and the same split into lines.
std::string ReadFileText(const std::wstring& path);
std::vector<std::string> ReadFileLines(const std::wstring& path);
inline bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
// Creates or replaces a file with `text`; false when that fails.
bool WriteFileText(const std::wstring& path, const std::string& text);

// A new empty folder under the temporary directory, removed with everything in it when the owner goes.
class TempFolder {
public:
    explicit TempFolder(const wchar_t* prefix = L"vorn-test-");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return path_; }
    // Without one.
    std::wstring Dir() const { return path_.substr(0, path_.size() - 1); }
    std::wstring File(const std::wstring& relative) const { return path_ + relative; }
    bool Write(const std::wstring& relative, const std::string& text) const {
        return WriteFileText(File(relative), text);
    }
    std::string Read(const std::wstring& relative) const { return ReadFileText(File(relative)); }
    // Copies `source` into the folder under `name`; false when the copy fails.
    bool CopyIn(const std::wstring& source, const std::wstring& name) const;

private:
    std::wstring path_;
};

// Full path of a loaded module, empty for null.
std::wstring ModulePath(HMODULE module);

// Full paths of every module of this process whose file name is `name` (case-insensitive).
std::vector<std::wstring> LoadedModulesNamed(const std::wstring& name);
