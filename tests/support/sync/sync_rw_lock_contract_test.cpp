// CSyncRWLock misuse ends the process with the fail-fast code. Each misuse runs in a child: this test
// executable started again with "--sync-misuse=<name>", which does the misuse before any test runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>

#include "support/fail_fast.h"
#include "support/sync/sync_rw_lock.h"
#include "tests/test_process.h"
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
    const int exit_code =
        RunProgram(OwnPath(), kMisuseSwitch + std::wstring(GetParam().name), 3 * sync_test::kFinishes);
    ASSERT_NE(exit_code, -1) << "the child neither ended nor returned";
    EXPECT_EQ(static_cast<DWORD>(exit_code), GetParam().expectedExit);
}

INSTANTIATE_TEST_SUITE_P(SyncRWLock, LockMisuse, ::testing::ValuesIn(kMisuses), [](const auto& info) {
    std::string name;
    for (const wchar_t* c = info.param.name; *c != L'\0'; ++c) {
        name += *c == L'-' ? '_' : static_cast<char>(*c);
    }
    return name;
});

}  // namespace
