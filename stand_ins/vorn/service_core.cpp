// The stand-in's agent service state.
#include "stand_ins/vorn/service_core.h"

#include <windows.h>

#include <utility>

#include "stand_ins/agent/vorn_agent.h"

namespace vorn_stand_in {

void ServiceCore::SetInitialLogSettings(LogSettings settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    initial_settings_ = std::move(settings);
}

void ServiceCore::StartAsync() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    // The simulated agent serves when a state folder is named (VORN_AGENT_DIR or vorn_agent_dir.txt beside
    // vorn.dll); without one the service only records that it runs.
    agent_started_ = vorn_agent_start(nullptr) == ERROR_SUCCESS;
}

void ServiceCore::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    if (agent_started_) {
        vorn_agent_stop();
        agent_started_ = false;
    }
}

bool ServiceCore::Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

ServiceCore& ServiceCore::Instance() {
    static ServiceCore* core = new ServiceCore();
    return *core;
}

}  // namespace vorn_stand_in
