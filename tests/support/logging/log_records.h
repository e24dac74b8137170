// Reading the stand-in log.dll's records in tests.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "stand_ins/log/log_stand_in.h"

inline std::vector<StandInLogRecord> AllRecords(const StandInLogApi& api) {
    std::vector<StandInLogRecord> records(api.RecordCount());
    for (unsigned int i = 0; i < records.size(); ++i) {
        if (!api.GetRecord(i, &records[i])) {
            records.resize(i);
            break;
        }
    }
    return records;
}

inline std::vector<StandInLogRecord> RecordsOf(const std::vector<StandInLogRecord>& all, int call) {
    std::vector<StandInLogRecord> some;
    std::copy_if(all.begin(), all.end(), std::back_inserter(some),
                 [call](const StandInLogRecord& r) { return r.call == call; });
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
