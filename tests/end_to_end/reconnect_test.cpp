// The plug-in's settings manager across a restart of the agent, over the connected stand-in vornint.dll: the
// agent going away must hold an Update back until it is back, and then the change must arrive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <json/json.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/settings_manager.h"
#include "stand_ins/agent/vorn_agent.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tests/end_to_end/host_tool_run.h"
#include "tests/plugin_loader.h"
#include "tests/stand_ins/agent_test_support.h"
#include "tests/support/sync/worker_thread.h"

namespace {

using Endpoint::Vorn::Settings::IData;
using Endpoint::Vorn::Settings::IManager;
using sync_test::Eventually;

constexpr int kUpdateSettings = 2;

std::string Custid(const std::string& settings_json) {
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(settings_json);
    return Json::parseFromStream(builder, in, &value, &errors) ? value["id"]["custid"].asString() : "(not JSON)";
}

// Notification ids the manager's client has been handed, in order.
std::vector<int> DeliveredNotifications() {
    std::vector<int> ids;
    for (const vornint::Entry& entry : vornint::Entries(VORNINT_DELIVERED)) {
        if (entry.data.delivery == VORNINT_NOTIFICATION) {
            ids.push_back(entry.data.notification_id);
        }
    }
    return ids;
}

size_t UpdatesSent() {
    size_t count = 0;
    for (const vornint::Entry& entry : vornint::Entries(VORNINT_SENT_COMMAND)) {
        count += entry.data.command == kUpdateSettings ? 1 : 0;
    }
    return count;
}

class SettingsAcrossAgentRestart : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.Loaded());
        ASSERT_TRUE(end_to_end::CopyAgentFolder(end_to_end::SampleAgentFolder(), folder_.Dir()));
        vornint_reset();
        vornint_connect_to_agent(pipe_.c_str());
        ASSERT_EQ(vorn_agent_start_on(folder_.Dir().c_str(), pipe_.c_str()), 0u);
        void* object = nullptr;
        ASSERT_EQ(plugin_.Create(L"Vorn.Settings", Endpoint::Vorn::IID_ISettingsManager, &object), 0u);
        manager_ = static_cast<IManager*>(object);
        ASSERT_EQ(manager_->Init(), 0u);
    }
    void TearDown() override {
        if (manager_ != nullptr) {
            manager_->Uninit();
            plugin_.Destroy(L"Vorn.Settings", manager_);
        }
        vorn_agent_stop();
        vornint_connect_to_agent(nullptr);
    }

    agent_test::StateFolder folder_;
    const std::wstring pipe_ = agent_test::UniquePipe();
    PluginLoader plugin_;
    IManager* manager_ = nullptr;
};

TEST_F(SettingsAcrossAgentRestart, UpdateWaitsWhileTheAgentIsGoneAndCompletesWhenItIsBack) {
    ASSERT_TRUE(Eventually([] { return DeliveredNotifications() == std::vector<int>{4}; }));
    const std::string before = Custid(folder_.Read(L"settings.json"));
    ASSERT_NE(before, "CUST-AFTER-RESTART");

    vorn_agent_stop();
    ASSERT_TRUE(Eventually([] {
        return DeliveredNotifications() == std::vector<int>{4, 5};
    })) << testing::PrintToString(DeliveredNotifications());
    Endpoint::Vorn::Settings::Record record;
    EXPECT_NE(manager_->Read(record), 0u) << "Read does not wait for the agent";

    IData* change = manager_->CreateData();
    ASSERT_EQ(change->SetCustId(qv::WString(L"CUST-AFTER-RESTART")), 0u);
    std::future<unsigned long> update =
        std::async(std::launch::async, [this, change] { return manager_->Update(change); });
    EXPECT_EQ(update.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout);
    EXPECT_EQ(UpdatesSent(), 0u) << "the change went out while the agent was away";

    ASSERT_EQ(vorn_agent_start_on(folder_.Dir().c_str(), pipe_.c_str()), 0u);
    if (update.wait_for(std::chrono::milliseconds(agent_test::kWaitMs * 2)) != std::future_status::ready) {
        // The update would wait for 100 minutes, and the future's destructor with it.
        std::fprintf(stderr, "Update did not complete after the agent came back; notifications %s\n",
                     testing::PrintToString(DeliveredNotifications()).c_str());
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    EXPECT_EQ(update.get(), 0u);
    manager_->DestroyData(change);
    EXPECT_EQ(DeliveredNotifications(), (std::vector<int>{4, 5, 4}));
    EXPECT_EQ(UpdatesSent(), 1u);
    EXPECT_EQ(Custid(folder_.Read(L"settings.json")), "CUST-AFTER-RESTART");
}

}  // namespace
