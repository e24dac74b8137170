// Whether a settings record that Read loaded is the one a settings document of the agent gives: every field as the
// document has it, and as a fresh record leaves it where the document has nothing.
#pragma once

#include <json/json.h>

#include "interfaces/settings_record.h"

namespace qvhost {

bool RecordMatches(const Endpoint::Vorn::Settings::Record& record, const Json::Value& document);

}  // namespace qvhost
