// The policy client as the host sees it: the plug-in loaded, "Vorn.Client" created through QvCreateObject,
// the stand-in vornint.dll playing the agent and the stand-in log.dll recording every line.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/client.h"
#include "interfaces/interface_ids.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"

namespace client_test {

// Long enough for anything that must finish under load; short enough that a deadlock fails in seconds.
constexpr unsigned long kWaitMs = 5000;

inline std::wstring Std(const qv::WString& text) { return std::wstring(text.c_str(), text.GetLength()); }

// One call a subscriber received.
struct Received {
    const void* subscriber;
    std::string method;
    std::wstring id;
    std::wstring content;
    DWORD thread;
    bool operator==(const Received& other) const {
        return subscriber == other.subscriber && method == other.method && id == other.id && content == other.content;
    }
};

// Calls of several subscribers in the order they happened.
class Journal {
public:
    void Add(Received call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<Received> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<Received> calls_;
};

// A host subscriber that notes what it received, copying the policy's id and content while the call lasts.
class RecordingHandle : public Endpoint::Vorn::IPolicyHandle {
public:
    explicit RecordingHandle(Journal* journal) : journal_(journal) {}
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override {
        journal_->Add({this, "OnRunPolicy", Std(policy->GetId()), Std(policy->GetContent()), GetCurrentThreadId()});
        if (during) {
            during();
        }
    }
    void OnRemovePolicy(const qv::WString& id) override {
        journal_->Add({this, "OnRemovePolicy", Std(id), L"", GetCurrentThreadId()});
        if (during) {
            during();
        }
    }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {
        journal_->Add({this, "OnLiveCommand", L"", L"", GetCurrentThreadId()});
    }

    // Runs inside each run and remove call, after it has been noted.
    std::function<void()> during;

private:
    Journal* journal_;
};

inline void PrintTo(const Received& call, std::ostream* os) {
    *os << call.subscriber << " " << call.method << "(" << testing::PrintToString(call.id) << ", "
        << testing::PrintToString(call.content) << ")";
}

// A fresh stand-in record, the plug-in loaded and one "Vorn.Client" created with the IClient ID.
class ClientThroughPlugin : public testing::Test {
protected:
    void SetUp() override {
        vornint_reset();
        ASSERT_TRUE(plugin_.Loaded());
        log_ = StandInLogApi(GetModuleHandleW(L"log.dll"));
        ASSERT_TRUE(log_.Valid()) << "the plug-in did not bind the stand-in log.dll beside it";
        log_.SetRecording(1);
        client_ = Create();
        ASSERT_NE(client_, nullptr);
        log_.Clear();
    }

    void TearDown() override {
        Destroy(client_);
        vornint_reset();
    }

    Endpoint::Vorn::IClient* Create() {
        void* object = nullptr;
        EXPECT_EQ(plugin_.Create(L"Vorn.Client", Endpoint::Vorn::IID_IClient, &object), 0ul);
        return static_cast<Endpoint::Vorn::IClient*>(object);
    }

    void Destroy(Endpoint::Vorn::IClient*& client) {
        if (client != nullptr) {
            plugin_.Destroy(L"Vorn.Client", client);
            client = nullptr;
        }
    }

    // Queues one callback to the newest stand-in client and waits until it has run.
    void Deliver(int delivery, const char* text, int notification_id = 0) {
        ASSERT_EQ(vornint_deliver(VORNINT_LATEST_CLIENT, delivery, notification_id, text), VORNINT_OK);
        ASSERT_EQ(vornint_wait_idle(VORNINT_ALL_CLIENTS, kWaitMs), VORNINT_OK);
    }

    PluginLoader plugin_;
    StandInLogApi log_{nullptr};
    Endpoint::Vorn::IClient* client_ = nullptr;
    Journal journal_;
};

}  // namespace client_test
