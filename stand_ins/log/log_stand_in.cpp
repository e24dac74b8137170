// The stand-in for the host product's log.dll: records every call it receives, and on request appends a
// readable line per call to the file named by VORN_LOG_FILE.
//
// Messages are formatted by the C runtime's own _vsnwprintf (msvcrt), which reads formats the way the
// host's log.dll does: %s takes a wide string and %S a narrow one. MinGW's C99 printf family reads %s in a
// wide format as narrow, so none of its functions may format here.
#include "stand_ins/log/log_stand_in.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "equipment/environment.h"
#include "equipment/files.h"
#include "equipment/folders.h"
#include "equipment/processes.h"
#include "equipment/text.h"
#include "support/unique_resource.h"

namespace {

struct Record {
    int call;
    short step;
    unsigned int level;
    HMODULE module;
    DWORD thread;
    std::wstring function;
    std::wstring text;
};

// Everything below is shared by all writing threads and taken under one lock.
qv::CriticalSection g_lock;
std::vector<Record> g_records;
// Nesting depth per thread, for the file's indentation.
std::map<DWORD, int> g_depth;

std::atomic<long> g_write_calls{0};
std::atomic<int> g_recording{1};

std::wstring Format(const wchar_t* format, va_list args) {
    if (format == nullptr) {
        return std::wstring();
    }
    va_list measure;
    va_copy(measure, args);
    int chars = _vscwprintf(format, measure);
    va_end(measure);
    if (chars <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(chars) + 1, L'\0');
    _vsnwprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(chars));
    return text;
}

const wchar_t* CallName(int call) {
    switch (call) {
        case StandInLogCallInit:
            return L"LogInit";
        case StandInLogCallDeinit:
            return L"LogDeinit";
        case StandInLogCallUninitDeskMetrics:
            return L"LogUninitDeskMetrics";
        case StandInLogCallRemoveModule:
            return L"LogRemoveModule";
        case StandInLogCallWrite:
            return L"LogWrite";
        default:
            return L"";
    }
}

std::wstring LevelName(unsigned int level) {
    switch (level) {
        case 0x01:
        case 0x02:
            return L"critical";
        case 0x04:
            return L"error";
        case 0x08:
            return L"warning";
        case 0x10:
            return L"info";
        case 0x20:
            return L"trace";
        default: {
            wchar_t hex[16];
            _snwprintf(hex, 16, L"0x%x", level);
            hex[15] = L'\0';
            return hex;
        }
    }
}

std::wstring ModuleName(HMODULE module) {
    const std::wstring path = equipment::ModulePath(module);
    return path.empty() ? L"?" : path.substr(equipment::FolderOf(path).size());
}

// One line for a person following the run: time, thread, then the call, indented by the thread's depth.
std::wstring FileLine(const Record& r, int depth) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t prefix[64];
    _snwprintf(prefix, 64, L"%02u:%02u:%02u.%03u [%5lu] ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
               r.thread);
    prefix[63] = L'\0';
    std::wstring line(prefix);
    line.append(static_cast<size_t>(depth) * 2, L' ');
    switch (r.call) {
        case StandInLogCallWrite:
            line += LevelName(r.level) + L" " + ModuleName(r.module) + L" " + r.function + L": " + r.text;
            break;
        case StandInLogCallRemoveModule:
            line += L"LogRemoveModule(\"" + r.text + L"\")";
            break;
        case StandInLogCallOther:
            line += r.function + L"() (not expected from the plug-in)";
            break;
        default:
            line += CallName(r.call);
            break;
    }
    line += L"\r\n";
    return line;
}

void Keep(Record record) {
    record.thread = GetCurrentThreadId();
    qv::CriticalSectionGuard guard(g_lock);
    int& depth = g_depth[record.thread];
    if (record.step < 0) {
        depth = depth + record.step < 0 ? 0 : depth + record.step;
    }
    // Read at every record, so that a test may switch the file on and off.
    const std::wstring file = equipment::EnvironmentValue(L"VORN_LOG_FILE");
    if (!file.empty()) {
        equipment::AppendToFile(file, equipment::ToUtf8(FileLine(record, depth)));
    }
    if (record.step > 0) {
        depth += record.step;
    }
    g_records.push_back(std::move(record));
}

