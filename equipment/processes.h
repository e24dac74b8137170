// Programs and modules: running a program as an installer does, running one test of this executable in a fresh
// process (for tests whose subject is process-wide state: loaded modules, the log binding, the registry), and which
// modules this process has loaded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace equipment {

// Runs application with arguments behind its quoted path, as an installer runs a program: no window, this
// process's standard handles. Its exit code, -1 when it does not end within timeout_ms (it is then terminated),
// -2 when it cannot start.
int RunProgram(const std::wstring& application, const std::wstring& arguments, DWORD timeout_ms = 60000);

// Runs one test of this executable (usually a DISABLED_ one) in a new process and returns its exit code as
// RunProgram does. argument, if given, reaches the child as ChildArgument().
int RunTestInChild(const char* full_test_name, const std::wstring& argument = std::wstring(), DWORD timeout_ms = 60000);

// STATUS_FAIL_FAST_EXCEPTION: the exit code of a child that the plug-in ended through Windows' fail-fast, as a
// host's exit status and crash report show it. Written out rather than taken from the product, which it checks.
constexpr UINT kFailFastExitSeen = 0xC0000602;

// What the parent passed to RunTestInChild: a case's index, or a folder (with its trailing backslash).
std::wstring ChildArgument();
inline std::wstring ParentFolder() { return ChildArgument(); }

// Full path of a loaded module, empty for null; and that of this process's executable.
std::wstring ModulePath(HMODULE module);
inline std::wstring ExecutablePath() { return ModulePath(GetModuleHandleW(nullptr)); }

// The module whose code or data holds address: a DLL's own module, found from one of its functions.
HMODULE ModuleHolding(const void* address);

// Full paths of every module of this process whose file name is name (case-insensitive).
std::vector<std::wstring> LoadedModulesNamed(const std::wstring& name);

// The export `name` of the already loaded module `module` (a stand-in's control call) as a function of type Fn;
// null when the module is not loaded or does not export it.
template <typename Fn>
Fn ExportOf(const wchar_t* module, const char* name) {
    const HMODULE loaded = GetModuleHandleW(module);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(loaded != nullptr ? GetProcAddress(loaded, name) : nullptr));
}

}  // namespace equipment
