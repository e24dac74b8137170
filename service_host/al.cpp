// The in-process agent loader.
#include "service_host/al.h"

#include <cstdint>

#include "agent_link/agent_library.h"
#include "interfaces/interface_ids.h"
#include "service_host/vorn_service.h"
#include "support/logging/log_message.h"
#include "support/strings/utf8.h"

namespace Endpoint::Vorn::NG {

namespace {

constexpr wchar_t kLoggerPluginName[] = L"Product.Configuration.Logger";

// What the host's record says before the host writes into it. The fields this loader does not read are the
// host's, but a host that fills only part of the record must still find its own defaults there.
void SetLoggerDefaults(Product::LoggerSettings& settings) {
    settings.enabled = 0;
    settings.max_size = 10240;
    settings.reserved12 = 0;
    (void)settings.log_dir.Reserve(64);
    settings.reserved24 = 0;
    settings.reserved28 = 0;
    settings.reserved32 = 1;
    settings.level_mask = 7;
    settings.reserved40 = 1;
    const std::uint8_t reserved44[4] = {1, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        settings.reserved44[i] = reserved44[i];
    }
    settings.reserved48[0] = 1;
    settings.reserved48[1] = 1;
}

struct LevelName {
    std::int32_t bit;
    const char* name;
};

// Most verbose first: the first bit set in the host's mask names the agent's level.
constexpr LevelName kLevelNames[] = {
    {0x20, "trace"}, {0x10, "info"}, {0x08, "warning"}, {0x04, "error"}, {0x02, "critical"}, {0x01, "critical"},
};
constexpr char kLevelOff[] = "off";

const char* AgentLevelName(const Product::LoggerSettings& settings) {
    if (settings.enabled == 0) {
        return kLevelOff;
    }
    for (const LevelName& level : kLevelNames) {
        if ((settings.level_mask & level.bit) != 0) {
            return level.name;
        }
    }
    return kLevelOff;
}

// The agent keeps one log file, whatever the host's record holds.
constexpr int kAgentMaxFiles = 1;

}  // namespace

AL::AL() : logger_(kLoggerPluginName) { log_.Acquire(); }

void* AL::QueryInterface(const GUID& iid) {
    if (SameInterfaceId(iid, IID_IQvBaseInterface) || SameInterfaceId(iid, IID_IServPlugin)) {
        return static_cast<IServPlugin*>(this);
    }
    return nullptr;
}

constexpr wchar_t kInitName[] = L"Endpoint::Vorn::NG::AL::Init";

unsigned long AL::Init(Product::IHost* host) {
    logging::TraceScope scope(kInitName);
    // Without the agent library there is no agent to configure, and the logger plug-in is not asked for.
    if (BindAgentLibrary(AgentLibrary::Service, kInitName) != ERROR_SUCCESS) {
        return 0;
    }
    Product::IComponentManager* manager = host != nullptr ? host->GetComponentManager() : nullptr;
    Product::ILoggerConfiguration* logger = logger_.GetPlugin(manager);
    if (logger != nullptr) {
        Product::LoggerSettings settings{};
        SetLoggerDefaults(settings);
        (void)logger->fill(&settings);
        SetPreStartLoggerSettings(settings);
    } else {
        logging::WriteMessage(logging::LevelWarning, kInitName, L"failed to get logger config.");
    }
    // The agent reads its initial log configuration when its service object is made, so this comes last.
    (void)vorn::vorn_service::instance();
    return 0;
}

constexpr wchar_t kSetPreStartLoggerSettingsName[] = L"Endpoint::Vorn::NG::AL::SetPreStartLoggerSettings";

void AL::SetPreStartLoggerSettings(const Product::LoggerSettings& settings) {
    logging::TraceScope scope(kSetPreStartLoggerSettingsName);
    const qv::AString directory = qv::ToUtf8(settings.log_dir);
    const char* level = AgentLevelName(settings);
    const int max_size = settings.max_size;
    logging::WriteMessage(logging::LevelTrace, kSetPreStartLoggerSettingsName,
                          L"Set initial vorn log settings: level[%S] dir_path [%S] max_size[%d] max_files[%d]", level,
                          directory.GetString(), max_size, kAgentMaxFiles);
    // GetString is "" for an empty directory, never null: the agent is promised text in both text arguments.
    vorn::vorn_service::set_initial_log_config(level, directory.GetString(), max_size, kAgentMaxFiles, nullptr);
}

constexpr wchar_t kUnInitName[] = L"Endpoint::Vorn::NG::AL::UnInit";

void AL::UnInit() {
    logging::TraceScope scope(kUnInitName);
    logger_.Release();
}

constexpr wchar_t kStartName[] = L"Endpoint::Vorn::NG::AL::Start";

unsigned long AL::Start() {
    logging::TraceScope scope(kStartName);
    if (BindAgentLibrary(AgentLibrary::Service, kStartName) != ERROR_SUCCESS) {
        return 0;
    }
    vorn::vorn_service::instance().start_async();
    if (Product::ILoggerConfiguration* logger = logger_.Get()) {
        (void)logger->subscribe(static_cast<Product::ILoggerConfiguration::IEvents*>(this), 0);
    }
    return 0;
}

constexpr wchar_t kStopName[] = L"Endpoint::Vorn::NG::AL::Stop";

void AL::Stop() {
    logging::TraceScope scope(kStopName);
    if (BindAgentLibrary(AgentLibrary::Service, kStopName) != ERROR_SUCCESS) {
        return;
    }
    vorn::vorn_service::instance().stop();
    if (Product::ILoggerConfiguration* logger = logger_.Get()) {
        (void)logger->unsubscribe(static_cast<Product::ILoggerConfiguration::IEvents*>(this), 0);
    }
}

constexpr wchar_t kOnSettingsChangedName[] = L"Endpoint::Vorn::NG::AL::OnSettingsChanged";

// The agent takes its log configuration only before it starts, so a change waits for the next Init.
unsigned long AL::OnSettingsChanged() {
    logging::TraceScope scope(kOnSettingsChangedName);
    return 0;
}

}  // namespace Endpoint::Vorn::NG