void KeepCall(int call, const wchar_t* function = L"", std::wstring text = std::wstring()) {
    Keep(Record{call, 0, 0, nullptr, 0, function, std::move(text)});
}

template <size_t N>
void CopyCut(wchar_t (&to)[N], const std::wstring& from) {
    size_t n = from.size() < N - 1 ? from.size() : N - 1;
    from.copy(to, n);
    to[n] = L'\0';
}

}  // namespace

extern "C" {

// The five exports the plug-in calls.

void LogInit() { KeepCall(StandInLogCallInit); }
void LogDeinit() { KeepCall(StandInLogCallDeinit); }
void LogUninitDeskMetrics() { KeepCall(StandInLogCallUninitDeskMetrics); }
void LogRemoveModule(const char* text) {
    KeepCall(StandInLogCallRemoveModule, L"", text != nullptr ? equipment::FromUtf8(text) : std::wstring());
}

HRESULT LogWrite(short step, const unsigned int* level, HMODULE module, const wchar_t* function, const wchar_t* format,
                 va_list args) {
    g_write_calls.fetch_add(1, std::memory_order_relaxed);
    if (g_recording.load(std::memory_order_relaxed) == 0) {
        // What any log.dll does with every line it accepts, and no more.
        wchar_t line[1024];
        if (format != nullptr) {
            _vsnwprintf(line, 1024, format, args);
        }
        return S_OK;
    }
    Keep(Record{StandInLogCallWrite, step, level != nullptr ? *level : 0u, module, 0,
                function != nullptr ? function : L"", Format(format, args)});
    return S_OK;
}

// The exports the plug-in binds but never calls. Their arguments are unknown here; a call is recorded by
// name so that a test sees it.

void LogApplySettings() { KeepCall(StandInLogCallOther, L"LogApplySettings"); }
void LogSetSettingsFile() { KeepCall(StandInLogCallOther, L"LogSetSettingsFile"); }
void LogEnable() { KeepCall(StandInLogCallOther, L"LogEnable"); }
void LogSetLevel() { KeepCall(StandInLogCallOther, L"LogSetLevel"); }
void LogSetPath() { KeepCall(StandInLogCallOther, L"LogSetPath"); }
void LogSetType() { KeepCall(StandInLogCallOther, L"LogSetType"); }
void LogSetMode() { KeepCall(StandInLogCallOther, L"LogSetMode"); }
void LogSetMaxSize() { KeepCall(StandInLogCallOther, L"LogSetMaxSize"); }
void LogSetDepth() { KeepCall(StandInLogCallOther, L"LogSetDepth"); }
void LogIsEnabled() { KeepCall(StandInLogCallOther, L"LogIsEnabled"); }
void LogMonitorSettings() { KeepCall(StandInLogCallOther, L"LogMonitorSettings"); }
void LogTrackEvent() { KeepCall(StandInLogCallOther, L"LogTrackEvent"); }
void LogTrackEventData() { KeepCall(StandInLogCallOther, L"LogTrackEventData"); }
void LogGetLevel() { KeepCall(StandInLogCallOther, L"LogGetLevel"); }

// The tests' view.

unsigned int StandInLogRecordCount() {
    qv::CriticalSectionGuard guard(g_lock);
    return static_cast<unsigned int>(g_records.size());
}

int StandInLogGetRecord(unsigned int index, StandInLogRecord* record) {
    qv::CriticalSectionGuard guard(g_lock);
    if (record == nullptr || index >= g_records.size()) {
        return 0;
    }
    const Record& r = g_records[index];
    record->call = r.call;
    record->step = r.step;
    record->level = r.level;
    record->module = r.module;
    record->thread = r.thread;
    CopyCut(record->function, r.function);
    CopyCut(record->text, r.text);
    return 1;
}

void StandInLogClear() {
    qv::CriticalSectionGuard guard(g_lock);
    g_records.clear();
}

long StandInLogWriteCalls() { return g_write_calls.load(); }

void StandInLogSetRecording(int on) { g_recording.store(on != 0 ? 1 : 0); }

}  // extern "C"
