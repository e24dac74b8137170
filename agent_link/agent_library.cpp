// Finding and keeping the agent's libraries, and handing them to the delay-load helper.
#include "agent_link/agent_library.h"

#include <windows.h>

#include <delayimp.h>

#include <cstring>

#include "support/logging/log_dll.h"
#include "support/logging/log_message.h"
#include "support/unique_resource.h"

namespace Endpoint::Vorn::NG {

namespace {

struct Binding {
    const char* name;  // as the delay-load helper names it
    const wchar_t* file_name;
    qv::UniqueModule module;
};

// Indexed by AgentLibrary. Guarded by g_lock: the host may start a client and a settings manager on two
// threads at once, and the helper reads a binding on whichever thread first calls into the library.
Binding g_bindings[] = {{"vornint.dll", L"vornint.dll", {}}, {"vorn.dll", L"vorn.dll", {}}};
qv::CriticalSection g_lock;

HMODULE Search(const wchar_t* file_name) {
    // Found by full path, the library may load its own dependencies from its folder.
    HMODULE module =
        logging::LoadBesideThisModule(file_name, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    return module != nullptr ? module : LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// Asked by the delay-load helper before it would load a library by name. The helper keeps the reference it is
// given (and gives it back when another thread bound the same library first), so it gets one of its own.
FARPROC WINAPI HandOverBoundLibrary(unsigned notification, PDelayLoadInfo info) {
    HMODULE module = nullptr;
    if (notification == dliNotePreLoadLibrary) {
        qv::CriticalSectionGuard guard(g_lock);
        for (const Binding& binding : g_bindings) {
            if (binding.module && _stricmp(binding.name, info->szDll) == 0) {
                GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(binding.module.get()), &module);
            }
        }
    }
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

unsigned long BindAgentLibrary(AgentLibrary library, const wchar_t* function) {
    Binding& binding = g_bindings[static_cast<int>(library)];
    DWORD error = ERROR_SUCCESS;
    {
        qv::CriticalSectionGuard guard(g_lock);
        if (!binding.module) {
            binding.module.reset(Search(binding.file_name));
            error = binding.module ? ERROR_SUCCESS : GetLastError();
        }
    }
    if (error != ERROR_SUCCESS) {
        logging::WriteMessage(logging::LevelError, function, L"failed to load %s. error [%d]", binding.file_name,
                              static_cast<int>(error));
    }
    return error;
}

}  // namespace Endpoint::Vorn::NG

// MSVC's delayimp.h declares the hook const (read-only once linked), MinGW-w64's writable.
#if defined(__MINGW64_VERSION_MAJOR)
PfnDliHook __pfnDliNotifyHook2 = Endpoint::Vorn::NG::HandOverBoundLibrary;
#else
const PfnDliHook __pfnDliNotifyHook2 = Endpoint::Vorn::NG::HandOverBoundLibrary;
#endif
