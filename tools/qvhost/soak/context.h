// What the soak's host threads share: the plug-in, the watch over their calls, the agent's account, what was
// found wrong, the faults' plan, and the counts for the summary.
#pragma once

#include <atomic>
#include <random>
#include <string>
#include <type_traits>

#include "tools/qvhost/plugin.h"
#include "tools/qvhost/soak/calls.h"
#include "tools/qvhost/soak/findings.h"
#include "tools/qvhost/soak/ledger.h"
#include "tools/qvhost/soak/schedule.h"

namespace qvhost {

struct SoakCounts {
    std::atomic<unsigned long long> client_cycles{0};
    std::atomic<unsigned long long> settings_cycles{0};
    std::atomic<unsigned long long> anchor_policies{0};     // received by subscribers there for a client's whole life
    std::atomic<unsigned long long> transient_policies{0};  // received by subscribers added and removed meanwhile
    std::atomic<unsigned long long> reports{0};
    std::atomic<unsigned long long> reads_checked{0};
    std::atomic<unsigned long long> updates_applied{0};
    std::atomic<unsigned long long> updates_refused{0};

    // After the warm-up, so that every figure tells of the measured run only.
    void Clear() {
        for (auto* count : {&client_cycles, &settings_cycles, &anchor_policies, &transient_policies, &reports,
                            &reads_checked, &updates_applied, &updates_refused}) {
            *count = 0;
        }
    }
};

struct SoakContext {
    SoakContext(const Plugin& plugin, CallMonitor& monitor, Ledger& ledger, Findings& findings,
                const SoakSchedule& schedule)
        : plugin(plugin), monitor(monitor), ledger(ledger), findings(findings), schedule(schedule) {}

    const Plugin& plugin;
    CallMonitor& monitor;
    Ledger& ledger;
    Findings& findings;
    const SoakSchedule& schedule;
    std::atomic<bool> stopping{false};
    std::atomic<int> next_client{1000};  // every policy client starts with a number of its own
    SoakCounts counts;
};

// A host thread's randomness, from the soak's seed and the thread's place.
class Dice {
public:
    explicit Dice(unsigned long long seed) : random_(static_cast<std::mt19937_64::result_type>(seed)) {}
    unsigned long Pick(unsigned long low, unsigned long high) {
        return std::uniform_int_distribution<unsigned long>(low, high)(random_);
    }

private:
    std::mt19937_64 random_;
};

// One call into the plug-in under the monitor's watch; an integral result is counted.
template <typename Body>
auto Timed(SoakContext& context, CallSlot& slot, Target target, Call call, Body&& body) {
    CallMonitor::Scope scope(context.monitor, slot, target, call);
    if constexpr (std::is_void_v<decltype(body())>) {
        body();
    } else {
        auto result = body();
        if constexpr (std::is_integral_v<decltype(result)>) {
            scope.Result(static_cast<unsigned long>(result));
        }
        return result;
    }
}

}  // namespace qvhost
