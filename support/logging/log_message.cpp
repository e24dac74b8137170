// The plain-message sequence and the trace scope lines.
#include "support/logging/log_message.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdarg>
#include <cwchar>

#include "support/logging/log_handle.h"

namespace logging {

void WriteMessage(unsigned int level, const wchar_t* function, const wchar_t* format, ...) noexcept {
    // Read without the lock: a message racing with the final release may be dropped, and a message never
    // loads log.dll by itself.
    if (LogHandle::UserCount() == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    try {
        LogHandle handle;
        CLogDLL* binder = handle.Acquire();
        const unsigned int level_value = level;
        binder->WriteV(0, &level_value, ThisModule(), function, format, args);
    } catch (...) {
        // No memory for a binder, or log.dll threw: the line is lost; logging never fails an operation.
    }
    va_end(args);
}

TraceScope::TraceScope(const wchar_t* function) noexcept : start_tick_(timeGetTime()) {
    display_name_[0] = L'\0';
    function_name_[0] = L'\0';
    if (function != nullptr) {
        wcsncpy_s(display_name_, 258, function, _TRUNCATE);
        wcscat_s(display_name_, 260, L"()");
        wcsncpy_s(function_name_, 260, function, _TRUNCATE);
    }
    try {
        LogHandle handle;
        CLogDLL* binder = handle.Acquire();
        const unsigned int level_value = LevelTrace;
        binder->Write(+1, &level_value, ThisModule(), function_name_, L"-> %s", display_name_);
    } catch (...) {
    }
}

TraceScope::~TraceScope() {
    try {
        // Acquired before the clock is read: should the binder have to be built again, that time belongs
        // to the operation's figure too.
        LogHandle handle;
        CLogDLL* binder = handle.Acquire();
        const std::uint32_t elapsed = timeGetTime() - start_tick_;
        const unsigned int level_value = LevelTrace;
        binder->Write(-1, &level_value, ThisModule(), function_name_, L"<- %s [%d]", display_name_,
                      static_cast<int>(elapsed));
    } catch (...) {
    }
}

}  // namespace logging
