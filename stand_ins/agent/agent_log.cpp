// The simulated agent's log file.
#include "stand_ins/agent/agent_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "equipment/files.h"

using equipment::AppendToFile;

namespace vorn_agent {

void AgentLog::Open(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
}

void AgentLog::Write(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof(message), format, args);
    va_end(args);

    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1200];
    const int length =
        snprintf(line, sizeof(line), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] %s\r\n", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentThreadId(), message);
    if (length <= 0) {
        return;
    }
    const DWORD size = static_cast<DWORD>(length < static_cast<int>(sizeof(line)) ? length : sizeof(line) - 1);

    std::lock_guard<std::mutex> lock(mutex_);
    if (!path_.empty()) {
        // Opened per line and shared, so that a reader (a test, a person with a pager) never blocks the agent.
        if (AppendToFile(path_, std::string(line, size)) == ERROR_SUCCESS) {
            return;
        }
    }
    fprintf(stderr, "vorn-agent: %s\n", message);
}

}  // namespace vorn_agent
