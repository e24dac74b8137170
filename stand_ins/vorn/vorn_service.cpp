// vorn::vorn_service of the stand-in vorn.dll: each call is recorded, then carried out by the service core.
#include "service_host/vorn_service.h"

#include <optional>
#include <string>

#include "stand_ins/vorn/recorder.h"
#include "stand_ins/vorn/service_core.h"

namespace {

std::optional<std::string> CopyText(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace

namespace vorn {

void vorn_service::set_initial_log_config(const char* level, const char* log_dir, int max_size, int max_files,
                                          const char* reserved) {
    vorn_stand_in::LogConfigRecord record{CopyText(level), CopyText(log_dir), max_size, max_files, CopyText(reserved)};
    vorn_stand_in::ServiceCore::Instance().SetInitialLogSettings(
        {record.level.value_or(std::string()), record.log_dir.value_or(std::string()), max_size, max_files});
    vorn_stand_in::Recorder::Instance().RecordLogConfig(std::move(record));
}

vorn_service& vorn_service::instance() {
    vorn_stand_in::Recorder::Instance().Record(VORN_CALL_INSTANCE);
    // Never destroyed, as in the agent: the host may still hold the reference while the process ends.
    static vorn_service* const service = new vorn_service();
    return *service;
}

void vorn_service::start_async() {
    vorn_stand_in::Recorder::Instance().Record(VORN_CALL_START_ASYNC);
    vorn_stand_in::ServiceCore::Instance().StartAsync();
}

void vorn_service::stop() {
    vorn_stand_in::Recorder::Instance().Record(VORN_CALL_STOP);
    vorn_stand_in::ServiceCore::Instance().Stop();
}

}  // namespace vorn
