// The soak's settings managers: "Vorn.Settings" made, initialised, asked to Read and to Update with changing values,
// and given back, again and again on one host thread. Each thread owns one member of the settings' customdata
// (customdata/<member>/n, counting up), so that what each Update did can be told apart from the others'.
//
// A Read that returns 0 must have loaded a document the agent held during the call. An Update that returns 0 must
// be in the agent's document when it returns; one that does not must never appear in it.
#pragma once

#include <string>

#include "interfaces/settings_manager.h"
#include "tools/qvhost/soak/context.h"

namespace qvhost {

class SettingsWorker {
public:
    SettingsWorker(SoakContext& context, int index, unsigned long long seed);

    // Manager after manager until the soak stops.
    void Run();
    // One manager's whole life.
    void Cycle();

    const std::string& Member() const { return member_; }
    // The value of the last Update that returned 0; -1 before the first.
    long long LastApplied() const { return last_applied_; }

private:
    void Read(Endpoint::Vorn::Settings::IManager& manager);
    void Update(Endpoint::Vorn::Settings::IManager& manager);

    SoakContext& context_;
    CallSlot& slot_;
    Dice dice_;
    const std::string member_;
    long long next_ = 0;
    long long last_applied_ = -1;
};

}  // namespace qvhost
