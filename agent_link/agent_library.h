// Binding the agent's libraries, vornint.dll and vorn.dll, at first use and only from places the host chose.
//
// The plug-in links both for delay-loading, so it loads and "Vorn.Service" works without them. Before the first
// call that needs a library, its user binds it here: from the plug-in's own folder by full path (as log.dll), else
// from the process's safe default folders (the application's folder, System32, and the folders the host added
// with AddDllDirectory or SetDllDirectoryW). Never from the current directory or PATH, where anybody who can
// write a file could plant a DLL inside the host's process. A library bound stays loaded for the plug-in's life,
// because the delay-load thunks point into it; a failure is not remembered, so an agent installed after the
// plug-in was loaded is found by the next attempt once the host has added its folder. The delay-load helper is
// handed the module bound here and never searches by name itself.
#pragma once

namespace Endpoint::Vorn::NG {

enum class AgentLibrary {
    Comm,     // vornint.dll: vorn::vorn_comm_client
    Service,  // vorn.dll: vorn::vorn_service
};

// ERROR_SUCCESS when the library is loaded, now or earlier. Otherwise writes "failed to load %s. error [%d]" with
// the library's file name and the loader's error at level 0x04 under `function`, and returns that error
// (ERROR_MOD_NOT_FOUND when the library is in none of the places).
unsigned long BindAgentLibrary(AgentLibrary library, const wchar_t* function);

}  // namespace Endpoint::Vorn::NG
