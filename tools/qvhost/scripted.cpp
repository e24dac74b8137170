// Scripting the stand-in vornint.dll through its control exports, found at run time.
#include "tools/qvhost/scripted.h"

#include <windows.h>

#include <cstdio>

#include "equipment/files.h"
#include "equipment/processes.h"
#include "equipment/text.h"
#include "stand_ins/log/log_stand_in.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tools/qvhost/console.h"
#include "tools/qvhost/plugin.h"

namespace qvhost {

void QuietStandIns() {
    SetEnvironmentVariableW(L"VORNINT_RECORD", L"off");
    const StandInLogApi log(GetModuleHandleW(L"log.dll"));
    if (log.SetRecording != nullptr) {
        log.SetRecording(0);
    }
}

bool DeliverThroughStandIn(const std::wstring& policy) {
    using DeliverFn = int (*)(int, int, int, const char*);
    const auto deliver = equipment::ExportOf<DeliverFn>(L"vornint.dll", "vornint_deliver");
    if (deliver == nullptr) {
        Say(L"   the loaded vornint.dll is not the stand-in; nothing delivered\n");
        return false;
    }
    const int result = deliver(VORNINT_LATEST_CLIENT, VORNINT_RUN_POLICY, 0, equipment::ToUtf8(policy).c_str());
    Say(L"   the stand-in vornint.dll queued the policy (result %d)\n", result);
    return result == VORNINT_OK;
}

bool ScriptSettingsReply(const std::wstring& file) {
    using ScriptFn = int (*)(int, int, const vornint_command_script*);
    const auto script = equipment::ExportOf<ScriptFn>(L"vornint.dll", "vornint_script_command");
    std::string reply;
    if (script == nullptr || equipment::ReadWholeFile(file, 1 << 20, reply) != ERROR_SUCCESS) {
        Say(L"cannot give the stand-in vornint.dll the reply %ls\n", file.c_str());
        return false;
    }
    constexpr int kGetSettings = 1;
    const vornint_command_script get_settings{0, 1, reply.c_str(), 0};
    return script(VORNINT_ALL_CLIENTS, kGetSettings, &get_settings) == VORNINT_OK;
}

}  // namespace qvhost
