// Loading the plug-in, and the tool's small shared helpers.
#include "tools/qvhost/plugin.h"

#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <mutex>

namespace qvhost {

bool Plugin::Load(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    const std::wstring full_path = length != 0 && length < MAX_PATH ? std::wstring(full) : path;
    const unsigned long error = library_.Load(full_path.c_str());
    if (error == ERROR_PROC_NOT_FOUND) {
        Say(L"%ls does not export QvCreateObject and QvDestroyObject\n", full_path.c_str());
    } else if (error != ERROR_SUCCESS) {
        Say(L"could not load %ls: error %lu (%ls)\n", full_path.c_str(), error, ErrorText(error).c_str());
    }
    return error == ERROR_SUCCESS;
}

std::wstring ToolFolder() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring EnvironmentValue(const wchar_t* name) {
    std::wstring value(1024, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    out.resize(out.size() - 1);
    return out;
}

std::wstring ErrorText(unsigned long code) {
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, 512, nullptr);
    std::wstring result(text, length);
    while (!result.empty() && std::iswspace(result.back())) {
        result.pop_back();
    }
    return result.empty() ? L"no description" : result;
}

void Say(const wchar_t* format, ...) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    va_list args;
    va_start(args, format);
    std::vfwprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace qvhost
