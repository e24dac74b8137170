// The helpers through which the plug-in writes every log line: levels, plain messages and trace scopes.
//
// Formats are wide and follow the Microsoft wide-printf convention that log.dll applies:
// %s takes a wide string, %S a narrow string, %d a signed 32-bit integer.
#pragma once

#include <cstdint>

namespace logging {

enum Level : unsigned int {
    LevelError = 0x04,    // failures
    LevelWarning = 0x08,  // configuration and settings-document warnings
    LevelTrace = 0x20,    // trace lines and information
};

// The level of a message that reports a result: information when it is 0, an error otherwise.
constexpr unsigned int LevelByResult(long long result) noexcept { return result == 0 ? LevelTrace : LevelError; }

// Writes one plain message under the operation's fully qualified name. Nothing is written, and log.dll is
// never loaded for it, while no reference to the log binder is held.
void WriteMessage(unsigned int level, const wchar_t* function, const wchar_t* format, ...) noexcept;

// Brackets a traced operation with "-> name()" and "<- name() [elapsed ms]" lines.
// Holds both names in fixed arrays and allocates nothing.
class TraceScope {
public:
    explicit TraceScope(const wchar_t* function) noexcept;
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    std::uint32_t start_tick_;
    wchar_t display_name_[260];
    wchar_t function_name_[260];
};

}  // namespace logging
