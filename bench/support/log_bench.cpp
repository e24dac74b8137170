// Cost of one plain message and of one traced operation's scope through the log binding, against calling log.dll's
// LogWrite directly with the same arguments and against the floor the design prescribes: the unlocked gate read, a
// local handle's acquire (two passes through the spin lock, the handle's count) and release (the count down, two
// passes through the spin lock, the count back to 0) around the direct call. The stand-in log.dll beside this
// program runs with recording off: it formats each line into a local buffer and keeps nothing.
#include <windows.h>
#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "stand_ins/log/log_stand_in.h"
#include "support/logging/log_handle.h"
#include "support/logging/log_message.h"
#include "bench/bench_timing.h"

namespace {

constexpr wchar_t kName[] = L"Bench::Logging::PlainMessage";
constexpr long kCalls = 200000;
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

// The shared state and one local handle, reduced to the operations the design prescribes for each line.
struct PrescribedSteps {
    volatile LONG users = 1;
    LONG spin = 0;
    LONG holds = 0;

    bool Gate() const { return users != 0; }
    void Acquire() {
        while (InterlockedExchange(&spin, 1) == 1) {
            Sleep(1);
        }
        users = users + 1;
        InterlockedExchange(&spin, 0);
        InterlockedIncrement(&holds);
    }
    void Release() {
        while (InterlockedDecrement(&holds) + 1 >= 1) {
            while (InterlockedExchange(&spin, 1) == 1) {
                Sleep(1);
            }
            users = users - 1;
            InterlockedExchange(&spin, 0);
        }
        InterlockedIncrement(&holds);
    }
};

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
    PrescribedSteps steps;
    const long calls_before = api.WriteCalls();

    auto direct = [&](long i) {
        const unsigned int level = logging::LevelTrace;
        DirectWrite(log_write, 0, &level, self, kName, L"plain message %d", static_cast<int>(i));
    };
    auto binding = [](long i) {
        logging::WriteMessage(logging::LevelTrace, kName, L"plain message %d", static_cast<int>(i));
    };
    auto floor = [&](long i) {
        if (!steps.Gate()) {
            return;
        }
        steps.Acquire();
        const unsigned int level = logging::LevelTrace;
        DirectWrite(log_write, 0, &level, self, kName, L"plain message %d", static_cast<int>(i));
        steps.Release();
    };
    std::printf("Plain message (log.dll formatting only), median of %d interleaved rounds [lowest .. highest]:\n",
                kRounds);
    const bench::Rounds plain(kRounds, {[&] { return bench::NanosecondsPerCall(direct, kCalls); },
                                        [&] { return bench::NanosecondsPerCall(binding, kCalls); },
                                        [&] { return bench::NanosecondsPerCall(floor, kCalls); }});
    bench::PrintFigure("LogWrite called directly", plain.Of(0), "ns");
    bench::PrintFigure("logging::WriteMessage (the binding)", plain.Of(1), "ns");
    bench::PrintFigure("floor: prescribed gate, acquire, release + LogWrite", plain.Of(2), "ns");
    bench::PrintRatio("binding / floor", plain.Ratio(1, 2), bench::AtMost(1.1));
    bench::PrintRatio("binding / direct LogWrite", plain.Ratio(1, 0), bench::AtMost(1.1));
    bench::PrintRatio("floor / direct LogWrite", plain.Ratio(2, 0), bench::NoTarget());
    bench::PrintFloorVerdict(plain.Ratio(2, 0), bench::AtMost(1.1));

    // One traced operation that does nothing: its entry and exit lines, names copied into the scope's arrays.
    auto scope = [](long) { logging::TraceScope traced(kName); };
    auto scope_floor = [&](long) {
        const DWORD start = timeGetTime();
        wchar_t display[260];
        wchar_t function[260];
        wcsncpy_s(display, 258, kName, _TRUNCATE);
        wcscat_s(display, 260, L"()");
        wcsncpy_s(function, 260, kName, _TRUNCATE);
        const unsigned int level = logging::LevelTrace;
        steps.Acquire();
        DirectWrite(log_write, +1, &level, self, function, L"-> %s", display);
        steps.Release();
        steps.Acquire();
        const DWORD elapsed = timeGetTime() - start;
        DirectWrite(log_write, -1, &level, self, function, L"<- %s [%d]", display, static_cast<int>(elapsed));
        steps.Release();
    };
    auto two_lines = [&](long) {
        const unsigned int level = logging::LevelTrace;
        DirectWrite(log_write, +1, &level, self, kName, L"-> %s", kName);
        DirectWrite(log_write, -1, &level, self, kName, L"<- %s [%d]", kName, 0);
    };
    std::printf("\nOne traced operation's scope (entry and exit lines), same rounds:\n");
    const bench::Rounds traced(kRounds, {[&] { return bench::NanosecondsPerCall(two_lines, kCalls / 2); },
                                         [&] { return bench::NanosecondsPerCall(scope, kCalls / 2); },
                                         [&] { return bench::NanosecondsPerCall(scope_floor, kCalls / 2); }});
    bench::PrintFigure("two LogWrite calls made directly", traced.Of(0), "ns");
    bench::PrintFigure("logging::TraceScope open and close", traced.Of(1), "ns");
    bench::PrintFigure("floor: clock, name copies, two prescribed lines", traced.Of(2), "ns");
    bench::PrintRatio("TraceScope / floor", traced.Ratio(1, 2), bench::NoTarget());

    // For scale: the same with the stand-in keeping every line (a lock, an allocation and a copy per line, about
    // what a log.dll that buffers its lines does). Fewer calls, cleared between rounds.
    api.SetRecording(1);
    constexpr long kKeptCalls = 20000;
    const bench::Rounds kept(kRounds, {[&] {
                                           api.Clear();
                                           return bench::NanosecondsPerCall(direct, kKeptCalls);
                                       },
                                       [&] {
                                           api.Clear();
                                           return bench::NanosecondsPerCall(binding, kKeptCalls);
                                       }});
    api.Clear();
    std::printf("\nPlain message with log.dll keeping every line, for scale:\n");
    bench::PrintFigure("LogWrite called directly", kept.Of(0), "ns");
    bench::PrintFigure("logging::WriteMessage (the binding)", kept.Of(1), "ns");
    bench::PrintRatio("binding / direct LogWrite", kept.Ratio(1, 0), bench::NoTarget());

    const long expected = kRounds * (3 * kCalls + 3 * kCalls + 2 * kKeptCalls);
    const long calls = api.WriteCalls() - calls_before;
    if (calls != expected) {
        std::printf("log.dll saw %ld calls, expected %ld\n", calls, expected);
        return 1;
    }
    return 0;
}
