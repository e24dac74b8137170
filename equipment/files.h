// Whole-file reads and writes, atomic replacement and appends. Readers share the file with writers and deleters,
// so that reading a log or a journal never blocks the program that writes it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/unique_resource.h"

namespace equipment {

// CreateFileW's result in an owner; a failure leaves the owner empty and the error in GetLastError.
qv::UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

// Reads the whole file: 0 or a Windows error code, ERROR_FILE_TOO_LARGE beyond max_size bytes. text is empty on
// failure.
DWORD ReadWholeFile(const std::wstring& path, size_t max_size, std::string& text);

// The whole content of a file, empty when it cannot be read; and the same split into lines.
std::string ReadFileText(const std::wstring& path);
std::vector<std::string> ReadFileLines(const std::wstring& path);

// Creates or replaces a file with text; false when that fails.
bool WriteFileText(const std::wstring& path, const std::string& text);

// Writes text to path + ".tmp", flushes it and moves it over path in one step, so that a reader (or a crash) sees
// either the old content or the new one, never a mix. 0 or a Windows error code.
DWORD ReplaceFileAtomically(const std::wstring& path, const std::string& text);

// Appends bytes in one write to a file opened for appending only; 0 or a Windows error code. Windows keeps such
// writes from interleaving; Wine may put two of them, made through different handles at once, at the same offset,
// so the writers of one file in one process take one lock around their appends.
DWORD AppendToFile(const std::wstring& path, const std::string& bytes);

inline bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace equipment
