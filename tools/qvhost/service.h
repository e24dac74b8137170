// "Vorn.Service" as the host drives it: whether the agent's Windows service is installed, installing and
// removing it.
#pragma once

#include <string>

#include "tools/qvhost/plugin.h"

namespace qvhost {

// The demo's part: installs "VornHostService" from a scratch folder holding a copy of VornHostService.exe and a
// vorn_agent_dir.txt that names the agent's folder and pipe (the service control manager passes the service no
// environment), queries it and removes it again. True when each step did what it should. A service installed
// before is left alone, and the step fails.
bool ShowServiceRoundTrip(const Plugin& plugin, const std::wstring& agent_dir, const std::wstring& pipe_name);

// "qvhost service install DIR | uninstall DIR | status".
int RunServiceCommand(const Plugin& plugin, const std::wstring& verb, const std::wstring& directory);

}  // namespace qvhost
