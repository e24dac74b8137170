// Cost of one plain message through the log binding, against calling log.dll's LogWrite directly with the
// same arguments. The stand-in log.dll beside this program runs with recording off: it formats each line
// into a local buffer and keeps nothing, so the difference is the binding's own work (the gate, two passes
// through the spin lock, the handle's counts).
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "stand_ins/log/log_stand_in.h"
#include "support/logging/log_handle.h"
#include "support/logging/log_message.h"
#include "bench/bench_timing.h"

namespace {

constexpr wchar_t kName[] = L"Bench::Logging::PlainMessage";
constexpr int kCalls = 200000;
constexpr int kRounds = 9;

// Packs the arguments into one list, as every caller of LogWrite must.
HRESULT DirectWrite(logging::LogWriteFn write, short step, const unsigned int* level, HMODULE module,
                    const wchar_t* function, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    HRESULT hr = write(step, level, module, function, format, args);
    va_end(args);
    return hr;
}

}  // namespace

int main() {
    // The module's static handle in the plug-in: keeps the binder (and log.dll) for the whole run.
    logging::LogHandle module_handle;
    module_handle.Acquire();
    HMODULE log_dll = GetModuleHandleW(L"log.dll");
    StandInLogApi api(log_dll);
    auto log_write =
        reinterpret_cast<logging::LogWriteFn>(reinterpret_cast<void*>(GetProcAddress(log_dll, "LogWrite")));
    if (!api.Valid() || log_write == nullptr) {
        std::printf("the stand-in log.dll is not beside this program\n");
        return 1;
    }
    api.SetRecording(0);

    const HMODULE self = logging::ThisModule();
    auto direct = [&](long i) {
        const unsigned int level = logging::LevelTrace;
        DirectWrite(log_write, 0, &level, self, kName, L"plain message %d", static_cast<int>(i));
    };
    auto binding = [](long i) {
        logging::WriteMessage(logging::LevelTrace, kName, L"plain message %d", static_cast<int>(i));
    };

    // Interleaved rounds, best of each: both sides see the same machine state.
    double best_direct = 1e30, best_binding = 1e30;
    const long calls_before = api.WriteCalls();
    for (int round = 0; round < kRounds; ++round) {
        best_direct = std::min(best_direct, bench::NanosecondsPerCall(direct, kCalls));
        best_binding = std::min(best_binding, bench::NanosecondsPerCall(binding, kCalls));
    }
    const long calls = api.WriteCalls() - calls_before;

    // For scale: the same with the stand-in keeping every line (a lock, an allocation and a copy per line,
    // about what a log.dll that buffers its lines does). Fewer calls, cleared between rounds.
    api.SetRecording(1);
    constexpr int kKeptCalls = 20000;
    double kept_direct = 1e30, kept_binding = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        api.Clear();
        kept_direct = std::min(kept_direct, bench::NanosecondsPerCall(direct, kKeptCalls));
        api.Clear();
        kept_binding = std::min(kept_binding, bench::NanosecondsPerCall(binding, kKeptCalls));
    }
    api.Clear();

    std::printf("log.dll formatting only (recording off):\n");
    std::printf("  LogWrite called directly:        %8.1f ns per message\n", best_direct);
    std::printf("  logging::WriteMessage (binding): %8.1f ns per message\n", best_binding);
    std::printf("  ratio binding / direct:          %8.3f  (target <= 1.1)\n", best_binding / best_direct);
    std::printf("log.dll keeping every line (recording on):\n");
    std::printf("  LogWrite called directly:        %8.1f ns per message\n", kept_direct);
    std::printf("  logging::WriteMessage (binding): %8.1f ns per message\n", kept_binding);
    std::printf("  ratio binding / direct:          %8.3f\n", kept_binding / kept_direct);
    if (calls != 2L * kRounds * kCalls) {
        std::printf("log.dll saw %ld calls, expected %ld\n", calls, 2L * kRounds * kCalls);
        return 1;
    }
    return 0;
}
