// The policy client under load and abuse: several agent threads delivering while the host changes its
// subscribers, and a long run of hostile policy texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "agent_link/client_impl.h"
#include "tests/agent_link/client_harness.h"
#include "tests/support/sync/worker_thread.h"

using namespace client_test;

namespace {

// Counts what each id brought, and how many calls were inside at once.
class CountingHandle : public Endpoint::Vorn::IPolicyHandle {
public:
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override { Note(L"run:" + Std(policy->GetId())); }
    void OnRemovePolicy(const qv::WString& id) override { Note(L"remove:" + Std(id)); }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override { Note(L"live"); }

    std::map<std::wstring, int> Counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }
    int Total() {
        std::lock_guard<std::mutex> lock(mutex_);
        int total = 0;
        for (const auto& entry : counts_) {
            total += entry.second;
        }
        return total;
    }

    // Called inside each call, after it has been counted.
    std::function<void()> during;

private:
    void Note(const std::wstring& key) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++counts_[key];
        }
        if (during) {
            during();
        }
    }

    std::mutex mutex_;
    std::map<std::wstring, int> counts_;
};

std::string Policy(const std::string& id) {
    return R"({"polid":")" + id + R"(","content":{"files":[{"rule":")" + id + R"("}]}})";
}

using ClientConcurrency = ClientThroughPlugin;

TEST_F(ClientConcurrency, WalksOnSeveralAgentThreadsRunTogetherWhileTheHostAddsAndRemoves) {
    constexpr int kThreads = 4;
    constexpr int kPolicies = 400;
    vornint_client_script script{0, 0, 0, kThreads};
    ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &script), VORNINT_OK);

    // The first calls wait until two walks are inside the subscriber at once: were walks serialised, the
    // wait would run out. The host starts changing subscribers only after that, since a waiting writer
    // keeps new walks out (writers are preferred) and would serialise them too.
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool overlapped = false;
    bool gave_up = false;
    CountingHandle stable;
    stable.during = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        if (inside >= 2) {
            overlapped = true;
        }
        changed.notify_all();
        if (!overlapped && !gave_up) {
            gave_up = !changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return overlapped; });
        }
        --inside;
    };
    CountingHandle last;
    ASSERT_EQ(client_->AddPolicyHandle(&stable), 0ul);
    std::vector<CountingHandle> transients(4);
    ASSERT_EQ(client_->AddPolicyHandle(&last), 0ul);
    ASSERT_EQ(client_->Start(2), 0ul);

    auto deliver = [](int n) {
        const std::string id = "P" + std::to_string(n);
        return vornint_deliver(0, n % 3 == 2 ? VORNINT_REMOVE_POLICY : VORNINT_RUN_POLICY, 0, Policy(id).c_str());
    };
    for (int n = 0; n < kThreads; ++n) {
        ASSERT_EQ(deliver(n), VORNINT_OK);
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(2 * kWaitMs), [&] { return overlapped || gave_up; });
    }

    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    sync_test::WorkerThread host;
    auto changing = host.Post([&] {
        while (!done.load()) {
            for (CountingHandle& t : transients) {
                EXPECT_EQ(client_->AddPolicyHandle(&t), 0ul);
            }
            for (CountingHandle& t : transients) {
                EXPECT_EQ(client_->RemovePolicyHandle(&t), 0ul);
            }
            changes += 2 * static_cast<int>(transients.size());
        }
    });
    // In batches, each after a round of the host's changes, so that deliveries and changes interleave.
    for (int n = kThreads; n < kPolicies; ++n) {
        if (n % 20 == 0) {
            const int seen = changes.load();
            ASSERT_TRUE(sync_test::Eventually([&] { return changes.load() > seen; })) << "the host is stuck";
        }
        ASSERT_EQ(deliver(n), VORNINT_OK);
    }
    EXPECT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, 6 * kWaitMs), VORNINT_OK) << "deliveries are stuck";
    done = true;
    ASSERT_TRUE(changing->WaitFor(kWaitMs)) << "the host's add and remove are stuck";
    client_->Stop();

    EXPECT_TRUE(overlapped);
    EXPECT_GT(changes.load(), 0);
    for (CountingHandle* h : {&stable, &last}) {
        const auto counts = h->Counts();
        EXPECT_EQ(counts.size(), static_cast<size_t>(kPolicies));
        for (const auto& entry : counts) {
            EXPECT_EQ(entry.second, 1) << testing::PrintToString(entry.first);
        }
    }
    for (CountingHandle& t : transients) {
        for (const auto& entry : t.Counts()) {
            EXPECT_EQ(entry.second, 1) << "a transient subscriber was called twice for "
                                       << testing::PrintToString(entry.first);
        }
    }
    std::vector<DWORD> threads;
    for (const auto& entry : vornint::Entries(VORNINT_DELIVERED)) {
        EXPECT_EQ(entry.data.threw, 0);
        if (std::find(threads.begin(), threads.end(), entry.data.thread_id) == threads.end()) {
            threads.push_back(entry.data.thread_id);
        }
    }
    EXPECT_GE(threads.size(), 2u);
}

// Texts an agent gone wrong, or an attacker on its channel, could hand over.
class HostileTexts {
public:
    explicit HostileTexts(unsigned seed) : random_(seed) {}

    struct Text {
        std::string bytes;
        bool valid;  // known to be a complete, valid policy
    };

