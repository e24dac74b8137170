// "Vorn.Settings" as the host gets it from bin/vornplug.dll, over the stand-in vornint.dll.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <utility>

#include "interfaces/interface_ids.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"

namespace settings_test {

constexpr unsigned long kWaitMs = 5000;

// Runs one call on a thread of its own, so that a test can see whether it blocks. A call still blocked after
// kWaitMs when the test needs its result ends the process: a hang must fail in seconds, and the call may still
// use objects that the test is about to destroy.
class Pending {
public:
    explicit Pending(std::function<unsigned long()> call)
        : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this, call] {
              result_ = call();
              SetEvent(done_);
          }) {}
    ~Pending() {
        (void)Result();
        thread_.join();
        CloseHandle(done_);
    }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    bool ReturnsWithin(unsigned long ms) const { return WaitForSingleObject(done_, ms) == WAIT_OBJECT_0; }

    unsigned long Result() const {
        if (!ReturnsWithin(kWaitMs)) {
            std::fprintf(stderr, "a call is still blocked after %lu ms\n", kWaitMs);
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return result_;
    }

private:
    HANDLE done_;
    std::atomic<unsigned long> result_{0};
    std::thread thread_;
};

inline unsigned long Bounded(std::function<unsigned long()> call) { return Pending(std::move(call)).Result(); }

class SettingsManagerTest : public testing::Test {
protected:
    void SetUp() override {
        vornint_reset();
        ASSERT_TRUE(plugin_.Loaded());
        void* object = nullptr;
        ASSERT_EQ(plugin_.Create(L"Vorn.Settings", Endpoint::Vorn::IID_ISettingsManager, &object), 0u);
        manager_ = static_cast<Endpoint::Vorn::Settings::IManager*>(object);
        ASSERT_TRUE(log_.Valid());
        log_.Clear();
    }
    void TearDown() override {
        DestroyManager();
        vornint_reset();
    }
    void DestroyManager() {
        if (manager_ != nullptr) {
            plugin_.Destroy(L"Vorn.Settings", manager_);
            manager_ = nullptr;
        }
    }

    static void ScriptClient(int client_index, int start_result, bool connected) {
        const vornint_client_script script{start_result, connected ? 1 : 0, 0, 1};
        ASSERT_EQ(vornint_script_client(client_index, &script), VORNINT_OK);
    }
    static void ScriptReply(int command, int result, const char* data, long long code) {
        const vornint_command_script script{result, 1, data, code};
        ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, command, &script), VORNINT_OK);
    }
    // Delivers a notification from the stand-in's own thread and waits until the manager has taken it.
    static void Notify(int id, const char* json = "{}", int client_index = VORNINT_LATEST_CLIENT) {
        ASSERT_EQ(vornint_deliver(client_index, VORNINT_NOTIFICATION, id, json), VORNINT_OK);
        ASSERT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, kWaitMs), VORNINT_OK);
    }

    PluginLoader plugin_;
    KeptStandInLog log_;
    Endpoint::Vorn::Settings::IManager* manager_ = nullptr;
};

}  // namespace settings_test
