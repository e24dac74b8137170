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

class CommandReply : public vorn::command_result {
public:
    void set_data(const char* data) override { calls.push_back(std::string("data:") + (data ? data : "<null>")); }
    void set_result(long long code) override { calls.push_back("code:" + std::to_string(code)); }
    std::vector<std::string> calls;
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

TEST_F(VornintStandIn, RefusesDeliveryWithoutARunningClientOrHandler) {
    EXPECT_EQ(vornint_deliver(VORNINT_LATEST_CLIENT, VORNINT_RUN_POLICY, 0, "x"), VORNINT_NO_SUCH_CLIENT);
    vorn::vorn_comm_client client(1, "vorn");
    EXPECT_EQ(vornint_deliver(0, VORNINT_RUN_POLICY, 0, "x"), VORNINT_NOT_RUNNING);
    ASSERT_EQ(client.start_async(), 0);
    EXPECT_EQ(vornint_deliver(0, VORNINT_RUN_POLICY, 0, "x"), VORNINT_NO_HANDLER);
    EXPECT_EQ(vornint_deliver(0, 99, 0, "x"), VORNINT_BAD_ARGUMENT);
    RecordingHandler handler;
    client.register_notification_handler(&handler);
    EXPECT_EQ(vornint_deliver(0, VORNINT_RUN_POLICY, 0, "x"), VORNINT_NO_HANDLER);
    EXPECT_EQ(vornint_deliver(0, VORNINT_NOTIFICATION, 4, "x"), VORNINT_OK);
    client.stop();
    EXPECT_EQ(vornint_deliver(0, VORNINT_NOTIFICATION, 4, "x"), VORNINT_NOT_RUNNING);
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

TEST_F(VornintStandIn, DestructionEndsDeliveryAndTellsWhetherStopCameFirst) {
    RecordingHandler handler;
    auto stopped = Started(handler, 1);
    auto not_stopped = Started(handler, 2);
    ASSERT_EQ(vornint_deliver(1, VORNINT_RUN_POLICY, 0, "p"), VORNINT_OK);
    ASSERT_EQ(vornint_wait_idle(1, kWaitMs), VORNINT_OK);
    stopped->stop();
    stopped.reset();
    not_stopped.reset();

    const auto destroyed = vornint::Entries(VORNINT_DESTROYED);
    ASSERT_EQ(destroyed.size(), 2u);
    EXPECT_EQ(destroyed[0].data.client_number, 1);
    EXPECT_EQ(destroyed[0].data.stopped_before, 1);
    EXPECT_EQ(destroyed[1].data.client_number, 2);
    EXPECT_EQ(destroyed[1].data.stopped_before, 0);
    vornint_client summary{};
    ASSERT_EQ(vornint_get_client(1, &summary, nullptr, 0), VORNINT_OK);
    EXPECT_EQ(summary.destroyed_without_stop, 1);
    EXPECT_EQ(vornint_deliver(1, VORNINT_RUN_POLICY, 0, "late"), VORNINT_NOT_RUNNING);
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

TEST_F(VornintStandIn, RecordsEveryCallWithItsArgumentsInOrderAcrossClients) {
    RecordingHandler handler;
    CommandReply reply;
    {
        vorn::vorn_comm_client first(12, "vorn");
        first.register_policy_handler(&handler);
        EXPECT_EQ(first.start_async(), 0);
        EXPECT_FALSE(first.is_connected());
        EXPECT_EQ(first.send_event(vorn::event_priority{}, 101, 5, 0, "{ \"name\" : \"n\" }\n", -1), 0);
        EXPECT_EQ(first.send_event(vorn::event_priority{}, 0xFFFFFFFFull, 3, 1, nullptr, 0), 0);
        EXPECT_EQ(first.send_command(1, nullptr, &reply, 15000), 0);
        EXPECT_EQ(first.send_command(2, "{}\n", nullptr, 15000), 0);
    }
    vorn::vorn_comm_client second(7, "other");
    second.stop();

    const auto entries = vornint::Entries();
    ASSERT_EQ(Kinds(entries),
              (std::vector<int>{VORNINT_CONSTRUCTED, VORNINT_REGISTERED_POLICY_HANDLER, VORNINT_STARTED,
                                VORNINT_ASKED_CONNECTED, VORNINT_SENT_EVENT, VORNINT_SENT_EVENT, VORNINT_SENT_COMMAND,
                                VORNINT_SENT_COMMAND, VORNINT_DESTROYED, VORNINT_CONSTRUCTED, VORNINT_STOPPED}));
    EXPECT_EQ(entries[0].text, "vorn");
    EXPECT_EQ(entries[0].data.client_number, 12);
    EXPECT_EQ(entries[1].data.handler, static_cast<vorn::policy_handler*>(&handler));
    EXPECT_EQ(entries[4].text, "{ \"name\" : \"n\" }\n");
    EXPECT_EQ(entries[4].data.type, 101u);
    EXPECT_EQ(entries[4].data.subtype, 5u);
    EXPECT_EQ(entries[4].data.flags, 0u);
    EXPECT_EQ(entries[4].data.wait, -1);
    EXPECT_EQ(entries[5].data.type, 0xFFFFFFFFull);
    EXPECT_EQ(entries[5].data.flags, 1u);
    EXPECT_EQ(entries[5].data.wait, 0);
    EXPECT_EQ(entries[5].data.text_null, 1);
    EXPECT_EQ(entries[6].data.command, 1);
    EXPECT_EQ(entries[6].data.text_null, 1);
    EXPECT_EQ(entries[6].data.result_object, &reply);
    EXPECT_EQ(entries[6].data.timeout_ms, 15000);
    EXPECT_EQ(entries[7].data.command, 2);
    EXPECT_EQ(entries[7].text, "{}\n");
    EXPECT_EQ(entries[7].data.result_object, nullptr);
    EXPECT_EQ(entries[9].text, "other");
    EXPECT_EQ(entries[9].data.client_index, 1);
    EXPECT_EQ(entries[10].data.client_number, 7);
    EXPECT_TRUE(reply.calls.empty()) << "an unscripted command leaves its result object alone";
}

TEST_F(VornintStandIn, AnswersAsScriptedPerClientElseByDefault) {
    const vornint_client_script by_default{0, 1, 1627, 1};
    const vornint_client_script second_only{5, 0, 0, 1};
    ASSERT_EQ(vornint_script_client(VORNINT_ALL_CLIENTS, &by_default), VORNINT_OK);
    ASSERT_EQ(vornint_script_client(1, &second_only), VORNINT_OK);
    const vornint_command_script settings{0, 1, "{\"a\":1}", 42};
    const vornint_command_script null_reply{0, 1, nullptr, -1};
    const vornint_command_script failure{1460, 0, nullptr, 0};
    ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, 1, &settings), VORNINT_OK);
    ASSERT_EQ(vornint_script_command(1, 1, &null_reply), VORNINT_OK);
    ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, 2, &failure), VORNINT_OK);

    vorn::vorn_comm_client first(1, "vorn"), second(2, "vorn");
    EXPECT_EQ(first.start_async(), 0);
    EXPECT_TRUE(first.is_connected());
    EXPECT_EQ(first.send_event(vorn::event_priority{}, 1, 1, 0, "{}", 0), 1627);
    EXPECT_EQ(second.start_async(), 5);
    EXPECT_FALSE(second.is_connected());
    EXPECT_EQ(second.send_event(vorn::event_priority{}, 1, 1, 0, "{}", 0), 0);
    EXPECT_EQ(vornint_deliver(1, VORNINT_NOTIFICATION, 4, "{}"), VORNINT_NOT_RUNNING)
        << "failed start delivers nothing";

    CommandReply first_reply, second_reply;
    EXPECT_EQ(first.send_command(1, nullptr, &first_reply, 15000), 0);
    EXPECT_EQ(first_reply.calls, (std::vector<std::string>{"data:{\"a\":1}", "code:42"}));
    EXPECT_EQ(second.send_command(1, nullptr, &second_reply, 15000), 0);
    EXPECT_EQ(second_reply.calls, (std::vector<std::string>{"data:<null>", "code:-1"}));
    EXPECT_EQ(second.send_command(2, "{}", nullptr, 15000), 1460);

    // A script changed later reaches a living client.
    const vornint_client_script disconnected{0, 0, 0, 1};
    ASSERT_EQ(vornint_script_client(0, &disconnected), VORNINT_OK);
    EXPECT_FALSE(first.is_connected());
    first.stop();
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
