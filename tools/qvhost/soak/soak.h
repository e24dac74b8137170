// qvhost soak: the plug-in through a bad hour of the agent's life. It starts the simulated agent in this process
// through "Vorn.AL" on a fresh state folder with a seeded random scenario of every kind of fault, drives the plug-in
// from several host threads at once as a busy host would, checks what arrived against the agent's own account while
// it runs and at the end, and compares the process's handles and private memory with where they started.
//
// Its last line is "soak: F faults, P policies delivered, E events recorded, U updates applied, L lost, S stuck",
// and it exits 0 only when nothing was lost and nothing stuck. It always ends: a host thread stuck inside the
// plug-in is reported, and the process then ends without waiting for it.
#pragma once

#include "tools/qvhost/plugin.h"

namespace qvhost {

struct SoakOptions {
    unsigned long seconds = 60;
    unsigned long long seed = 0;
    bool seed_given = false;
};

int RunSoak(const Plugin& plugin, const SoakOptions& options);

}  // namespace qvhost
