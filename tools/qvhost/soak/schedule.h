// The soak's faults: a seeded random scenario for the simulated agent that holds every kind of fault at least once
// (and each kind of bad policy and bad settings reply), spread over the run and over by its end, and what the
// plug-in must make of each policy text in it.
#pragma once

#include <map>
#include <string>

namespace qvhost {

struct SoakSchedule {
    std::string scenario;  // the text of scenario.json
    // For each deliver_policy step: whether its text is a valid policy, which subscribers must then receive.
    std::map<int, bool> policy_valid;
    size_t steps = 0;
};

SoakSchedule MakeSchedule(unsigned long long seed, unsigned long seconds);

}  // namespace qvhost
