// The simulated agent's own log: agent.log in its state folder, one time-stamped line per event worth knowing
// (connections, refused input, failed state changes). It never goes through the plug-in's logging.
#pragma once

#include <mutex>
#include <string>

namespace vorn_agent {

class AgentLog {
public:
    // Lines before Open, or when the file cannot be written, go to stderr only.
    void Open(const std::wstring& path);
    void Write(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

private:
    std::mutex mutex_;
    std::wstring path_;
};

}  // namespace vorn_agent
