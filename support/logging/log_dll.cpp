// logging::CLogDLL: locating log.dll, binding its exports and unbinding it.
#include "support/logging/log_dll.h"

#include <cwchar>
#include <memory>
#include <new>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace logging {
namespace {

constexpr DWORD kPathChars = 32767;

HRESULT NoOpWrite(short, const unsigned int*, HMODULE, const wchar_t*, const wchar_t*, va_list) {
    return E_NOINTERFACE;
}

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) noexcept {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

HMODULE ThisModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::unique_ptr<wchar_t[]> PathBesideThisModule(const wchar_t* file_name) noexcept {
    std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[kPathChars]());
    if (!path || GetModuleFileNameW(ThisModule(), path.get(), kPathChars) == 0) {
        return nullptr;
    }
    wchar_t* slash = wcsrchr(path.get(), L'\\');
    if (slash == nullptr) {
        return nullptr;
    }
    const size_t room = kPathChars - static_cast<size_t>(slash - path.get()) - 1;
    if (wcscpy_s(slash + 1, room, file_name) != 0) {
        return nullptr;
    }
    return path;
}

CLogDLL::CLogDLL() noexcept {
    HMODULE found = nullptr;
    if (!GetModuleHandleExW(0, L"log.dll", &found)) {
        if (const auto path = PathBesideThisModule(L"log.dll")) {
            found = LoadLibraryW(path.get());
        }
    }
    module_.reset(found);
    if (!module_) {
        LogWrite_ = NoOpWrite;
        return;
    }
    HMODULE m = module_.get();
    if (auto init = Lookup<void (*)()>(m, "LogInit")) {
        init();
    }
    LogApplySettings_ = Lookup<FarProc>(m, "LogApplySettings");
    LogSetSettingsFile_ = Lookup<FarProc>(m, "LogSetSettingsFile");
    LogEnable_ = Lookup<FarProc>(m, "LogEnable");
    LogSetLevel_ = Lookup<FarProc>(m, "LogSetLevel");
    LogSetPath_ = Lookup<FarProc>(m, "LogSetPath");
    LogSetType_ = Lookup<FarProc>(m, "LogSetType");
    LogSetMode_ = Lookup<FarProc>(m, "LogSetMode");
    LogSetMaxSize_ = Lookup<FarProc>(m, "LogSetMaxSize");
    LogSetDepth_ = Lookup<FarProc>(m, "LogSetDepth");
    LogWrite_ = Lookup<LogWriteFn>(m, "LogWrite");
    LogIsEnabled_ = Lookup<FarProc>(m, "LogIsEnabled");
    LogMonitorSettings_ = Lookup<FarProc>(m, "LogMonitorSettings");
    LogUninitDeskMetrics_ = Lookup<FarProc>(m, "LogUninitDeskMetrics");
    LogTrackEvent_ = Lookup<FarProc>(m, "LogTrackEvent");
    LogTrackEventData_ = Lookup<FarProc>(m, "LogTrackEventData");
    LogRemoveModule_ = Lookup<FarProc>(m, "LogRemoveModule");
    LogGetLevel_ = Lookup<FarProc>(m, "LogGetLevel");
    if (LogWrite_ == nullptr) {
        LogWrite_ = NoOpWrite;
    }
}

CLogDLL::~CLogDLL() {
    if (!module_) {
        return;
    }
    // log.dll belongs to the host; nothing it throws may escape while the module unloads.
    try {
        if (auto deinit = Lookup<void (*)()>(module_.get(), "LogDeinit")) {
            deinit();
        }
        if (LogUninitDeskMetrics_ != nullptr) {
            LogUninitDeskMetrics_();
        }
        if (LogRemoveModule_ != nullptr) {
            reinterpret_cast<void (*)(const char*)>(LogRemoveModule_)("logging::CLogDLL::~CLogDLL");
        }
    } catch (...) {
    }
    // module_ frees the library after this body.
}

HRESULT CLogDLL::Write(short step, const unsigned int* level, HMODULE module, const wchar_t* function,
                       const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    HRESULT hr = WriteV(step, level, module, function, format, args);
    va_end(args);
    return hr;
}

HRESULT CLogDLL::WriteV(short step, const unsigned int* level, HMODULE module, const wchar_t* function,
                        const wchar_t* format, va_list args) {
    return LogWrite_(step, level, module, function, format, args);
}

}  // namespace logging
