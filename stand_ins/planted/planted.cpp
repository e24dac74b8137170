// A DLL that anybody could drop into a folder under the name of an agent library. It exports nothing; when it is
// loaded, its entry point appends its own path as one line to the file that VORN_PLANTED_MARK names, so that a
// test sees whether, and from where, a process loaded it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t mark[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"VORN_PLANTED_MARK", mark, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return TRUE;
    }
    char line[MAX_PATH + 1] = {};
    DWORD size = GetModuleFileNameA(self, line, MAX_PATH);
    line[size++] = '\n';
    HANDLE file = CreateFileW(mark, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, size, &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
