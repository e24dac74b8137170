// Runs bin/qvhost.exe as a child process, with its output captured, for as long as a test allows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace end_to_end {

struct ToolRun {
    int exit_code = -1;  // -1 when it did not end in time (it is then terminated)
    std::string output;  // stdout and stderr as written
};

// Runs qvhost.exe with the arguments (each quoted) and this process's environment.
ToolRun RunHostTool(const std::vector<std::wstring>& arguments, DWORD timeout_ms);

// The repository's samples/agent, as a Windows path.
std::wstring SampleAgentFolder();

// Copies policies/, removals/ and settings.json of `from` into the existing folder `to`.
bool CopyAgentFolder(const std::wstring& from, const std::wstring& to);

}  // namespace end_to_end
