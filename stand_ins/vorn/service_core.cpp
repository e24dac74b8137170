// The stand-in's agent service state.
#include "stand_ins/vorn/service_core.h"

#include <utility>

#include "stand_ins/agent/vorn_agent.h"

namespace vorn_stand_in {

void ServiceCore::SetInitialLogSettings(LogSettings settings) {
    qv::CriticalSectionGuard guard(lock_);
    initial_settings_ = std::move(settings);
}

void ServiceCore::StartAsync() {
    qv::CriticalSectionGuard guard(lock_);
    running_ = true;
    // The simulated agent serves when a state folder is named (VORN_AGENT_DIR or vorn_agent_dir.txt beside
    // vorn.dll); without one the service only records that it runs.
    agent_started_ = vorn_agent_start(nullptr) == ERROR_SUCCESS;
}

void ServiceCore::Stop() {
    qv::CriticalSectionGuard guard(lock_);
    running_ = false;
    if (agent_started_) {
        vorn_agent_stop();
        agent_started_ = false;
    }
}

bool ServiceCore::Running() {
    qv::CriticalSectionGuard guard(lock_);
    return running_;
}

ServiceCore& Core() {
    static ServiceCore core;
    return core;
}

}  // namespace vorn_stand_in
