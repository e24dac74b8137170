// The stand-in vornint.dll as the plug-in links it: its record, its scripted answers and its delivery threads.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_link/vorn_comm_client.h"
#include "stand_ins/vornint/vornint_control.h"

namespace {

constexpr unsigned long kWaitMs = 5000;

// A flag that one thread opens and others wait for, never longer than kWaitMs.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return opened_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

struct Received {
    std::string method;
    int id = 0;
    bool text_null = false;
    std::string text;
    DWORD thread = 0;
};

class RecordingHandler : public vorn::policy_handler, public vorn::notification_handler {
public:
    void on_run_policy(const char* json) override { Add("on_run_policy", 0, json); }
    void on_add_policy(const char* json) override { Add("on_add_policy", 0, json); }
    void on_remove_policy(const char* json) override { Add("on_remove_policy", 0, json); }
    void on_notification(const char* text) override { Add("policy_handler::on_notification", 0, text); }
    void on_notification(int id, const char* json) override { Add("notification_handler::on_notification", id, json); }

    std::vector<Received> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    // Runs inside every callback, after it has been noted.
    std::function<void()> during;

private:
    void Add(const char* method, int id, const char* text) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back({method, id, text == nullptr, text != nullptr ? text : "", GetCurrentThreadId()});
        }
        if (during) {
            during();
        }
    }

    std::mutex mutex_;
    std::vector<Received> calls_;
};

std::vector<int> Kinds(const std::vector<vornint::Entry>& entries) {
    std::vector<int> kinds;
    for (const auto& entry : entries) {
        kinds.push_back(entry.data.kind);
    }
    return kinds;
}

class VornintStandIn : public testing::Test {
protected:
    void SetUp() override { vornint_reset(); }
    void TearDown() override { vornint_reset(); }

    // A started client with the handler registered for both kinds.
    std::unique_ptr<vorn::vorn_comm_client> Started(RecordingHandler& handler, int number = 3) {
        auto client = std::make_unique<vorn::vorn_comm_client>(number, "vorn");
        client->register_policy_handler(&handler);
        client->register_notification_handler(&handler);
        EXPECT_EQ(client->start_async(), 0);
        return client;
    }
};

TEST_F(VornintStandIn, DeliversEachCallbackToItsHandlerOnItsOwnThreadWithTheTextAsGiven) {
    struct Case {
        int delivery;
        int id;
        const char* text;
        const char* method;
    } cases[] = {
        {VORNINT_RUN_POLICY, 0, "{\"polid\":\"P1\"}", "on_run_policy"},
        {VORNINT_ADD_POLICY, 0, "add", "on_add_policy"},
        {VORNINT_REMOVE_POLICY, 0, "{\"polid\":\"P2\"}", "on_remove_policy"},
        {VORNINT_POLICY_NOTIFICATION, 0, "note", "policy_handler::on_notification"},
        {VORNINT_NOTIFICATION, 4, "{}", "notification_handler::on_notification"},
        {VORNINT_RUN_POLICY, 0, nullptr, "on_run_policy"},
        {VORNINT_NOTIFICATION, 5, nullptr, "notification_handler::on_notification"},
    };
    RecordingHandler handler;
    auto client = Started(handler);
    for (const Case& c : cases) {
        ASSERT_EQ(vornint_deliver(VORNINT_LATEST_CLIENT, c.delivery, c.id, c.text), VORNINT_OK);
    }
    ASSERT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, kWaitMs), VORNINT_OK);

    const auto calls = handler.Calls();
    const auto delivered = vornint::Entries(VORNINT_DELIVERED);
    ASSERT_EQ(calls.size(), std::size(cases));
    ASSERT_EQ(delivered.size(), std::size(cases));
    for (size_t n = 0; n < calls.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(calls[n].method, cases[n].method);
        EXPECT_EQ(calls[n].id, cases[n].id);
        EXPECT_EQ(calls[n].text_null, cases[n].text == nullptr);
        EXPECT_EQ(calls[n].text, cases[n].text ? cases[n].text : "");
        EXPECT_NE(calls[n].thread, GetCurrentThreadId());
        EXPECT_EQ(delivered[n].data.thread_id, calls[n].thread);
        EXPECT_EQ(delivered[n].data.delivery, cases[n].delivery);
        EXPECT_EQ(delivered[n].data.text_null, cases[n].text == nullptr ? 1 : 0);
    }
    client->stop();
}

