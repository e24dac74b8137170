// What the simulated agent's tests share: scratch state folders, unique pipe names, and a handler that records
// its callbacks and lets a test wait for them, never longer than kWaitMs.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "agent_link/vorn_comm_client.h"

namespace agent_test {

constexpr unsigned long kWaitMs = 5000;

inline std::wstring Unique(const wchar_t* prefix) {
    static LONG counter = 0;
    return std::wstring(prefix) + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L"-" + std::to_wstring(GetTickCount64());
}

inline std::wstring UniquePipe() { return Unique(L"\\\\.\\pipe\\vorn-agent-test-"); }

inline bool WriteText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

inline std::string ReadText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A state folder under the temporary folder with empty policies/ and removals/, removed with its content.
class StateFolder {
public:
    StateFolder() : path_(TempPath() + Unique(L"vorn-agent-")) {
        CreateDirectoryW(path_.c_str(), nullptr);
        CreateDirectoryW((path_ + L"\\policies").c_str(), nullptr);
        CreateDirectoryW((path_ + L"\\removals").c_str(), nullptr);
    }
    ~StateFolder() { Remove(path_); }
    StateFolder(const StateFolder&) = delete;
    StateFolder& operator=(const StateFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring File(const wchar_t* relative) const { return path_ + L"\\" + relative; }
    bool Write(const wchar_t* relative, const std::string& text) const { return WriteText(File(relative), text); }
    std::string Read(const wchar_t* relative) const { return ReadText(File(relative)); }

private:
    static std::wstring TempPath() {
        wchar_t path[MAX_PATH];
        const DWORD length = GetTempPathW(MAX_PATH, path);
        return std::wstring(path, length);
    }
    static void Remove(const std::wstring& folder) {
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(folder + L"\\" + name);
                } else {
                    DeleteFileW((folder + L"\\" + name).c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
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

// Polls condition every 10 ms for up to kWaitMs.
inline bool Eventually(const std::function<bool()>& condition) {
    const ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (!condition()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

}  // namespace agent_test
