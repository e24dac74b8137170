// Reading and setting environment variables.
#include "equipment/environment.h"

#include <windows.h>

namespace equipment {

namespace {

// The value, and whether the variable is set at all (an empty value is).
bool ReadVariable(const wchar_t* name, std::wstring& value) {
    value.assign(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
        if (length < value.size()) {
            value.resize(length);
            return length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        }
        value.assign(length, L'\0');  // too small: length counts the terminator
    }
}

}  // namespace

std::wstring EnvironmentValue(const wchar_t* name) {
    std::wstring value;
    ReadVariable(name, value);
    return value;
}

bool EnvironmentSays(const wchar_t* name, const wchar_t* value) {
    return _wcsicmp(EnvironmentValue(name).c_str(), value) == 0;
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    had_value_ = ReadVariable(name, old_value_);
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}

}  // namespace equipment
