// The one way the plug-in ends the process on an integrity failure (overwritten memory, lock misuse).
#pragma once

#include <windows.h>

namespace qv {

// Exit code of a fail-fast, the one Windows gives a process ended by __fastfail.
constexpr UINT kFailFastExitCode = 0xC0000409u;

// Ends the process at once. No exception is thrown, no handler runs, no destructor runs:
// state that failed an integrity check must not be touched again.
[[noreturn]] inline void FailFast() noexcept {
    TerminateProcess(GetCurrentProcess(), kFailFastExitCode);
    for (;;) {
        // TerminateProcess of the own process does not return; the loop keeps the contract if it ever did.
        Sleep(INFINITE);
    }
}

}  // namespace qv
