// Reading the stand-in log.dll's records in tests: the raw calls, and the written lines in a form tests compare whole.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "equipment/folders.h"
#include "stand_ins/log/log_stand_in.h"

namespace equipment {

inline std::vector<StandInLogRecord> AllRecords(const StandInLogApi& api) {
    std::vector<StandInLogRecord> records(api.RecordCount());
    for (unsigned int i = 0; i < records.size(); ++i) {
        if (!api.GetRecord(i, &records[i])) {
            records.resize(i);
        }
    }
    return records;
}

inline std::vector<StandInLogRecord> RecordsOf(const std::vector<StandInLogRecord>& all, int call) {
    std::vector<StandInLogRecord> some;
    std::copy_if(all.begin(), all.end(), std::back_inserter(some), [call](const auto& r) { return r.call == call; });
    return some;
}

// The calls in order, writes left out: what a log.dll sees of the binder's life.
inline std::vector<int> LifecycleCalls(const std::vector<StandInLogRecord>& all) {
    std::vector<int> calls;
    for (const StandInLogRecord& r : all) {
        if (r.call != StandInLogCallWrite) {
            calls.push_back(r.call);
        }
    }
    return calls;
}

inline HMODULE LoadedLogDll() { return GetModuleHandleW(L"log.dll"); }

// The stand-in log.dll beside this executable, kept loaded while the owner lives so that its record outlives every
// binder the test builds and tears down.
class KeptStandInLog : public StandInLogApi {
public:
    KeptStandInLog() : StandInLogApi(nullptr) {
        module_ = LoadLibraryW((ExecutableFolder() + L"log.dll").c_str());
        static_cast<StandInLogApi&>(*this) = StandInLogApi(module_);
    }
    ~KeptStandInLog() { FreeLibrary(module_); }
    KeptStandInLog(const KeptStandInLog&) = delete;
    KeptStandInLog& operator=(const KeptStandInLog&) = delete;

private:
    HMODULE module_ = nullptr;
};

// One LogWrite as tests compare it.
struct LogLine {
    unsigned int level;
    std::wstring function;
    std::wstring text;
    bool operator==(const LogLine& o) const { return level == o.level && function == o.function && text == o.text; }
};

inline void PrintTo(const LogLine& line, std::ostream* out) {
    *out << "{0x" << std::hex << line.level << std::dec << ", " << testing::PrintToString(line.function) << ", "
         << testing::PrintToString(line.text) << "}";
}

// The lines of a traced operation: "-> name()" on entry and "<- name() [elapsed]" on exit, both at 0x20.
inline LogLine TraceEntry(const std::wstring& function) { return {0x20, function, L"-> " + function + L"()"}; }
inline LogLine TraceExit(const std::wstring& function) { return {0x20, function, L"<- " + function + L"() [ms]"}; }

// Every LogWrite since the last clear, in order; with a thread, only those written on it. The elapsed time of a
// trace exit line reads "[ms]", so that whole sequences compare.
inline std::vector<LogLine> WrittenLines(const StandInLogApi& api, DWORD thread = 0) {
    std::vector<LogLine> lines;
    for (const StandInLogRecord& record : RecordsOf(AllRecords(api), StandInLogCallWrite)) {
        std::wstring text = record.text;
        const size_t open = text.rfind(L" [");
        if (text.rfind(L"<- ", 0) == 0 && open != std::wstring::npos && text.back() == L']') {
            text = text.substr(0, open) + L" [ms]";
        }
        if (thread == 0 || record.thread == thread) {
            lines.push_back({record.level, record.function, text});
        }
    }
    return lines;
}

// A well-formed trace line; a malformed one counts as a message, so that a test comparing messages shows it.
inline bool IsTraceLine(const LogLine& line) {
    return line == TraceEntry(line.function) || line == TraceExit(line.function);
}

template <typename Keep>
std::vector<LogLine> Only(const std::vector<LogLine>& lines, Keep keep) {
    std::vector<LogLine> some;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(some), keep);
    return some;
}
inline std::vector<LogLine> Messages(const std::vector<LogLine>& lines) {
    return Only(lines, [](const LogLine& line) { return !IsTraceLine(line); });
}
inline std::vector<LogLine> Traces(const std::vector<LogLine>& lines) { return Only(lines, IsTraceLine); }
inline std::vector<LogLine> LinesOf(const std::vector<LogLine>& lines, const std::wstring& function) {
    return Only(lines, [&function](const LogLine& line) { return line.function == function; });
}

}  // namespace equipment
