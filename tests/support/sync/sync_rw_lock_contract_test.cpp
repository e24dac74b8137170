// CSyncRWLock misuse ends the process with the fail-fast code. Each misuse runs in a child: this test
// executable started again with "--sync-misuse=<name>", which does the misuse before any test runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>

#include "support/fail_fast.h"
#include "support/sync/sync_rw_lock.h"
#include "support/unique_resource.h"
#include "worker_thread.h"

namespace {

constexpr wchar_t kMisuseSwitch[] = L"--sync-misuse=";
// Exit code of a child whose misuse was let through.
constexpr UINT kMisuseReturned = 3;

struct Misuse {
    const wchar_t* name;
    void (*act)(CSyncRWLock& lock);
    UINT expectedExit;
};

void HoldWriteOnOtherThread(CSyncRWLock& lock) {
    sync_test::WorkerThread* holder = new sync_test::WorkerThread();  // never joined: the process ends here
    holder->Run([&] { lock.WriteLock(0); });
}

const Misuse kMisuses[] = {
    {L"read-unlock-never-locked", [](CSyncRWLock& lock) { lock.ReadUnlock(0); }, qv::kFailFastExitCode},
    {L"read-unlock-once-too-often",
     [](CSyncRWLock& lock) {
         lock.ReadLock(0);
         lock.ReadUnlock(0);
         lock.ReadUnlock(0);
     },
     qv::kFailFastExitCode},
    {L"read-unlock-by-writer-without-nested-read",
     [](CSyncRWLock& lock) {
         lock.WriteLock(0);
         lock.ReadUnlock(0);
     },
     qv::kFailFastExitCode},
    {L"read-unlock-by-other-thread-than-reader",
     [](CSyncRWLock& lock) {
         lock.ReadLock(0);
         lock.ReadUnlock(GetCurrentThreadId() + 4);
     },
     qv::kFailFastExitCode},
    {L"write-unlock-never-locked", [](CSyncRWLock& lock) { lock.WriteUnlock(0); }, qv::kFailFastExitCode},
    {L"write-unlock-by-non-owner",
     [](CSyncRWLock& lock) {
         HoldWriteOnOtherThread(lock);
         lock.WriteUnlock(0);
     },
     qv::kFailFastExitCode},
    {L"write-unlock-with-only-nested-read-left",
     [](CSyncRWLock& lock) {
         lock.WriteLock(0);
         lock.ReadLock(0);
         lock.WriteUnlock(0);
         lock.WriteUnlock(0);
     },
     qv::kFailFastExitCode},
    {L"upgrade-read-to-write",
     [](CSyncRWLock& lock) {
         lock.ReadLock(0);
         lock.WriteLock(0);
     },
     qv::kFailFastExitCode},
    // The control: correct use lets the child return, so a fail-fast above is the misuse's doing.
    {L"balanced-use",
     [](CSyncRWLock& lock) {
         lock.ReadLock(0);
         lock.ReadLock(0);
         lock.ReadUnlock(0);
         lock.ReadUnlock(0);
         lock.WriteLock(0);
         lock.ReadLock(0);
         lock.WriteUnlock(0);
         lock.ReadUnlock(0);
     },
     kMisuseReturned},
};

std::ostream& operator<<(std::ostream& out, const Misuse& misuse) {
    for (const wchar_t* c = misuse.name; *c != L'\0'; ++c) {
        out << static_cast<char>(*c);
    }
    return out;
}

// In the child: runs the misuse named on the command line and returns; the parent sees kMisuseReturned.
bool RunMisuseIfAsked() {
    const wchar_t* found = std::wcsstr(GetCommandLineW(), kMisuseSwitch);
    if (found == nullptr) {
        return false;
    }
    const std::wstring name(found + std::wcslen(kMisuseSwitch));
    for (const Misuse& misuse : kMisuses) {
        if (name == misuse.name) {
            CSyncRWLock lock;
            misuse.act(lock);
        }
    }
    ExitProcess(kMisuseReturned);
}

const bool kRanAsChild = RunMisuseIfAsked();

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

class LockMisuse : public ::testing::TestWithParam<Misuse> {};

TEST_P(LockMisuse, EndsTheProcessWithFailFastCode) {
    ASSERT_FALSE(kRanAsChild);
    std::wstring commandLine = L"\"" + OwnPath() + L"\" " + kMisuseSwitch + GetParam().name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    qv::UniqueHandle process(info.hProcess);
    qv::UniqueHandle thread(info.hThread);

    if (WaitForSingleObject(process.get(), 3 * sync_test::kFinishes) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        FAIL() << "the child neither ended nor returned";
    }
    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(exitCode, GetParam().expectedExit);
}

INSTANTIATE_TEST_SUITE_P(SyncRWLock, LockMisuse, ::testing::ValuesIn(kMisuses), [](const auto& info) {
    std::string name;
    for (const wchar_t* c = info.param.name; *c != L'\0'; ++c) {
        name += *c == L'-' ? '_' : static_cast<char>(*c);
    }
    return name;
});

}  // namespace
