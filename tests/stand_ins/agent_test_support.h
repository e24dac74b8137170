// What the simulated agent's tests share: state folders, unique pipe names, and a handler that records its
// callbacks and lets a test wait for them, never longer than kWaitMs.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "agent_link/vorn_comm_client.h"
#include "tests/test_process.h"

namespace agent_test {

constexpr unsigned long kWaitMs = 5000;

inline std::wstring Unique(const wchar_t* prefix) {
    static LONG counter = 0;
    return std::wstring(prefix) + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L"-" + std::to_wstring(GetTickCount64());
}

inline std::wstring UniquePipe() { return Unique(L"\\\\.\\pipe\\vorn-agent-test-"); }

// A state folder with empty policies\ and removals\, removed with its content.
class StateFolder : public TempFolder {
public:
    StateFolder() : TempFolder(L"vorn-agent-") {
        CreateDirectoryW(File(L"policies").c_str(), nullptr);
        CreateDirectoryW(File(L"removals").c_str(), nullptr);
    }
};

struct Call {
    std::string method;  // "run", "add", "remove", "policy-notification", "notification"
    int id = 0;
    std::string text;
};

class Handler : public vorn::policy_handler, public vorn::notification_handler {
public:
    void on_run_policy(const char* json) override { Add("run", 0, json); }
    void on_add_policy(const char* json) override { Add("add", 0, json); }
    void on_remove_policy(const char* json) override { Add("remove", 0, json); }
    void on_notification(const char* text) override { Add("policy-notification", 0, text); }
    void on_notification(int id, const char* json) override { Add("notification", id, json); }

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // Waits until the calls satisfy done; false after kWaitMs.
    bool WaitFor(const std::function<bool(const std::vector<Call>&)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return done(calls_); });
    }
    // Waits until the calls of one method number at least count.
    bool WaitForCount(const std::string& method, size_t count) {
        return WaitFor([&](const std::vector<Call>& calls) { return Count(calls, method) >= count; });
    }
    // Notification ids, in order, from the notification handler.
    std::vector<int> NotificationIds() {
        std::vector<int> ids;
        for (const Call& call : Calls()) {
            if (call.method == "notification") {
                ids.push_back(call.id);
            }
        }
        return ids;
    }
    static size_t Count(const std::vector<Call>& calls, const std::string& method) {
        size_t count = 0;
        for (const Call& call : calls) {
            count += call.method == method ? 1 : 0;
        }
        return count;
    }

private:
    void Add(const char* method, int id, const char* text) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(Call{method, id, text != nullptr ? text : "(null)"});
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

class Result : public vorn::command_result {
public:
    void set_data(const char* data) override {
        data_null = data == nullptr;
        this->data = data != nullptr ? data : "";
    }
    void set_result(long long value) override {
        code = value;
        set = true;
    }
    bool data_null = true;
    std::string data;
    long long code = -1;
    bool set = false;
};

}  // namespace agent_test
