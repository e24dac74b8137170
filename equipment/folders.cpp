// Folders: listings, removal, scratch folders, this program's own.
#include "equipment/folders.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "equipment/files.h"
#include "equipment/processes.h"

namespace equipment {

namespace {

std::wstring Child(const std::wstring& folder, const std::wstring& name) {
    return folder.empty() || folder.back() == L'\\' || folder.back() == L'/' ? folder + name : folder + L"\\" + name;
}

// Calls take(found) for every entry of the folder but "." and "..".
template <typename Take>
void ForEachEntry(const std::wstring& folder, Take take) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(Child(folder, L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) {
            take(found);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::vector<std::wstring> ListFiles(const std::wstring& folder, const std::wstring& suffix) {
    std::vector<std::wstring> names;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && name.size() > suffix.size() &&
            _wcsicmp(name.c_str() + name.size() - suffix.size(), suffix.c_str()) == 0) {
            names.push_back(name);
        }
    });
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::wstring& folder) {
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& found) {
        const std::wstring path = Child(folder, found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveTree(path);
        } else {
            DeleteFileW(path.c_str());
        }
    });
    for (int attempt = 0; !RemoveDirectoryW(folder.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
                          GetLastError() != ERROR_PATH_NOT_FOUND && attempt < 50;
         ++attempt) {
        Sleep(20);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ExecutableFolder() { return FolderOf(ExecutablePath()); }

std::wstring NewTempFolder(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static LONG serial = 0;
    const std::wstring path = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(InterlockedIncrement(&serial)) + L"\\";
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

TempFolder::TempFolder(const wchar_t* prefix) : path_(NewTempFolder(prefix)) {}

TempFolder::~TempFolder() { RemoveTree(path_); }

bool TempFolder::Write(const std::wstring& relative, const std::string& text) const {
    return WriteFileText(File(relative), text);
}

std::string TempFolder::Read(const std::wstring& relative) const { return ReadFileText(File(relative)); }

bool TempFolder::CopyIn(const std::wstring& source, const std::wstring& name) const {
    return CopyFileW(source.c_str(), File(name).c_str(), FALSE) != FALSE;
}

}  // namespace equipment
