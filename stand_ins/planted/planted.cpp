// A DLL that anybody could drop into a folder under the name of an agent library. It exports nothing; when it is
// loaded, its entry point appends its own path as one line to the file that VORN_PLANTED_MARK names, so that a
// test sees whether, and from where, a process loaded it.
#include <windows.h>

#include "equipment/environment.h"
#include "equipment/files.h"
#include "equipment/processes.h"
#include "equipment/text.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    const std::wstring mark = equipment::EnvironmentValue(L"VORN_PLANTED_MARK");
    if (!mark.empty()) {
        equipment::AppendToFile(mark, equipment::ToUtf8(equipment::ModulePath(self)) + "\n");
    }
    return TRUE;
}
