// The stand-in's agent service: what vorn::vorn_service does, apart from being recorded.
#pragma once

#include <string>

#include "support/unique_resource.h"

namespace vorn_stand_in {

struct LogSettings {
    std::string level;
    std::string log_dir;
    int max_size = 0;
    int max_files = 0;
};

// Today it only keeps the initial log settings and whether it runs; an agent simulated inside the process
// will start and stop here, so the recorder never has to change for it.
class ServiceCore {
public:
    void SetInitialLogSettings(LogSettings settings);
    void StartAsync();
    void Stop();
    bool Running();

private:
    qv::CriticalSection lock_;
    LogSettings initial_settings_;
    bool running_ = false;
};

ServiceCore& Core();

}  // namespace vorn_stand_in
