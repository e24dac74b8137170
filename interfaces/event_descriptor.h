// Endpoint::Vorn::EventDescriptor: the host's description of one event to report to the agent.
#pragma once

#include <cstdint>

#include "support/strings/qv_string.h"

namespace Endpoint::Vorn {

struct EventDescriptor {
    std::uint32_t type;
    std::uint32_t subtype;
    std::uint32_t flags;
    qv::WString name;
    qv::WString description;
    qv::WString content;  // JSON text
    bool async;           // true: handed to the agent library without waiting for the agent
};

}  // namespace Endpoint::Vorn
