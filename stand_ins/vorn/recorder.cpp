// Recording the calls of the stand-in agent library.
#include "stand_ins/vorn/call_recorder.h"

#include <utility>

namespace vorn_stand_in {

void CallRecorder::RecordLogConfig(LogConfigRecord record) {
    qv::CriticalSectionGuard guard(lock_);
    last_log_config_ = std::move(record);
    ++counts_.set_initial_log_config;
    calls_.push_back(VORN_CALL_SET_INITIAL_LOG_CONFIG);
}

void CallRecorder::Record(VornControlCall call) {
    qv::CriticalSectionGuard guard(lock_);
    switch (call) {
        case VORN_CALL_SET_INITIAL_LOG_CONFIG:
            ++counts_.set_initial_log_config;
            break;
        case VORN_CALL_INSTANCE:
            ++counts_.instance;
            break;
        case VORN_CALL_START_ASYNC:
            ++counts_.start_async;
            break;
        case VORN_CALL_STOP:
            ++counts_.stop;
            break;
    }
    calls_.push_back(call);
}

void CallRecorder::Reset() {
    qv::CriticalSectionGuard guard(lock_);
    last_log_config_.reset();
    counts_ = CallCounts{};
    calls_.clear();
}

std::optional<LogConfigRecord> CallRecorder::LastLogConfig() {
    qv::CriticalSectionGuard guard(lock_);
    return last_log_config_;
}

CallCounts CallRecorder::Counts() {
    qv::CriticalSectionGuard guard(lock_);
    return counts_;
}

std::vector<int> CallRecorder::Calls() {
    qv::CriticalSectionGuard guard(lock_);
    return calls_;
}

CallRecorder& Recorder() {
    static CallRecorder recorder;
    return recorder;
}

}  // namespace vorn_stand_in
