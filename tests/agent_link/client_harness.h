// The policy client as the host sees it: the plug-in loaded, "Vorn.Client" created through QvCreateObject, the
// stand-in vornint.dll playing the agent library and the stand-in log.dll recording every line.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "equipment/log_records.h"
#include "equipment/plugin_loader.h"
#include "interfaces/client.h"
#include "interfaces/interface_ids.h"
#include "stand_ins/vornint/vornint_control.h"

namespace client_test {

constexpr unsigned long kWaitMs = 5000;
const std::wstring kClient = L"Endpoint::Vorn::NG::ClientImpl::";

inline std::wstring Std(const qv::WString& text) { return std::wstring(text.c_str(), text.GetLength()); }

// A host subscriber that notes each call as "subscriber method id content", copying the policy while it lasts.
class RecordingHandle : public Endpoint::Vorn::IPolicyHandle {
public:
    RecordingHandle(std::vector<std::wstring>* journal, std::mutex* mutex, wchar_t tag)
        : journal_(journal), mutex_(mutex), tag_(tag) {}
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override {
        Note(L"run " + Std(policy->GetId()) + L" " + Std(policy->GetContent()));
    }
    void OnRemovePolicy(const qv::WString& id) override { Note(L"remove " + Std(id)); }
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override { Note(L"live"); }

    // Runs inside each call, after it has been noted.
    std::function<void()> during;

private:
    void Note(const std::wstring& call) {
        {
            std::lock_guard<std::mutex> lock(*mutex_);
            journal_->push_back(std::wstring(1, tag_) + L" " + call);
        }
        if (during) {
            during();
        }
    }
    std::vector<std::wstring>* journal_;
    std::mutex* mutex_;
    wchar_t tag_;
};

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
    std::vector<std::wstring> Journal() {
        std::lock_guard<std::mutex> lock(mutex_);
        return journal_;
    }
    void ClearJournal() {
        std::lock_guard<std::mutex> lock(mutex_);
        journal_.clear();
    }

    equipment::PluginLoader plugin_;
    StandInLogApi log_{nullptr};
    Endpoint::Vorn::IClient* client_ = nullptr;
    std::mutex mutex_;
    std::vector<std::wstring> journal_;
    RecordingHandle a_{&journal_, &mutex_, L'a'}, b_{&journal_, &mutex_, L'b'};
};

}  // namespace client_test
