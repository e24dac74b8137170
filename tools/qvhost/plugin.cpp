// Loading the plug-in.
#include "tools/qvhost/plugin.h"

#include "tools/qvhost/console.h"

namespace qvhost {

bool Plugin::Load(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    const std::wstring full_path = length != 0 && length < MAX_PATH ? std::wstring(full) : path;
    const unsigned long error = library_.Load(full_path.c_str());
    if (error == ERROR_PROC_NOT_FOUND) {
        Say(L"%ls does not export QvCreateObject and QvDestroyObject\n", full_path.c_str());
    } else if (error != ERROR_SUCCESS) {
        Say(L"could not load %ls: error %lu (%ls)\n", full_path.c_str(), error, ErrorText(error).c_str());
    }
    return error == ERROR_SUCCESS;
}

}  // namespace qvhost
