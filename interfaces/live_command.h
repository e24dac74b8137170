// Endpoint::Vorn::ILiveCommand: a host interface that subscribers receive through OnLiveCommand.
#pragma once

namespace Endpoint::Vorn {

// Only named here: the plug-in passes pointers to it along and never calls it.
struct ILiveCommand;

}  // namespace Endpoint::Vorn
