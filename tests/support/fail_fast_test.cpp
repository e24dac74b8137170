// qv::FailFast: through Windows' fail-fast where kernel32 has it, through TerminateProcess where it does not,
// and the process ends at once either way.
#include "support/fail_fast.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "equipment/processes.h"
#include "tests/import_hook.h"

using equipment::ChildArgument;
using equipment::kFailFastExitSeen;
using equipment::RunTestInChild;

namespace {

constexpr UINT kReturned = 7;
// The child's exit code when the fail-fast export was called: this base plus the flags it was called with.
constexpr UINT kRaisedBase = 0x100;
constexpr UINT kRaisedWithNoRecord = 0x200;

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFn g_real_get_proc_address = nullptr;
bool g_export_missing = false;

void WINAPI RecordingRaiseFailFast(PEXCEPTION_RECORD record, PCONTEXT context, DWORD flags) {
    ExitProcess(kRaisedBase + flags + (record == nullptr && context == nullptr ? kRaisedWithNoRecord : 0));
}

// Hands out the recording function for RaiseFailFastException, or nothing as on a system without it.
FARPROC WINAPI ScriptedGetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && std::strcmp(name, "RaiseFailFastException") == 0) {
        return g_export_missing ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RecordingRaiseFailFast));
    }
    return g_real_get_proc_address(module, name);
}

}  // namespace

TEST(FailFastChild, DISABLED_Run) {
    g_export_missing = ChildArgument() == L"missing";
    g_real_get_proc_address = reinterpret_cast<GetProcAddressFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcAddress")));
    ImportHook hook(GetModuleHandleW(nullptr), "kernel32.dll", "GetProcAddress", &ScriptedGetProcAddress);
    if (!hook.Active()) {
        ExitProcess(1);
    }
    qv::FailFast();
    ExitProcess(kReturned);
}

TEST(FailFast, RaisesWindowsFailFastWithTheCallersAddress) {
    // No record of our own, so that Windows fills in STATUS_FAIL_FAST_EXCEPTION and the address
    // (FAIL_FAST_GENERATE_EXCEPTION_ADDRESS, 0x1).
    EXPECT_EQ(static_cast<UINT>(RunTestInChild("FailFastChild.DISABLED_Run", L"recorded", 20000)),
              kRaisedBase + kRaisedWithNoRecord + 0x1);
}

TEST(FailFast, EndsTheProcessWithTheFailFastCodeWithoutTheExport) {
    EXPECT_EQ(static_cast<UINT>(RunTestInChild("FailFastChild.DISABLED_Run", L"missing", 20000)), kFailFastExitSeen);
}
