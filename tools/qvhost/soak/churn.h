// The soak's busiest and shortest-lived objects: every object of the plug-in made and given back at a high rate on
// one host thread, most without being started (the shared "Vorn.AL" taken and returned while the soak holds it
// too, clients and managers that never link, data objects on a manager that has none), and an unknown name.
#pragma once

#include "tools/qvhost/soak/context.h"

namespace qvhost {

class ChurnWorker {
public:
    ChurnWorker(SoakContext& context, unsigned long long seed);

    // Objects until the soak stops.
    void Run();
    // One object made and given back.
    void Once();

private:
    template <typename Interface>
    void MakeAndGive(Target target, const wchar_t* name, const GUID& iid);

    SoakContext& context_;
    CallSlot& slot_;
    Dice dice_;
};

}  // namespace qvhost
