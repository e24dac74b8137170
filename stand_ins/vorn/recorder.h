// The stand-in's memory: every call in order, how often each was made, and the last log settings it was given. It
// knows no exports: vorn_service's functions record through it and the control exports read it, as in vornint.dll.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "stand_ins/vorn/vorn_control.h"

namespace vorn_stand_in {

// Texts are copied at the call: the caller's buffers may be gone when a test reads them.
struct LogConfigRecord {
    std::optional<std::string> level;
    std::optional<std::string> log_dir;
    int max_size = 0;
    int max_files = 0;
    std::optional<std::string> reserved;
};

struct CallCounts {
    unsigned long set_initial_log_config = 0;
    unsigned long instance = 0;
    unsigned long start_async = 0;
    unsigned long stop = 0;
};

// Calls may come from any thread of the host, so every access takes the recorder's lock.
class Recorder {
public:
    // Never destroyed: the host may call the library from its own static destruction.
    static Recorder& Instance();

    void RecordLogConfig(LogConfigRecord record);
    void Record(VornControlCall call);
    void Reset();

    std::optional<LogConfigRecord> LastLogConfig();
    CallCounts Counts();
    std::vector<int> Calls();

private:
    Recorder() = default;

    std::mutex mutex_;
    std::optional<LogConfigRecord> last_log_config_;
    CallCounts counts_;
    std::vector<int> calls_;
};

}  // namespace vorn_stand_in
