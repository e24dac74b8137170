// File helpers of the simulated agent's state folder: whole-file reads, atomic replacement, appends, listings.
// Every function returns a Windows error code (0 on success).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/unique_resource.h"

namespace vorn_agent {

// CreateFileW's result in an owner; a failure leaves the owner empty and the error in GetLastError.
qv::UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

// Reads the whole file; ERROR_FILE_TOO_LARGE beyond max_size bytes.
DWORD ReadWholeFile(const std::wstring& path, size_t max_size, std::string& text);

// Writes text to path + ".tmp", flushes it and moves it over path in one step, so that a reader (or a crash) sees
// either the old document or the new one, never a mix.
DWORD ReplaceFileAtomically(const std::wstring& path, const std::string& text);

// Appends bytes in one write to a file opened for appending only. Windows keeps such writes from interleaving;
// Wine may put two of them, made through different handles at once, at the same offset, so the writers of one
// file take one lock around their appends.
DWORD AppendToFile(const std::wstring& path, const std::string& bytes);

// Names of the files in folder whose names end in suffix (case-insensitive), in ordinal order of the name.
std::vector<std::wstring> ListFiles(const std::wstring& folder, const std::wstring& suffix);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace vorn_agent
