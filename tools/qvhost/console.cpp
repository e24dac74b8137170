// The host tool's output.
#include "tools/qvhost/console.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <mutex>

namespace qvhost {

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