    Text Next(int n) {
        std::string text = Policy("P" + std::to_string(n));
        switch (Pick(12)) {
            case 0:
                return {text, true};
            case 1:
                text.resize(Pick(text.size()));
                break;
            case 2:
                text = R"({"polid":)" + Choice(kOddValues) + R"(,"content":{"files":[1]}})";
                break;
            case 3:
                text = R"({"polid":"P","content":{"files":)" + Choice(kOddValues) + "}}";
                break;
            case 4:
                text = R"({"polid":"P","content":{"files":[")" +
                       std::string(1000 + Pick(Pick(50) == 0 ? 300000 : 3000), 'x') + R"("]}})";
                break;
            case 5: {
                const int depths[] = {10, 998, 999, 1000, 1001, 1002, 5000};
                const size_t depth = depths[Pick(std::size(depths))];
                text =
                    R"({"polid":"P","content":{"files":[)" + std::string(depth, '[') + std::string(depth, ']') + "]}}";
                break;
            }
            case 6:
                for (size_t k = 1 + Pick(3); k > 0; --k) {
                    text.insert(Pick(text.size() + 1), Choice(kBadUtf8));
                }
                break;
            case 7:
                // The agent's text ends at the first NUL, whatever followed it.
                text[Pick(text.size())] = '\0';
                text.resize(std::char_traits<char>::length(text.c_str()));
                break;
            case 8:
                for (size_t k = 1 + Pick(5); k > 0; --k) {
                    text[Pick(text.size())] = static_cast<char>(1 + Pick(255));
                }
                break;
            case 9:
                text.clear();
                for (size_t k = Pick(200); k > 0; --k) {
                    text.push_back(static_cast<char>(1 + Pick(255)));
                }
                break;
            case 10:
                text.clear();
                for (size_t k = Pick(40); k > 0; --k) {
                    text += Choice(kTokens);
                }
                break;
            default:
                text = R"({"polid":"P","content":{"files":[{"a":)" + Choice(kOddValues) + "}]}}";
                break;
        }
        return {text, false};
    }

private:
    size_t Pick(size_t bound) { return bound == 0 ? 0 : std::uniform_int_distribution<size_t>(0, bound - 1)(random_); }
    std::string Choice(const std::vector<std::string>& list) { return list[Pick(list.size())]; }

    const std::vector<std::string> kOddValues = {
        "true",  "null",       "3.5",         "[]",          "{}",          "\"\"",     "0",
        "-1",    "2147483647", "-2147483648", "4294967295",  "4294967296",  "1e400",    "-0",
        "[1,2]", "[[]]",       "{\"a\":[]}",  "\"\\u0000\"", "\"\\ud800\"", "\"\xFF\"",
    };
    const std::vector<std::string> kBadUtf8 = {"\xFF",         "\xC0\x80",         "\x80",
                                               "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"};
    const std::vector<std::string> kTokens = {"{",    "}",  "[",  "]",     ":",         ",",           "\"",
                                              "1",    "-",  "e",  "polid", "\"polid\"", "\"content\"", "\"files\"",
                                              "null", "//", "/*", "*/",    " "};
    std::mt19937 random_;
};

// Direct calls into the policy_handler base, as the agent library's thread makes them; every text must
// either reach the subscriber once or be refused with exactly one logged reason, and nothing may escape.
TEST(ClientHostileInput, EveryTextReachesTheSubscriberOrLogsExactlyOneReason) {
    constexpr unsigned kSeed = 20240611;
    constexpr int kTexts = 12000;
    Endpoint::Vorn::NG::ClientImpl client;
    StandInLogApi log(GetModuleHandleW(L"log.dll"));
    ASSERT_TRUE(log.Valid()) << "the stand-in log.dll beside this executable was not bound";
    CountingHandle subscriber;
    ASSERT_EQ(client.AddPolicyHandle(&subscriber), 0ul);
    vorn::policy_handler& agent_side = client;

    HostileTexts texts(kSeed);
    int reached = 0, refused = 0;
    for (int n = 0; n < kTexts; ++n) {
        const HostileTexts::Text text = texts.Next(n);
        const bool removal = n % 2 == 1;
        log.Clear();
        const int before = subscriber.Total();
        if (removal) {
            agent_side.on_remove_policy(text.bytes.c_str());
        } else {
            agent_side.on_run_policy(text.bytes.c_str());
        }
        const int calls = subscriber.Total() - before;
        const auto lines = WrittenLines(log);
        int reasons = 0;
        for (const LogLine& line : LinesOf(lines, L"Endpoint::Vorn::NG::PolicyImpl::Parse")) {
            ++reasons;
            EXPECT_EQ(line.level, 0x04u);
        }
        ASSERT_EQ(lines.size(), 2u + reasons) << "seed " << kSeed << " text " << n;
        ASSERT_TRUE((calls == 1 && reasons == 0) || (calls == 0 && reasons == 1))
            << "seed " << kSeed << " text " << n << ": " << calls << " calls, " << reasons << " reasons";
        if (text.valid) {
            ASSERT_EQ(calls, 1) << "seed " << kSeed << " text " << n << " was refused: " << text.bytes;
        }
        (calls == 1 ? reached : refused)++;
    }
    EXPECT_GT(reached, kTexts / 10);
    EXPECT_GT(refused, kTexts / 2);
    // The list is not left locked by any of them.
    EXPECT_EQ(client.RemovePolicyHandle(&subscriber), 0ul);
}

}  // namespace
