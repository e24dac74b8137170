// The whole demo: the plug-in's four objects against the simulated agent, one step after another.
#pragma once

#include <string>

#include "tools/qvhost/plugin.h"

namespace qvhost {

// The field the demo changes and the value it sets.
constexpr wchar_t kDemoField[] = L"custid";
constexpr wchar_t kDemoValue[] = L"CUST-DEMO";

// Runs the agent in this process on agent_dir (already named in VORN_AGENT_DIR), receives and reports its
// policies, changes a setting, installs and removes the service, and tears down. 0 when every step did what
// it should.
int RunDemo(const Plugin& plugin, const std::wstring& plugin_path, const std::wstring& agent_dir);

}  // namespace qvhost
