// The stand-in vornint.dll's scripted mode, for trying the plug-in without any agent: it hands over a policy
// or answers get_settings as told. The agent's own library has neither control, and then these say so.
#pragma once

#include <string>

namespace qvhost {

// Has the stand-in hand the policy (JSON text) to its newest client, as the agent would.
bool DeliverThroughStandIn(const std::wstring& policy);

// Has the stand-in answer get_settings with the text of the file.
bool ScriptSettingsReply(const std::wstring& file);

// Keeps a long run from growing the stand-ins' records of calls: the stand-in vornint.dll (VORNINT_RECORD=off) and
// log.dll, when it is loaded, record nothing further. The agent's own libraries are not touched.
void QuietStandIns();

}  // namespace qvhost
