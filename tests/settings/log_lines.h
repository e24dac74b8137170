// The lines that the stand-in log.dll received, as tests compare them: plain messages and trace lines apart.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "stand_ins/log/log_stand_in.h"
#include "support/strings/utf8.h"

namespace settings_test {

struct LogLine {
    unsigned int level;
    std::wstring function;
    std::wstring text;
    bool operator==(const LogLine& other) const {
        return level == other.level && function == other.function && text == other.text;
    }
};

inline void PrintTo(const LogLine& line, std::ostream* out) {
    *out << "{0x" << std::hex << line.level << std::dec << ", " << qv::ToUtf8(line.function.c_str()).GetString()
         << ", \"" << qv::ToUtf8(line.text.c_str()).GetString() << "\"}";
}

inline std::wstring Wide(const std::string& utf8) { return qv::FromUtf8(utf8.c_str()).GetString(); }

// The stand-in log.dll of this executable's folder, kept loaded so that its record outlives any binder.
class LogRecords {
public:
    LogRecords() {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring folder(path);
        folder.resize(folder.find_last_of(L'\\') + 1);
        module_ = LoadLibraryW((folder + L"log.dll").c_str());
        api_ = StandInLogApi(module_);
    }
    ~LogRecords() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    LogRecords(const LogRecords&) = delete;
    LogRecords& operator=(const LogRecords&) = delete;

    bool Valid() const { return api_.Valid(); }
    void Clear() const { api_.Clear(); }
    void SetRecording(bool on) const { api_.SetRecording(on ? 1 : 0); }

    // Plain messages (nesting step 0), in order; with a thread, only those written on it.
    std::vector<LogLine> Messages(DWORD thread = 0) const { return Lines(false, thread); }
    // Trace lines (entry and exit of a traced operation), in order.
    std::vector<LogLine> Traces(DWORD thread = 0) const { return Lines(true, thread); }

    // Every LogWrite call, in order.
    std::vector<StandInLogRecord> Writes() const {
        std::vector<StandInLogRecord> writes;
        const unsigned int count = api_.RecordCount();
        for (unsigned int i = 0; i < count; ++i) {
            StandInLogRecord record{};
            if (api_.GetRecord(i, &record) && record.call == StandInLogCallWrite) {
                writes.push_back(record);
            }
        }
        return writes;
    }

private:
    std::vector<LogLine> Lines(bool traces, DWORD thread) const {
        std::vector<LogLine> lines;
        for (const StandInLogRecord& r : Writes()) {
            if ((r.step != 0) == traces && (thread == 0 || r.thread == thread)) {
                lines.push_back({r.level, r.function, r.text});
            }
        }
        return lines;
    }

    HMODULE module_ = nullptr;
    StandInLogApi api_{nullptr};
};

}  // namespace settings_test
