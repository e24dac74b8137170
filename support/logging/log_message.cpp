// The plain-message sequence and the trace scope lines.
#include "support/logging/log_message.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdarg>
#include <cwchar>

#include "support/logging/log_handle.h"

namespace logging {

void WriteMessage(unsigned int level, const wchar_t* function, const wchar_t* format, ...) noexcept {
    if (LogHandle::UserCount() == 0) {
        return;
    }
    try {
        LogHandle handle;
        CLogDLL* binder = handle.Acquire();
        const unsigned int level_value = level;
        va_list args;
        va_start(args, format);
        binder->WriteV(0, &level_value, ThisModule(), function, format, args);
        va_end(args);
    } catch (...) {
        // A line that cannot be written (no memory for a binder) is dropped; logging never fails an operation.
    }
}

namespace {

void WriteTraceLine(short step, const wchar_t* function, const wchar_t* format, ...) noexcept {
    try {
        LogHandle handle;
        CLogDLL* binder = handle.Acquire();
        const unsigned int level_value = LevelTrace;
        va_list args;
        va_start(args, format);
        binder->WriteV(step, &level_value, ThisModule(), function, format, args);
        va_end(args);
    } catch (...) {
    }
}

}  // namespace

TraceScope::TraceScope(const wchar_t* function) noexcept : start_tick_(timeGetTime()) {
    display_name_[0] = L'\0';
    function_name_[0] = L'\0';
    if (function != nullptr) {
        wcsncpy_s(display_name_, 258, function, _TRUNCATE);
        wcscat_s(display_name_, 260, L"()");
        wcsncpy_s(function_name_, 260, function, _TRUNCATE);
    }
    WriteTraceLine(+1, function_name_, L"-> %s", display_name_);
}

TraceScope::~TraceScope() {
    const std::uint32_t elapsed = timeGetTime() - start_tick_;
    WriteTraceLine(-1, function_name_, L"<- %s [%d]", display_name_, static_cast<int>(elapsed));
}

}  // namespace logging
