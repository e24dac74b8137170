// What the stand-in log.dll records, and the extra exports through which tests read it.
//
// Tests never link against the stand-in: whether log.dll is loaded at all, and from where, is what they
// observe. They find the module (GetModuleHandleW(L"log.dll") or their own LoadLibraryW) and resolve the
// functions below with StandInLogApi.
#pragma once

#include <windows.h>

extern "C" {

enum StandInLogCall : int {
    StandInLogCallInit = 1,
    StandInLogCallDeinit = 2,
    StandInLogCallUninitDeskMetrics = 3,
    StandInLogCallRemoveModule = 4,
    StandInLogCallWrite = 5,
    // One of the exports the plug-in is never expected to call; `function` holds its name.
    StandInLogCallOther = 6,
};

// One call, copied out. Texts longer than their arrays are cut (always NUL-terminated).
struct StandInLogRecord {
    int call;               // StandInLogCall
    short step;             // LogWrite: nesting step
    unsigned int level;     // LogWrite: the value behind the level pointer (0 when the pointer was null)
    HMODULE module;         // LogWrite: the writing module
    DWORD thread;           // the calling thread
    wchar_t function[512];  // LogWrite: function name; StandInLogCallOther: the export's name
    wchar_t text[2048];     // LogWrite: the formatted message; LogRemoveModule: its narrow text, widened
};

// Number of calls recorded since load or the last clear.
using StandInLogRecordCountFn = unsigned int (*)();
// Copies record `index` into *record: 1, or 0 when there is no such record.
using StandInLogGetRecordFn = int (*)(unsigned int index, StandInLogRecord* record);
using StandInLogClearFn = void (*)();
// Every LogWrite call since load, recorded or not.
using StandInLogWriteCallsFn = long (*)();
// With recording off, LogWrite only formats its line into a local buffer and counts the call; nothing is
// stored or written to a file. Other calls are still recorded. On by default.
using StandInLogSetRecordingFn = void (*)(int on);

}  // extern "C"

// The stand-in's test exports, resolved from a loaded log.dll. All null when the module is not the stand-in.
struct StandInLogApi {
    explicit StandInLogApi(HMODULE log_dll) {
        if (log_dll == nullptr) {
            return;
        }
        RecordCount = Resolve<StandInLogRecordCountFn>(log_dll, "StandInLogRecordCount");
        GetRecord = Resolve<StandInLogGetRecordFn>(log_dll, "StandInLogGetRecord");
        Clear = Resolve<StandInLogClearFn>(log_dll, "StandInLogClear");
        WriteCalls = Resolve<StandInLogWriteCallsFn>(log_dll, "StandInLogWriteCalls");
        SetRecording = Resolve<StandInLogSetRecordingFn>(log_dll, "StandInLogSetRecording");
    }

    bool Valid() const {
        return RecordCount != nullptr && GetRecord != nullptr && Clear != nullptr && WriteCalls != nullptr &&
               SetRecording != nullptr;
    }

    StandInLogRecordCountFn RecordCount = nullptr;
    StandInLogGetRecordFn GetRecord = nullptr;
    StandInLogClearFn Clear = nullptr;
    StandInLogWriteCallsFn WriteCalls = nullptr;
    StandInLogSetRecordingFn SetRecording = nullptr;

private:
    template <typename Fn>
    static Fn Resolve(HMODULE module, const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
};
