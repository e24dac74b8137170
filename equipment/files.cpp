// Whole-file reads and writes, atomic replacement and appends.
#include "equipment/files.h"

#include <limits>
#include <sstream>

namespace equipment {

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
}

qv::UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
    HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return qv::UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

DWORD ReadWholeFile(const std::wstring& path, size_t max_size, std::string& text) {
    text.clear();
    qv::UniqueHandle file = OpenFile(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
    if (!file) {
        return GetLastError();
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        return GetLastError();
    }
    if (static_cast<unsigned long long>(size.QuadPart) > max_size) {
        return ERROR_FILE_TOO_LARGE;
    }
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!text.empty() && !ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) {
        const DWORD error = GetLastError();
        text.clear();
        return error;
    }
    text.resize(got);
    return ERROR_SUCCESS;
}

std::string ReadFileText(const std::wstring& path) {
    std::string text;
    ReadWholeFile(path, std::numeric_limits<DWORD>::max(), text);
    return text;
}

std::vector<std::string> ReadFileLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadFileText(path));
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
    qv::UniqueHandle file = OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

DWORD ReplaceFileAtomically(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".tmp";
    {
        qv::UniqueHandle file = OpenFile(temporary, GENERIC_WRITE, 0, CREATE_ALWAYS);
        if (!file) {
            return GetLastError();
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            const DWORD error = GetLastError();
            file.reset();
            DeleteFileW(temporary.c_str());
            return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD AppendToFile(const std::wstring& path, const std::string& bytes) {
    qv::UniqueHandle file = OpenFile(path, FILE_APPEND_DATA, kShareAll, OPEN_ALWAYS);
    if (!file) {
        return GetLastError();
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return GetLastError();
    }
    return written == bytes.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

}  // namespace equipment
