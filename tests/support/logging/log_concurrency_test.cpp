// Many threads holding, releasing and writing through the one log binder at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>

#include "support/logging/log_handle.h"
#include "support/logging/log_message.h"
#include "support/unique_resource.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"

using logging::LogHandle;

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 300;
constexpr DWORD kDeadline = 60000;

// Each round: hold a handle twice, write a message inside a trace scope, give the handle back twice.
DWORD WINAPI WriteRounds(void* start_event) {
    WaitForSingleObject(static_cast<HANDLE>(start_event), kDeadline);
    for (int round = 0; round < kRounds; ++round) {
        LogHandle handle;
        handle.Acquire();
        handle.Acquire();
        {
            logging::TraceScope scope(L"Test::Concurrency::Round");
            logging::WriteMessage(logging::LevelTrace, L"Test::Concurrency::Round", L"round %d", round);
        }
        handle.Release();
        handle.Release();
    }
    return 0;
}

// Runs the rounds on kThreads threads released together; a thread that does not finish in time ends the
// test process rather than hanging the suite.
void RunThreads() {
    qv::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(start);
    std::vector<qv::UniqueHandle> threads;
    std::vector<HANDLE> raw;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(CreateThread(nullptr, 0, WriteRounds, start.get(), 0, nullptr));
        ASSERT_TRUE(threads.back());
        raw.push_back(threads.back().get());
    }
    SetEvent(start.get());
    if (WaitForMultipleObjects(kThreads, raw.data(), TRUE, kDeadline) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "writer threads did not finish within %lu ms\n", kDeadline);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
}

class LogConcurrencyTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log_dll_);
        ASSERT_TRUE(api_.Valid());
        api_.Clear();
        writes_before_ = api_.WriteCalls();
    }

    // Keeps the stand-in's records alive however often the binder comes and goes.
    qv::UniqueModule log_dll_{LoadLibraryW((ExecutableFolder() + L"log.dll").c_str())};
    StandInLogApi api_{log_dll_.get()};
    long writes_before_ = 0;
};

void ExpectEveryThreadWroteEveryLine(const std::vector<StandInLogRecord>& records) {
    std::map<DWORD, int> lines_per_thread;
    for (const StandInLogRecord& r : RecordsOf(records, StandInLogCallWrite)) {
        ++lines_per_thread[r.thread];
    }
    EXPECT_EQ(lines_per_thread.size(), static_cast<size_t>(kThreads));
    for (const auto& [thread, lines] : lines_per_thread) {
        EXPECT_EQ(lines, kRounds * 3) << "thread " << thread;
    }
}

}  // namespace

// With the binder held throughout (as by the module's static handle), it is never rebuilt.
TEST_F(LogConcurrencyTest, HeldBinderServesEveryThreadAndStaysPut) {
    LogHandle module_handle;
    logging::CLogDLL* binder = module_handle.Acquire();
    RunThreads();
    EXPECT_EQ(LogHandle::UserCount(), 1);
    EXPECT_EQ(LogHandle::Current(), binder);
    module_handle.Release();

    auto records = AllRecords(api_);
    EXPECT_EQ(api_.WriteCalls() - writes_before_, kThreads * kRounds * 3);
    ExpectEveryThreadWroteEveryLine(records);
    EXPECT_EQ(LifecycleCalls(records), (std::vector<int>{StandInLogCallInit, StandInLogCallDeinit,
                                                         StandInLogCallUninitDeskMetrics, StandInLogCallRemoveModule}));
}

// Without a long-lived holder the binder is built and destroyed over and over while others write.
TEST_F(LogConcurrencyTest, BinderComingAndGoingUnderLoadStaysBalanced) {
    RunThreads();
    EXPECT_EQ(LogHandle::UserCount(), 0);
    EXPECT_EQ(LogHandle::Current(), nullptr);

    auto records = AllRecords(api_);
    ExpectEveryThreadWroteEveryLine(records);
    const size_t builds = RecordsOf(records, StandInLogCallInit).size();
    EXPECT_GE(builds, 1u);
    for (int call : {StandInLogCallDeinit, StandInLogCallUninitDeskMetrics, StandInLogCallRemoveModule}) {
        EXPECT_EQ(RecordsOf(records, call).size(), builds) << "call " << call;
    }
    // Every binder's reference on log.dll was given back: only ours is left.
    log_dll_.reset();
    EXPECT_EQ(LoadedLogDll(), nullptr);
}