TEST_F(VornintStandIn, StopWaitsForTheRunningCallbackAndDropsTheQueuedOnes) {
    RecordingHandler handler;
    Gate entered, release;
    std::atomic<bool> first{true};
    handler.during = [&] {
        if (first.exchange(false)) {
            entered.Open();
            release.Wait();
        }
    };
    auto client = Started(handler);
    for (const char* text : {"1", "2", "3", "4"}) {
        ASSERT_EQ(vornint_deliver(0, VORNINT_RUN_POLICY, 0, text), VORNINT_OK);
    }
    ASSERT_TRUE(entered.Wait());

    std::atomic<bool> stop_returned{false};
    std::thread stopper([&] {
        client->stop();
        stop_returned = true;
    });
    // stop may not return while the callback still runs.
    Sleep(200);
    EXPECT_FALSE(stop_returned);
    release.Open();
    stopper.join();

    ASSERT_EQ(handler.Calls().size(), 1u);
    const auto entries = vornint::Entries();
    const auto kinds = Kinds(entries);
    ASSERT_EQ(kinds, (std::vector<int>{VORNINT_CONSTRUCTED, VORNINT_REGISTERED_POLICY_HANDLER,
                                       VORNINT_REGISTERED_NOTIFICATION_HANDLER, VORNINT_STARTED, VORNINT_DROPPED,
                                       VORNINT_DROPPED, VORNINT_DROPPED, VORNINT_DELIVERED, VORNINT_STOPPED}));
    EXPECT_EQ(entries[4].text + entries[5].text + entries[6].text, "234");
    EXPECT_EQ(entries.back().data.dropped, 3);
    vornint_client summary{};
    ASSERT_EQ(vornint_get_client(0, &summary, nullptr, 0), VORNINT_OK);
    EXPECT_EQ(summary.delivered, 1);
    EXPECT_EQ(summary.dropped, 3);
    EXPECT_EQ(summary.running, 0);
}

TEST_F(VornintStandIn, StopAndDestructionFromInsideACallbackDoNotDeadlock) {
    RecordingHandler handler;
    std::unique_ptr<vorn::vorn_comm_client> client = Started(handler);
    handler.during = [&] {
        client->stop();
        client.reset();
    };
    ASSERT_EQ(vornint_deliver(0, VORNINT_RUN_POLICY, 0, "p"), VORNINT_OK);
    ASSERT_EQ(vornint_wait_idle(0, kWaitMs), VORNINT_OK);
    const auto kinds = Kinds(vornint::Entries());
    ASSERT_EQ(kinds.size(), 7u);
    EXPECT_EQ(kinds[4], VORNINT_STOPPED);
    EXPECT_EQ(kinds[5], VORNINT_DESTROYED);
    EXPECT_EQ(kinds[6], VORNINT_DELIVERED);
    EXPECT_EQ(vornint::Entries(VORNINT_STOPPED)[0].data.inside_callback, 1);
}

TEST_F(VornintStandIn, SeveralDeliveryThreadsRunOneClientsCallbacksAtOnceWithNoneLostOrRepeated) {
    const vornint_client_script two_threads{0, 0, 0, 2};
    ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &two_threads), VORNINT_OK);
    RecordingHandler handler;
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool overlapped = false;
    handler.during = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (++inside == 2) {
            overlapped = true;
            changed.notify_all();
        }
        // Holding the first callbacks until a second one is inside proves that they overlap.
        changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return overlapped; });
        --inside;
    };
    auto client = Started(handler);

    constexpr int kSenders = 4, kEach = 50;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([s] {
            for (int n = 0; n < kEach; ++n) {
                vornint_deliver(0, VORNINT_RUN_POLICY, 0, std::to_string(s * kEach + n).c_str());
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    ASSERT_EQ(vornint_wait_idle(0, kWaitMs), VORNINT_OK);
    client->stop();

    EXPECT_TRUE(overlapped);
    std::vector<int> seen(kSenders * kEach, 0);
    std::vector<DWORD> threads;
    for (const auto& call : handler.Calls()) {
        ++seen.at(static_cast<size_t>(std::stoi(call.text)));
        if (std::find(threads.begin(), threads.end(), call.thread) == threads.end()) {
            threads.push_back(call.thread);
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kSenders * kEach);
    EXPECT_EQ(threads.size(), 2u);
}

}  // namespace
