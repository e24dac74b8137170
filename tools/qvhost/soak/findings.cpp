// Counting and printing what the soak finds wrong.
#include "tools/qvhost/soak/findings.h"

#include <cstdio>

#include "tools/qvhost/console.h"
#include "tools/qvhost/plugin.h"

namespace qvhost {

namespace {

// Beyond this the counts go on and the lines stop: a fault that repeats says enough in its first lines.
constexpr unsigned long kPrintedMax = 40;

}  // namespace

void Findings::Print(const char* kind, const char* format, va_list args) {
    char text[1024];
    vsnprintf(text, sizeof(text), format, args);
    std::lock_guard<std::mutex> lock(mutex_);
    if (printed_ < kPrintedMax) {
        Say(L"soak: %hs: %hs\n", kind, text);
    } else if (printed_ == kPrintedMax) {
        Say(L"soak: further findings are counted, not shown\n");
    }
    ++printed_;
}

void Findings::Lost(const char* format, ...) {
    ++lost_;
    va_list args;
    va_start(args, format);
    Print("lost", format, args);
    va_end(args);
}

void Findings::LostMany(unsigned long count, const char* format, ...) {
    lost_ += count;
    va_list args;
    va_start(args, format);
    Print("lost", format, args);
    va_end(args);
}

void Findings::Stuck(const char* format, ...) {
    ++stuck_;
    va_list args;
    va_start(args, format);
    Print("stuck", format, args);
    va_end(args);
}

}  // namespace qvhost
