// The soak's policy clients: "Vorn.Client" made, started, fed subscribers and asked to report, stopped and destroyed,
// again and again on one host thread, and each client checked against the agent's account once it is gone.
//
// Every client has an anchor subscriber, added before Start and removed after Stop: it must receive exactly the
// valid policies the agent delivered to the client, in the agent's order (only those still on their way when the
// client stopped may be missing, and only at the end). Transient subscribers come and go while policies arrive;
// each must receive exactly the policies whose walk began after its AddPolicyHandle returned and before its
// RemovePolicyHandle was called, none whose walk began before its AddPolicyHandle was called, and no call at all
// once its RemovePolicyHandle has returned (a host may free it then). The anchor tells a transient which walk it is
// in (the anchor is called first in each walk, on the same thread), so each receipt is matched without guessing.
// Every report is named uniquely; each must be in the agent's events once if the link was up throughout, never
// twice.
#pragma once

#include "tools/qvhost/soak/context.h"

namespace qvhost {

class PolicyWorker {
public:
    PolicyWorker(SoakContext& context, unsigned long long seed);

    // Client after client until the soak stops.
    void Run();
    // One client's whole life, and its checks.
    void Cycle();

private:
    SoakContext& context_;
    CallSlot& slot_;
    Dice dice_;
};

}  // namespace qvhost
