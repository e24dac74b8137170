// Entry points of the simulated agent for the programs that host it: the stand-in vorn.dll (vorn_service start and
// stop) and the stand-in VornHostService.exe (service start and stop). One agent per process.
//
// Where the agent finds its state folder, first match wins:
//   1. the state_dir argument, when not null or empty;
//   2. the environment variable VORN_AGENT_DIR;
//   3. the first line of the file vorn_agent_dir.txt beside the module that links the agent (vorn.dll or
//      VornHostService.exe); a relative path there is taken relative to that module's folder. This is the way
//      for the service, which the service control manager starts without the caller's environment.
// The pipe it serves: the environment variable VORN_AGENT_PIPE, else the second line of vorn_agent_dir.txt, else
// \\.\pipe\vorn-agent. The scenario it plays (scenario.h): the file that VORN_AGENT_SCENARIO names, else
// scenario.json in the state folder, else none.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Starts serving; returns 0 or a Windows error code: ERROR_ALREADY_EXISTS when this process serves already,
// ERROR_PATH_NOT_FOUND when no state folder is named or it does not exist, ERROR_INVALID_DATA when the scenario does
// not load (the agent's log and stderr say why), or the pipe's error (another process serving the same name gives
// ERROR_ACCESS_DENIED or ERROR_PIPE_BUSY).
unsigned long vorn_agent_start(const wchar_t* state_dir);

// The same with the pipe name given (null: as vorn_agent_start finds it).
unsigned long vorn_agent_start_on(const wchar_t* state_dir, const wchar_t* pipe_name);

// Sends notification 5 to every client, closes every connection and returns when the agent's threads have ended.
// Does nothing when the agent does not run.
void vorn_agent_stop(void);

int vorn_agent_running(void);

// Lines the agent could not append to its journal since the process began: when not 0, the journal is incomplete.
unsigned long vorn_agent_journal_failures(void);

#ifdef __cplusplus
}  // extern "C"
#endif
