// Finding the agent's libraries, checking that they fit, keeping them, and handing them to the delay-load helper.
#include "agent_link/agent_library.h"

#include <windows.h>

#include <delayimp.h>

#include <cstring>

#include "support/logging/log_dll.h"
#include "support/logging/log_message.h"
#include "support/unique_resource.h"

#if defined(__MINGW32__)
// GNU ld leaves the image's delay-import directory empty. dlltool names each library's descriptor after the
// delay-import library it was made as (cmake/VornAgentLibraries.cmake).
extern "C" const ImgDelayDescr __DELAY_IMPORT_DESCRIPTOR_libvornint_delay_a;
extern "C" const ImgDelayDescr __DELAY_IMPORT_DESCRIPTOR_libvorn_delay_a;
#endif

namespace Endpoint::Vorn::NG {

namespace {

struct Binding {
    const char* name;  // as the delay-import table names it
    const wchar_t* file_name;
    HMODULE pinned;  // null until bound; then loaded until the process ends
};

// Indexed by AgentLibrary. Guarded by g_lock: the host may start a client and a settings manager on two
// threads at once, and the helper reads a binding on whichever thread first calls into the library.
Binding g_bindings[] = {{"vornint.dll", L"vornint.dll", nullptr}, {"vorn.dll", L"vorn.dll", nullptr}};
qv::CriticalSection g_lock;

template <typename T>
const T* AtRva(DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(logging::ThisModule()) + rva);
}

// The plug-in's own delay-import descriptor for the library; null when the plug-in calls nothing in it.
const ImgDelayDescr* DelayImportOf(AgentLibrary library) {
#if defined(__MINGW32__)
    return library == AgentLibrary::Comm ? &__DELAY_IMPORT_DESCRIPTOR_libvornint_delay_a
                                         : &__DELAY_IMPORT_DESCRIPTOR_libvorn_delay_a;
#else
    const auto* dos = AtRva<IMAGE_DOS_HEADER>(0);
    const auto* headers = AtRva<IMAGE_NT_HEADERS>(static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return nullptr;
    }
    const char* name = g_bindings[static_cast<int>(library)].name;
    for (const auto* import = AtRva<ImgDelayDescr>(directory.VirtualAddress); import->rvaDLLName != 0; ++import) {
        if (_stricmp(AtRva<char>(import->rvaDLLName), name) == 0) {
            return import;
        }
    }
    return nullptr;
#endif
}

// True when `module` exports every function that the descriptor's name table lists, by name or by ordinal.
bool ExportsEverythingCalled(HMODULE module, const ImgDelayDescr* import) {
    if (import == nullptr) {
        return true;
    }
    for (const auto* entry = AtRva<IMAGE_THUNK_DATA>(import->rvaINT); entry->u1.AddressOfData != 0; ++entry) {
        const char* function = IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal)
                                   ? MAKEINTRESOURCEA(IMAGE_ORDINAL(entry->u1.Ordinal))
                                   : AtRva<IMAGE_IMPORT_BY_NAME>(static_cast<DWORD>(entry->u1.AddressOfData))->Name;
        if (GetProcAddress(module, function) == nullptr) {
            return false;
        }
    }
    return true;
}

// The library from the first place that holds its file; null, with the loader's error, when that file does not load.
qv::UniqueModule Load(const wchar_t* file_name, DWORD& error) {
    const auto beside = logging::PathBesideThisModule(file_name);
    HMODULE module = nullptr;
    if (beside && GetFileAttributesW(beside.get()) != INVALID_FILE_ATTRIBUTES) {
        // Found by full path, the library may load its own dependencies from its folder.
        module =
            LoadLibraryExW(beside.get(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    } else {
        module = LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
    error = module != nullptr ? ERROR_SUCCESS : GetLastError();
    return qv::UniqueModule(module);
}

// Binds a library not bound yet: ERROR_SUCCESS, or why not. A library that does not fit is freed again here, so that
// its file can be replaced.
DWORD Bind(AgentLibrary library, Binding& binding) {
    DWORD error = ERROR_SUCCESS;
    const qv::UniqueModule found = Load(binding.file_name, error);
    if (!found) {
        return error;
    }
    if (!ExportsEverythingCalled(found.get(), DelayImportOf(library))) {
        return ERROR_PROC_NOT_FOUND;
    }
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(found.get()), &pinned)) {
        return GetLastError();
    }
    binding.pinned = pinned;
    return ERROR_SUCCESS;
}

// Asked by the delay-load helper before it would load a library by name: it gets the bound one, which needs no
// reference of its own since it stays loaded.
FARPROC WINAPI HandOverBoundLibrary(unsigned notification, PDelayLoadInfo info) {
    HMODULE module = nullptr;
    if (notification == dliNotePreLoadLibrary) {
        qv::CriticalSectionGuard guard(g_lock);
        for (const Binding& binding : g_bindings) {
            if (_stricmp(binding.name, info->szDll) == 0) {
                module = binding.pinned;
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
        if (binding.pinned == nullptr) {
            error = Bind(library, binding);
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
