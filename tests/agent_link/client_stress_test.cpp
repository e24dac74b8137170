// The policy client under load: several agent threads delivering while the host changes its subscribers.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "equipment/worker_thread.h"
#include "tests/agent_link/client_harness.h"
#include "tests/named_rows.h"

using namespace client_test;

namespace {

// Counts what each id brought.
class CountingHandle : public Endpoint::Vorn::IPolicyHandle {
public:
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override { Note(L"run:" + Std(policy->GetId())); }
    void OnRemovePolicy(const qv::WString& id) override { Note(L"remove:" + Std(id)); }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override { Note(L"live"); }
    std::map<std::wstring, int> Counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }

private:
    void Note(const std::wstring& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_[key];
    }
    std::mutex mutex_;
    std::map<std::wstring, int> counts_;
};

std::string Policy(int n) {
    return R"({"polid":"P)" + std::to_string(n) + R"(","content":{"files":[{"rule":)" + std::to_string(n) + "}]}}";
}

using ClientConcurrency = ClientThroughPlugin;

// Four delivery threads walk the list together while the host adds and removes subscribers: each subscriber that
// stays hears of every policy exactly once, and one that comes and goes at most once.
TEST_F(ClientConcurrency, DeliveriesLoseNothingWhileTheHostChangesSubscribers) {
    constexpr int kPolicies = 400;
    vornint_client_script script{0, 0, 0, 4};
    ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &script), VORNINT_OK);
    CountingHandle stable, last;
    std::vector<CountingHandle> transients(4);
    ASSERT_EQ(client_->AddPolicyHandle(&stable), 0ul);
    ASSERT_EQ(client_->AddPolicyHandle(&last), 0ul);
    ASSERT_EQ(client_->Start(2), 0ul);
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    equipment::WorkerThread host;
    auto changing = host.Post([&] {
        while (!done) {
            for (CountingHandle& t : transients) {
                EXPECT_EQ(client_->AddPolicyHandle(&t), 0ul);
            }
            for (CountingHandle& t : transients) {
                EXPECT_EQ(client_->RemovePolicyHandle(&t), 0ul);
            }
            ++changes;
        }
    });
    for (int n = 0; n < kPolicies; ++n) {
        if (n % 20 == 0) {  // in batches, each after a round of the host's changes
            const int seen = changes;
            ASSERT_TRUE(equipment::Eventually([&] { return changes > seen; })) << "the host is stuck";
        }
        ASSERT_EQ(vornint_deliver(0, n % 3 == 2 ? VORNINT_REMOVE_POLICY : VORNINT_RUN_POLICY, 0, Policy(n).c_str()),
                  VORNINT_OK);
    }
    EXPECT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, 6 * kWaitMs), VORNINT_OK) << "deliveries are stuck";
    done = true;
    ASSERT_TRUE(changing->WaitFor(kWaitMs)) << "the host's add and remove are stuck";
    client_->Stop();
    for (CountingHandle* h : {&stable, &last}) {
        const auto counts = h->Counts();
        EXPECT_EQ(counts.size(), static_cast<size_t>(kPolicies));
        for (const auto& entry : counts) {
            EXPECT_EQ(entry.second, 1) << testing::PrintToString(entry.first);
        }
    }
    for (CountingHandle& t : transients) {
        for (const auto& entry : t.Counts()) {
            EXPECT_EQ(entry.second, 1) << "a transient subscriber heard twice of "
                                       << testing::PrintToString(entry.first);
        }
    }
}

// Once RemovePolicyHandle has returned, the host may free the subscriber: the removal waits for the walk in
// progress (held here inside another subscriber's OnRunPolicy, or OnRemovePolicy, on the agent's thread), and no
// walk reaches the removed subscriber afterwards.
TEST_F(ClientConcurrency, ARemovedSubscriberHearsNothingOnceRemoveReturns) {
    const char policy[] = R"({"polid":"P","content":{"files":[]}})";
    std::atomic<bool> removed{false};
    std::atomic<int> after_removal{0};
    b_.during = [&] { after_removal += removed ? 1 : 0; };
    ASSERT_EQ(client_->Start(1), 0ul);
    const std::pair<const char*, int> deliveries[] = {{"run", VORNINT_RUN_POLICY}, {"removal", VORNINT_REMOVE_POLICY}};
    ForEachRow(deliveries, [&](const auto& row) {
        const int delivery = row.second;
        const bool run = delivery == VORNINT_RUN_POLICY;
        const std::wstring call = run ? L" run P null\n" : L" remove P";
        equipment::Completion held, release;
        std::atomic<bool> hold{true};
        a_.during = [&] {
            if (hold.exchange(false)) {
                held.Signal();
                release.WaitFor(kWaitMs);
            }
        };
        removed = false;
        ClearJournal();
        ASSERT_EQ(client_->AddPolicyHandle(&a_), 0ul);
        ASSERT_EQ(client_->AddPolicyHandle(&b_), 0ul);
        ASSERT_EQ(vornint_deliver(0, delivery, 0, policy), VORNINT_OK);
        ASSERT_TRUE(held.WaitFor(kWaitMs));
        equipment::WorkerThread host;
        auto removing = host.Post([&] {
            EXPECT_EQ(client_->RemovePolicyHandle(&b_), 0ul);
            removed = true;
        });
        EXPECT_FALSE(removing->WaitFor(equipment::kStaysBlocked)) << "RemovePolicyHandle returned during a walk";
        release.Signal();
        ASSERT_TRUE(removing->WaitFor(kWaitMs));
        ASSERT_EQ(vornint_deliver(0, delivery, 0, policy), VORNINT_OK);
        ASSERT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, kWaitMs), VORNINT_OK);
        EXPECT_EQ(after_removal, 0) << "the removed subscriber was called after RemovePolicyHandle returned";
        EXPECT_EQ(Journal(), (std::vector<std::wstring>{L"a" + call, L"b" + call, L"a" + call}));
        ASSERT_EQ(client_->RemovePolicyHandle(&a_), 0ul);
    });
    client_->Stop();
}

}  // namespace
