// Timing the soak's calls into the plug-in.
#include "tools/qvhost/soak/calls.h"

#include <cstdio>

#include "stand_ins/agent/agent_clock.h"

namespace qvhost {

namespace {

constexpr const char* kCallNames[] = {
    "QvCreateObject",     "QvDestroyObject",   "Init",          "Uninit",    "Start", "Stop",   "AddPolicyHandle",
    "RemovePolicyHandle", "SendPolicyStarted", "SendPolicyRun", "SendEvent", "Read",  "Update", "CreateData",
    "SetCustomData",      "DestroyData",
};
static_assert(sizeof(kCallNames) / sizeof(kCallNames[0]) == static_cast<size_t>(Call::kCount), "a name per call");

constexpr const char* kTargetNames[] = {"Vorn.Client",  "Vorn.Settings", "  not linked", "Vorn.AL",
                                        "Vorn.Service", "IData",         "unknown name"};
static_assert(sizeof(kTargetNames) / sizeof(kTargetNames[0]) == static_cast<size_t>(Target::kCount),
              "a name per object");

std::string Results(const std::map<unsigned long, unsigned long long>& results) {
    std::string text;
    for (const auto& result : results) {
        text += (text.empty() ? "" : ", ") + std::to_string(result.first) + " x" + std::to_string(result.second);
    }
    return text.empty() ? "none" : text;
}

}  // namespace

const char* CallName(Call call) { return kCallNames[static_cast<int>(call)]; }
const char* TargetName(Target target) { return kTargetNames[static_cast<int>(target)]; }

CallSlot& CallMonitor::NewSlot() {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.emplace_back();
    return slots_.back();
}

CallMonitor::Scope::Scope(CallMonitor& monitor, CallSlot& slot, Target target, Call call)
    : monitor_(monitor), slot_(slot), target_(target), call_(call) {
    slot_.flagged = false;
    slot_.target = static_cast<int>(target);
    slot_.started_us = vorn_agent::NowMicroseconds();
    slot_.call = static_cast<int>(call);
}

CallMonitor::Scope::~Scope() { monitor_.Finish(slot_, target_, call_, result_); }

long long CallMonitor::BoundMs(Call call, long long from_us, long long to_us) const {
    switch (call) {
        case Call::kRead:
            return kCommandWaitMs + kSlackMs;
        case Call::kUpdate:
            return kCommandWaitMs + kSlackMs + server_wait_(from_us, to_us);
        default:
            return kPlainBoundMs;
    }
}

void CallMonitor::Finish(CallSlot& slot, Target target, Call call, unsigned long result) {
    const long long started = slot.started_us;
    const long long now = vorn_agent::NowMicroseconds();
    const long long elapsed_ms = (now - started) / 1000;
    const long long bound_ms = BoundMs(call, started, now);
    if (elapsed_ms > bound_ms && !slot.flagged.exchange(true)) {
        findings_.Stuck("%s %s took %lld ms, beyond its bound of %lld ms", TargetName(target), CallName(call),
                        elapsed_ms, bound_ms);
    }
    slot.call = -1;
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[static_cast<int>(target)][static_cast<int>(call)];
    long long& slowest = slowest_ms_[static_cast<int>(call)];
    slowest = elapsed_ms > slowest ? elapsed_ms : slowest;
    if (target == Target::kSettings && call == Call::kRead) {
        ++read_results_[result];
    } else if (target == Target::kSettings && call == Call::kUpdate) {
        ++update_results_[result];
    }
}

void CallMonitor::Watch() {
    std::lock_guard<std::mutex> lock(mutex_);
    const long long now = vorn_agent::NowMicroseconds();
    for (CallSlot& slot : slots_) {
        const int call = slot.call;
        const long long started = slot.started_us;
        if (call < 0) {
            continue;
        }
        const long long elapsed_ms = (now - started) / 1000;
        const long long bound_ms = BoundMs(static_cast<Call>(call), started, now);
        if (elapsed_ms > bound_ms && !slot.flagged.exchange(true)) {
            findings_.Stuck("%s %s has been running for %lld ms, beyond its bound of %lld ms",
                            TargetName(static_cast<Target>(slot.target.load())), CallName(static_cast<Call>(call)),
                            elapsed_ms, bound_ms);
        }
    }
}

unsigned long long CallMonitor::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned long long total = 0;
    for (const auto& target : counts_) {
        for (unsigned long long count : target) {
            total += count;
        }
    }
    return total;
}

std::string CallMonitor::Summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = "calls by object:\n";
    char line[256];
    for (int target = 0; target < static_cast<int>(Target::kCount); ++target) {
        std::string calls;
        unsigned long long total = 0;
        for (int call = 0; call < static_cast<int>(Call::kCount); ++call) {
            if (counts_[target][call] != 0) {
                calls += (calls.empty() ? "" : ", ") + std::string(kCallNames[call]) + " " +
                         std::to_string(counts_[target][call]);
                total += counts_[target][call];
            }
        }
        if (total != 0) {
            snprintf(line, sizeof(line), "  %-14s %8llu: ", kTargetNames[target], total);
            text += line + calls + "\n";
        }
    }
    text += "results: Read " + Results(read_results_) + "; Update " + Results(update_results_) + "\n";
    text += "slowest call of each kind (ms):\n";
    std::string row;
    for (int call = 0; call < static_cast<int>(Call::kCount); ++call) {
        snprintf(line, sizeof(line), "  %-18s %6lld", kCallNames[call], slowest_ms_[call]);
        row += line;
        if (row.size() > 75) {
            text += row + "\n";
            row.clear();
        }
    }
    return text + (row.empty() ? "" : row + "\n");
}

}  // namespace qvhost
