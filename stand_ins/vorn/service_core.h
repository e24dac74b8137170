// The stand-in's agent service: what vorn::vorn_service does, apart from being recorded.
#pragma once

#include <mutex>
#include <string>

namespace vorn_stand_in {

struct LogSettings {
    std::string level;
    std::string log_dir;
    int max_size = 0;
    int max_files = 0;
};

// Keeps the initial log settings and whether it runs, and starts and stops the simulated agent inside the
// process, so the recorder never has to know about it.
class ServiceCore {
public:
    // Never destroyed, as the recorder.
    static ServiceCore& Instance();

    void SetInitialLogSettings(LogSettings settings);
    void StartAsync();
    void Stop();
    bool Running();

private:
    ServiceCore() = default;

    std::mutex mutex_;
    LogSettings initial_settings_;
    bool running_ = false;
    bool agent_started_ = false;
};

}  // namespace vorn_stand_in
