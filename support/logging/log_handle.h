// LogHandle: a counted hold on the one log binder of the plug-in.
#pragma once

#include "support/logging/counted_holder.h"
#include "support/logging/log_dll.h"

namespace logging {

// Every exported object holds one for its whole life, the module holds one static handle from load to
// unload, and every line written takes a short-lived local one; the binder (and log.dll) goes with the last.
using LogHandle = qv::CountedHolder<CLogDLL>;

}  // namespace logging
