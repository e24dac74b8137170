// Loading the plug-in.
#include "tools/qvhost/plugin.h"

#include "tools/qvhost/console.h"

namespace qvhost {

Plugin::~Plugin() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
}

bool Plugin::Load(const std::wstring& path) {
    module_ = LoadLibraryW(path.c_str());
    if (module_ == nullptr) {
        const DWORD error = GetLastError();
        Say(L"could not load %ls: error %lu (%ls)\n", path.c_str(), error, ErrorText(error).c_str());
        return false;
    }
    create_ = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(module_, "QvCreateObject")));
    destroy_ = reinterpret_cast<DestroyFn>(reinterpret_cast<void*>(GetProcAddress(module_, "QvDestroyObject")));
    if (create_ == nullptr || destroy_ == nullptr) {
        Say(L"%ls does not export QvCreateObject and QvDestroyObject\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace qvhost
