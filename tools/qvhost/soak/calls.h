// The soak's watch over every call into the plug-in: how many of each, by object; the slowest of each kind; and
// which took longer than its bound. A call is timed from a scope around it; a watchdog looks at the calls in flight
// every so often, so that one that hangs is counted as stuck while it hangs, not only if it ever returns.
//
// Bounds: a Read 15000 ms, an Update 15000 ms plus its wait for the agent's server (the outages of the agent while
// it waited, as the agent's journal tells them), each with the slack below; every other call one second.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "tools/qvhost/soak/findings.h"

namespace qvhost {

enum class Call {
    kCreate,
    kDestroy,
    kInit,
    kUninit,
    kStart,
    kStop,
    kAddPolicyHandle,
    kRemovePolicyHandle,
    kSendPolicyStarted,
    kSendPolicyRun,
    kSendEvent,
    kRead,
    kUpdate,
    kCreateData,
    kSetCustomData,
    kDestroyData,
    kCount,
};

enum class Target { kClient, kSettings, kUnlinked, kLoader, kService, kData, kUnknown, kCount };

constexpr long long kCommandWaitMs = 15000;
constexpr long long kSlackMs = 2000;
constexpr long long kPlainBoundMs = 1000;

const char* CallName(Call call);
const char* TargetName(Target target);

// One host thread's call in flight; each thread owns one.
struct CallSlot {
    std::atomic<int> call{-1};
    std::atomic<int> target{0};
    std::atomic<long long> started_us{0};
    std::atomic<bool> flagged{false};
};

class CallMonitor {
public:
    // Milliseconds an Update that started at from_us may have waited for the server until to_us.
    using ServerWait = std::function<long long(long long from_us, long long to_us)>;
    CallMonitor(Findings& findings, ServerWait server_wait)
        : findings_(findings), server_wait_(std::move(server_wait)) {}

    CallSlot& NewSlot();

    class Scope {
    public:
        Scope(CallMonitor& monitor, CallSlot& slot, Target target, Call call);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        // The call's result code, for the summary's count of results.
        void Result(unsigned long result) { result_ = result; }

    private:
        CallMonitor& monitor_;
        CallSlot& slot_;
        Target target_;
        Call call_;
        unsigned long result_ = 0;
    };

    // Counts every call in flight past its bound as stuck, once.
    void Watch();

    unsigned long long Calls() const;
    // The readable part of the summary: calls by object, results of the linked managers' Read and Update, the
    // slowest of each kind.
    std::string Summary() const;

private:
    long long BoundMs(Call call, long long from_us, long long to_us) const;
    void Finish(CallSlot& slot, Target target, Call call, unsigned long result);

    Findings& findings_;
    ServerWait server_wait_;
    mutable std::mutex mutex_;
    std::list<CallSlot> slots_;
    unsigned long long counts_[static_cast<int>(Target::kCount)][static_cast<int>(Call::kCount)] = {};
    long long slowest_ms_[static_cast<int>(Call::kCount)] = {};
    // Results of Read and Update: result code -> count.
    std::map<unsigned long, unsigned long long> read_results_;
    std::map<unsigned long, unsigned long long> update_results_;
};

}  // namespace qvhost
