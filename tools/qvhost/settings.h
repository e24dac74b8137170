// "Vorn.Settings" as the host drives it: read the agent's settings, change one field, read it back.
#pragma once

#include <string>

#include "tools/qvhost/plugin.h"

namespace qvhost {

// The fields "settings set" and the demo can change, by their names in the agent's document.
constexpr wchar_t kSettableFields[] = L"custid userid groupid token appid srvaddr srvaddrlist storeevs customdata";

// The demo's part: Init, Read, one change through CreateData and Update, Read again, Uninit. True when the
// value read back is the one sent.
bool ChangeAndReadBack(const Plugin& plugin, const std::wstring& field, const std::wstring& value);

// "qvhost settings get" (words: get) and "qvhost settings set FIELD VALUE" (words: set FIELD VALUE). A reply
// file, if given, scripts the stand-in vornint.dll's answer once Init has bound it.
int RunSettingsCommand(const Plugin& plugin, const std::wstring& verb, const std::wstring& field,
                       const std::wstring& value, const std::wstring& reply_file);

}  // namespace qvhost
