// The process's environment variables, through which tests and tools tell the stand-ins what to do.
#pragma once

#include <string>

namespace equipment {

// The variable's value, of any length; empty when it is not set.
std::wstring EnvironmentValue(const wchar_t* name);

// Whether the variable holds `value`, case-insensitively (VORNINT_MODE=connected, VORNINT_RECORD=off).
bool EnvironmentSays(const wchar_t* name, const wchar_t* value);

// Sets a variable (null removes it) for the owner's lifetime, then restores what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    bool had_value_ = false;
    std::wstring old_value_;
};

}  // namespace equipment
