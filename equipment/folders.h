// Folders: listings, removal of a whole tree, scratch folders, and where this program lies. A folder may be given
// with or without its trailing backslash; what is handed out says which it has.
#pragma once

#include <string>
#include <vector>

namespace equipment {

// The names of the files (not folders) in folder whose names end in suffix, case-insensitively, in ordinal order.
std::vector<std::wstring> ListFiles(const std::wstring& folder, const std::wstring& suffix);

// Removes the folder with everything in it. A child process that ran there may hold the folder as its current
// directory for a moment after it has ended, so the removal is tried again for up to a second.
void RemoveTree(const std::wstring& folder);

// The folder of a path, with its trailing backslash: "C:\a\b.dll" gives "C:\a\"; empty when the path has none.
std::wstring FolderOf(const std::wstring& path);

// The folder of this process's executable, with its trailing backslash.
std::wstring ExecutableFolder();

// Makes a new folder under the temporary directory, named prefix, this process's id and a serial number, and returns
// its path with the trailing backslash; whether it was made shows in whether it exists.
std::wstring NewTempFolder(const wchar_t* prefix);

// A new empty folder under the temporary directory (NewTempFolder), removed with everything in it when the owner goes
// unless it was told to keep it.
class TempFolder {
public:
    explicit TempFolder(const wchar_t* prefix = L"vorn-test-");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return path_; }
    // Without one.
    std::wstring Dir() const { return path_.substr(0, path_.size() - 1); }
    std::wstring File(const std::wstring& relative) const { return path_ + relative; }
    bool Write(const std::wstring& relative, const std::string& text) const;
    std::string Read(const std::wstring& relative) const;
    // Copies source into the folder under name; false when the copy fails.
    bool CopyIn(const std::wstring& source, const std::wstring& name) const;

private:
    std::wstring path_;
};

}  // namespace equipment
