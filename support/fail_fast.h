// The one way the plug-in ends the process on an integrity failure (overwritten memory, lock misuse).
#pragma once

#include <windows.h>

namespace qv {

// STATUS_FAIL_FAST_EXCEPTION: the process's exit code and the crash report's exception code after FailFast.
constexpr UINT kFailFastExitCode = 0xC0000602u;

// Ends the process at once through Windows' own fail-fast, as WIL does: no exception handler, no destructor and
// no DLL detach runs, so state that failed an integrity check is never touched again, and Windows Error
// Reporting still records the crash with its address and a dump for the host's support team.
//
// RaiseFailFastException is looked up in kernel32 at the moment of failure, since it exists only from
// Windows 7 on and not every SDK's headers declare it; where it is missing (or ever returned), TerminateProcess
// ends the process with the same code, without the report.
[[noreturn]] inline void FailFast() noexcept {
    using RaiseFailFastFn = void(WINAPI*)(PEXCEPTION_RECORD record, PCONTEXT context, DWORD flags);
    constexpr DWORD kGenerateExceptionAddress = 0x1;  // FAIL_FAST_GENERATE_EXCEPTION_ADDRESS
    if (HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll")) {
        auto raise = reinterpret_cast<RaiseFailFastFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel32, "RaiseFailFastException")));
        if (raise != nullptr) {
            // No record: Windows makes one with STATUS_FAIL_FAST_EXCEPTION and the caller's address.
            raise(nullptr, nullptr, kGenerateExceptionAddress);
        }
    }
    TerminateProcess(GetCurrentProcess(), kFailFastExitCode);
    for (;;) {
        // TerminateProcess of the own process does not return; the loop keeps the contract if it ever did.
        Sleep(INFINITE);
    }
}

}  // namespace qv
