// Installing and removing the agent's service through "Vorn.Service".
#include "tools/qvhost/service.h"

#include <cstdio>

#include "equipment/folders.h"
#include "equipment/text.h"
#include "interfaces/interface_ids.h"
#include "interfaces/service.h"
#include "tools/qvhost/console.h"

namespace qvhost {

namespace {

using Endpoint::Vorn::IService;

constexpr wchar_t kExecutable[] = L"VornHostService.exe";
constexpr wchar_t kAgentDirFile[] = L"vorn_agent_dir.txt";

// A folder under the temporary folder with the service's executable and its agent-folder file; removed with
// them when the owner goes. The service never runs from it, so nothing holds the files by then.
class ServiceFolder {
public:
    ServiceFolder(const std::wstring& agent_dir, const std::wstring& pipe_name)
        : folder_(L"vorn-demo-service-"),
          ready_(folder_.CopyIn(equipment::ExecutableFolder() + kExecutable, kExecutable) &&
                 folder_.Write(kAgentDirFile, equipment::ToUtf8(agent_dir + L"\r\n" + pipe_name + L"\r\n"))) {}

    bool Ready() const { return ready_; }
    // Without a trailing backslash, as the service takes it.
    std::wstring Path() const { return folder_.Dir(); }

private:
    equipment::TempFolder folder_;
    bool ready_;
};

const wchar_t* YesNo(bool value) { return value ? L"yes" : L"no"; }

// Install or Uninstall, printed with the system's text for a failure.
unsigned long Run(IService& service, bool install, const std::wstring& directory, const wchar_t* indent) {
    const qv::WString folder(directory.c_str());
    const unsigned long result = install ? service.Install(folder) : service.Uninstall(folder);
    Say(L"%ls%ls(%ls) -> %lu%ls%ls\n", indent, install ? L"Install" : L"Uninstall", directory.c_str(), result,
        result != 0 ? L" - " : L"", result != 0 ? ErrorText(result).c_str() : L"");
    return result;
}

}  // namespace

bool ShowServiceRoundTrip(const Plugin& plugin, const std::wstring& agent_dir, const std::wstring& pipe_name) {
    Object<IService> service(plugin, L"Vorn.Service", Endpoint::Vorn::IID_IService);
    if (!service) {
        Say(L"   Vorn.Service is not available (result %lu)\n", service.CreateResult());
        return false;
    }
    service->Init();
    bool ok = false;
    qv::WString executable;
    service->GetExecutableName(executable);
    ServiceFolder folder(agent_dir, pipe_name);
    if (!folder.Ready()) {
        Say(L"   cannot prepare %ls with %ls and %ls\n", folder.Path().c_str(), executable.c_str(), kAgentDirFile);
    } else if (service->IsInstalled()) {
        Say(L"   IsInstalled -> yes: a \"VornHostService\" was installed before; left alone (remove it with "
            L"qvhost service uninstall DIR)\n");
    } else {
        Say(L"   %ls holds a copy of %ls and %ls (naming the agent's folder and pipe)\n", folder.Path().c_str(),
            executable.c_str(), kAgentDirFile);
        Say(L"   IsInstalled -> no\n");
        const bool installed = Run(*service, true, folder.Path(), L"   ") == 0;
        const bool shown = service->IsInstalled();
        Say(L"   IsInstalled -> %ls\n", YesNo(shown));
        const bool removed = Run(*service, false, folder.Path(), L"   ") == 0;
        const bool gone = !service->IsInstalled();
        Say(L"   IsInstalled -> %ls\n", YesNo(!gone));
        ok = installed && shown && removed && gone;
    }
    service->Uninit();
    return ok;
}

int RunServiceCommand(const Plugin& plugin, const std::wstring& verb, const std::wstring& directory) {
    Object<IService> service(plugin, L"Vorn.Service", Endpoint::Vorn::IID_IService);
    if (!service) {
        Say(L"Vorn.Service is not available (result %lu)\n", service.CreateResult());
        return 1;
    }
    service->Init();
    int rc = 0;
    if (verb == L"status") {
        qv::WString name;
        service->GetExecutableName(name);
        Say(L"the agent's service (executable %ls) is %ls\n", name.c_str(),
            service->IsInstalled() ? L"installed" : L"not installed");
    } else {
        rc = Run(*service, verb == L"install", directory, L"") == 0 ? 0 : 1;
    }
    service->Uninit();
    return rc;
}

}  // namespace qvhost
