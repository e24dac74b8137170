// The lines the plug-in wrote through the stand-in log.dll, in a form tests compare whole.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/logging/log_records.h"

struct WrittenLine {
    unsigned int level;
    std::wstring function;
    std::wstring text;

    bool operator==(const WrittenLine& other) const {
        return level == other.level && function == other.function && text == other.text;
    }
};

inline std::ostream& operator<<(std::ostream& out, const WrittenLine& line) {
    return out << "{0x" << std::hex << line.level << std::dec << ", " << testing::PrintToString(line.function) << ", "
               << testing::PrintToString(line.text) << "}";
}

// Every LogWrite since the last clear. The elapsed time of a trace exit line reads "[ms]", so that whole
// sequences can be compared.
inline std::vector<WrittenLine> WrittenLines(const StandInLogApi& api) {
    std::vector<WrittenLine> lines;
    for (const StandInLogRecord& record : RecordsOf(AllRecords(api), StandInLogCallWrite)) {
        std::wstring text = record.text;
        const size_t open = text.rfind(L" [");
        if (text.rfind(L"<- ", 0) == 0 && open != std::wstring::npos && text.back() == L']') {
            text = text.substr(0, open) + L" [ms]";
        }
        lines.push_back({record.level, record.function, text});
    }
    return lines;
}

// The lines of a traced operation: "-> name()" on entry and "<- name() [ms]" on exit, both at 0x20.
inline WrittenLine TraceEntry(const std::wstring& function) { return {0x20, function, L"-> " + function + L"()"}; }
inline WrittenLine TraceExit(const std::wstring& function) { return {0x20, function, L"<- " + function + L"() [ms]"}; }

// The plain messages only, trace lines left out.
inline std::vector<WrittenLine> Messages(const std::vector<WrittenLine>& lines) {
    std::vector<WrittenLine> messages;
    for (const WrittenLine& line : lines) {
        if (line.text.rfind(L"-> ", 0) != 0 && line.text.rfind(L"<- ", 0) != 0) {
            messages.push_back(line);
        }
    }
    return messages;
}
