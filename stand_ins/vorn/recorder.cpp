// The stand-in's record of calls.
#include "stand_ins/vorn/recorder.h"

#include <utility>

namespace vorn_stand_in {

void Recorder::RecordLogConfig(LogConfigRecord record) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_log_config_ = std::move(record);
    ++counts_.set_initial_log_config;
    calls_.push_back(VORN_CALL_SET_INITIAL_LOG_CONFIG);
}

void Recorder::Record(VornControlCall call) {
    std::lock_guard<std::mutex> lock(mutex_);
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

void Recorder::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    last_log_config_.reset();
    counts_ = CallCounts{};
    calls_.clear();
}

std::optional<LogConfigRecord> Recorder::LastLogConfig() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_log_config_;
}

CallCounts Recorder::Counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::vector<int> Recorder::Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

Recorder& Recorder::Instance() {
    static Recorder* recorder = new Recorder();
    return *recorder;
}

}  // namespace vorn_stand_in
