// logging::CLogDLL: the binding to the host product's log.dll, found and loaded at run time.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>

#include "support/unique_resource.h"

namespace logging {

// LogWrite(step, &level, module, function, format, args): one line to the host's log.
using LogWriteFn = HRESULT (*)(short step, const unsigned int* level, HMODULE module, const wchar_t* function,
                               const wchar_t* format, va_list args);

class CLogDLL {
public:
    // Finds log.dll (already loaded by the host, else beside the plug-in's own file) and binds its exports.
    CLogDLL() noexcept;
    // Tells log.dll that this module is done with it, then unloads it.
    ~CLogDLL();
    CLogDLL(const CLogDLL&) = delete;
    CLogDLL& operator=(const CLogDLL&) = delete;

    // Forwards one line to LogWrite; its result is not looked at by any caller. Whatever log.dll throws
    // passes through to the caller, which releases its handle on the way out.
    HRESULT Write(short step, const unsigned int* level, HMODULE module, const wchar_t* function, const wchar_t* format,
                  ...);
    HRESULT WriteV(short step, const unsigned int* level, HMODULE module, const wchar_t* function,
                   const wchar_t* format, va_list args);

    HMODULE Module() const noexcept { return module_.get(); }

private:
    using FarProc = void (*)();

    qv::UniqueModule module_;
    // In the order of log.dll's export table; only LogWrite, LogUninitDeskMetrics and LogRemoveModule
    // are ever called.
    FarProc LogApplySettings_ = nullptr;
    FarProc LogSetSettingsFile_ = nullptr;
    FarProc LogEnable_ = nullptr;
    FarProc LogSetLevel_ = nullptr;
    FarProc LogSetPath_ = nullptr;
    FarProc LogSetType_ = nullptr;
    FarProc LogSetMode_ = nullptr;
    FarProc LogSetMaxSize_ = nullptr;
    FarProc LogSetDepth_ = nullptr;
    LogWriteFn LogWrite_ = nullptr;
    FarProc LogIsEnabled_ = nullptr;
    FarProc LogMonitorSettings_ = nullptr;
    FarProc LogUninitDeskMetrics_ = nullptr;
    FarProc LogTrackEvent_ = nullptr;
    FarProc LogTrackEventData_ = nullptr;
    FarProc LogRemoveModule_ = nullptr;
    FarProc LogGetLevel_ = nullptr;
};

// The image this code is linked into (the plug-in in production): log.dll is looked for beside it,
// and every line names it as the writing module.
HMODULE ThisModule() noexcept;

// The full path of `file_name` in the folder of this module's own file, in a buffer of 32,767 characters; null when
// the path cannot be made.
std::unique_ptr<wchar_t[]> PathBesideThisModule(const wchar_t* file_name) noexcept;

}  // namespace logging
