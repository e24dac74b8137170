// Many threads holding, releasing and writing through the one log binder at once.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "equipment/log_records.h"
#include "support/logging/log_handle.h"
#include "support/logging/log_message.h"
#include "support/unique_resource.h"

using namespace equipment;

using logging::LogHandle;

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 300;
constexpr DWORD kDeadline = 60000;

// Each round holds a handle twice, writes a message inside a trace scope and gives the handle back.
DWORD WINAPI WriteRounds(void* start) {
    WaitForSingleObject(static_cast<HANDLE>(start), kDeadline);
    for (int round = 0; round < kRounds; ++round) {
        LogHandle handle;
        handle.Acquire();
        handle.Acquire();
        logging::TraceScope scope(L"Test::Round");
        logging::WriteMessage(logging::LevelTrace, L"Test::Round", L"round %d", round);
    }
    return 0;
}

// Every thread wrote all its lines; a thread that does not finish in time fails the test.
void RunThreadsAndCheckTheirLines(const StandInLogApi& log) {
    qv::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<qv::UniqueHandle> threads;
    std::vector<HANDLE> raw;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(CreateThread(nullptr, 0, WriteRounds, start.get(), 0, nullptr));
        ASSERT_TRUE(threads.back());
        raw.push_back(threads.back().get());
    }
    SetEvent(start.get());
    ASSERT_EQ(WaitForMultipleObjects(kThreads, raw.data(), TRUE, kDeadline), WAIT_OBJECT_0) << "writers are stuck";
    std::map<DWORD, int> lines_per_thread;
    for (const StandInLogRecord& r : RecordsOf(AllRecords(log), StandInLogCallWrite)) {
        ++lines_per_thread[r.thread];
    }
    EXPECT_EQ(lines_per_thread.size(), static_cast<size_t>(kThreads));
    for (const auto& [thread, lines] : lines_per_thread) {
        EXPECT_EQ(lines, kRounds * 3) << "thread " << thread;
    }
}

}  // namespace

// Without a long-lived holder the binder is built and destroyed over and over while others write.
TEST(LogConcurrency, BinderChurnUnderLoadStaysBalanced) {
    KeptStandInLog log;
    log.Clear();
    RunThreadsAndCheckTheirLines(log);
    EXPECT_EQ(LogHandle::UserCount(), 0);
    EXPECT_EQ(LogHandle::Current(), nullptr);
    const auto records = AllRecords(log);
    const size_t builds = RecordsOf(records, StandInLogCallInit).size();
    EXPECT_GE(builds, 1u);
    for (int call : {StandInLogCallDeinit, StandInLogCallUninitDeskMetrics, StandInLogCallRemoveModule}) {
        EXPECT_EQ(RecordsOf(records, call).size(), builds) << "call " << call;
    }
}
