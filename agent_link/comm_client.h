// The agent library's client as the policy client and the settings manager hold it, and the one way they let
// go of one.
#pragma once

#include <memory>

#include "agent_link/vorn_comm_client.h"

namespace Endpoint::Vorn::NG {

// The agent library's name for the link; the same for every client number.
constexpr char kLinkName[] = "vorn";

using CommClient = std::unique_ptr<vorn::vorn_comm_client>;

// Ends the ownership of a client without destroying it: the library may still be running the client's
// callbacks on its own threads, and the client must stay valid for them. A client let go of lives, like the
// library, until the process ends.
inline void LetGoOf(CommClient& client) noexcept { (void)client.release(); }

}  // namespace Endpoint::Vorn::NG
