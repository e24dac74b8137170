// Binding the agent's libraries, vornint.dll and vorn.dll, at first use, only from places the host chose, and only
// when they fit.
//
// The plug-in links both for delay-loading, so it loads and "Vorn.Service" works without them. Before the first
// call that needs a library, its user binds it here. The first place that holds the file decides: the plug-in's own
// folder, by full path (as log.dll), else the process's safe default folders (the application's folder, System32,
// and the folders the host added with AddDllDirectory or SetDllDirectoryW). Never the current directory or PATH,
// where anybody who can write a file could plant a DLL inside the host's process.
//
// A library found is kept only when it exports every function the plug-in calls in it, as the plug-in's own
// delay-import table lists them: another version, or one built by another compiler (whose decorated names differ),
// is let go of at once, so that the delay-load helper never meets a missing function and never raises its exception
// into the host or an agent thread. A failure is not remembered, so an agent installed after the plug-in was loaded
// is found by the next attempt once the host has added its folder.
//
// A library kept stays loaded until the process ends, also after the plug-in is freed: the agent's service object
// and the clients that Stop and Uninit let go of are never destroyed, and threads of the agent that outlive the
// plug-in must still find their code.
#pragma once

namespace Endpoint::Vorn::NG {

enum class AgentLibrary {
    Comm,     // vornint.dll: vorn::vorn_comm_client
    Service,  // vorn.dll: vorn::vorn_service
};

// ERROR_SUCCESS when the library is bound, now or earlier. Otherwise writes "failed to load %s. error [%d]" with the
// library's file name and the error at level 0x04 under `function`, and returns that error: ERROR_MOD_NOT_FOUND when
// the library is in none of the places, the loader's error when the file there does not load, ERROR_PROC_NOT_FOUND
// when it lacks a function the plug-in calls.
unsigned long BindAgentLibrary(AgentLibrary library, const wchar_t* function);

}  // namespace Endpoint::Vorn::NG
