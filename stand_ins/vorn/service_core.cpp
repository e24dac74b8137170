// The stand-in's agent service state.
#include "stand_ins/vorn/service_core.h"

#include <utility>

namespace vorn_stand_in {

void ServiceCore::SetInitialLogSettings(LogSettings settings) {
    qv::CriticalSectionGuard guard(lock_);
    initial_settings_ = std::move(settings);
}

void ServiceCore::StartAsync() {
    qv::CriticalSectionGuard guard(lock_);
    running_ = true;
}

void ServiceCore::Stop() {
    qv::CriticalSectionGuard guard(lock_);
    running_ = false;
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
