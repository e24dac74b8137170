// The test control exports of the stand-in vorn.dll.
#include "stand_ins/vorn/vorn_control.h"

#include <algorithm>
#include <cstring>

#include "stand_ins/agent/vorn_agent.h"
#include "stand_ins/vorn/recorder.h"
#include "stand_ins/vorn/service_core.h"

namespace {

void CopyOut(const std::optional<std::string>& text, VornControlText& out) {
    out = VornControlText{};
    if (!text) {
        out.is_null = 1;
        return;
    }
    const std::size_t length = std::min(text->size(), static_cast<std::size_t>(VORN_CONTROL_TEXT_MAX - 1));
    std::memcpy(out.text, text->data(), length);
    out.truncated = length < text->size() ? 1 : 0;
}

}  // namespace

extern "C" {

VORN_CONTROL_API void VornControlReset(void) {
    vorn_stand_in::ServiceCore::Instance().Stop();
    vorn_stand_in::Recorder::Instance().Reset();
}

VORN_CONTROL_API int VornControlGetLogConfig(VornControlLogConfig* config) {
    const std::optional<vorn_stand_in::LogConfigRecord> record = vorn_stand_in::Recorder::Instance().LastLogConfig();
    if (!record || config == nullptr) {
        return 0;
    }
    CopyOut(record->level, config->level);
    CopyOut(record->log_dir, config->log_dir);
    config->max_size = record->max_size;
    config->max_files = record->max_files;
    CopyOut(record->reserved, config->reserved);
    return 1;
}

VORN_CONTROL_API void VornControlGetCounts(VornControlCounts* counts) {
    if (counts == nullptr) {
        return;
    }
    const vorn_stand_in::CallCounts recorded = vorn_stand_in::Recorder::Instance().Counts();
    counts->set_initial_log_config = recorded.set_initial_log_config;
    counts->instance = recorded.instance;
    counts->start_async = recorded.start_async;
    counts->stop = recorded.stop;
    counts->running = vorn_stand_in::ServiceCore::Instance().Running() ? 1 : 0;
    counts->journal_failures = vorn_agent_journal_failures();
}

VORN_CONTROL_API unsigned long VornControlGetCalls(int* calls, unsigned long capacity) {
    const std::vector<int> recorded = vorn_stand_in::Recorder::Instance().Calls();
    if (calls != nullptr) {
        std::copy_n(recorded.begin(), std::min<std::size_t>(recorded.size(), capacity), calls);
    }
    return static_cast<unsigned long>(recorded.size());
}

}  // extern "C"
