// Endpoint::Vorn::NG::ServiceImpl ("Vorn.Service"): installs and removes the agent's Windows service by running
// the agent's own service executable, and tells whether the service is installed.
#pragma once

#include "interfaces/service.h"
#include "support/logging/log_handle.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn::NG {

// Holds no state but its log handle: every operation stands alone and works without Init.
class ServiceImpl : public IService {
public:
    ServiceImpl();

    // IQvBaseInterface, IBaseObject and IService, each answered with the object itself.
    void* QueryInterface(const GUID& iid) override;
    unsigned long Init() override;
    void Uninit() override;
    bool IsInstalled() override;
    // Both block until the executable ends, without limit.
    unsigned long Install(const qv::WString& directory) override;
    unsigned long Uninstall(const qv::WString& directory) override;
    void GetExecutableName(qv::WString& name) override;

    // Runs `application` with `arguments` behind its quoted path, waits for it and stores its exit code. 0, or
    // the Windows error code of the step that failed (1627 when the wait did not end with the process).
    static unsigned long RunProcess(const qv::WString& application, const qv::WString& arguments,
                                    unsigned long* exit_code);

    // The service executable in `directory`: "\" is put between them unless the directory is empty or already
    // ends with "\" or "/"; an empty directory gives the bare file name.
    static qv::WString ExecutablePath(const qv::WString& directory);

private:
    static unsigned long RunExecutable(const qv::WString& directory, const wchar_t* switch_text);

    logging::LogHandle log_;
};

}  // namespace Endpoint::Vorn::NG
