// The log binding inside one image (this test executable, with the stand-in log.dll beside it): plain messages,
// trace scopes, handle counting and the binder's life.
#include <gtest/gtest.h>

#include <string>

#include "equipment/folders.h"
#include "equipment/log_records.h"
#include "equipment/plugin_loader.h"
#include "equipment/processes.h"
#include "support/logging/log_handle.h"
#include "support/logging/log_message.h"
#include "tests/named_rows.h"

using namespace equipment;

using logging::LogHandle;

namespace {

const std::vector<int> kWholeLife = {StandInLogCallInit, StandInLogCallDeinit, StandInLogCallUninitDeskMetrics,
                                     StandInLogCallRemoveModule};

// Holds one reference on the binder, as the module's static handle does in the plug-in.
class LogBinding : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log_.Valid());
        base_.Acquire();
        log_.Clear();
    }
    void TearDown() override { base_.Release(); }
    std::vector<StandInLogRecord> Writes() { return RecordsOf(AllRecords(log_), StandInLogCallWrite); }

    KeptStandInLog log_;
    LogHandle base_;
};

}  // namespace

// %s is wide and %S narrow in a wide format, as log.dll reads them.
TEST_F(LogBinding, PlainMessagesCarryTheirWholeRecord) {
    const unsigned int levels[][2] = {{logging::LevelError, 0x04},
                                      {logging::LevelWarning, 0x08},
                                      {logging::LevelTrace, 0x20},
                                      {logging::LevelByResult(0), 0x20},
                                      {logging::LevelByResult(ERROR_FUNCTION_FAILED), 0x04}};
    for (const auto& level : levels) {
        logging::WriteMessage(level[0], L"Test::Op", L"[%s] [%S] [%d]", L"wide \x00FC", "narrow", -7);
    }
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 5u);
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].step, 0);
        EXPECT_EQ(writes[i].level, levels[i][1]) << i;
        EXPECT_EQ(writes[i].module, GetModuleHandleW(nullptr));
        EXPECT_STREQ(writes[i].function, L"Test::Op");
        EXPECT_STREQ(writes[i].text, L"[wide \x00FC] [narrow] [-7]");
    }
}

TEST_F(LogBinding, TraceScopeBracketsTheOperationUnderItsCutName) {
    // Name length, then the characters of it kept in the display name (before "()") and in the function name.
    const size_t cases[][3] = {{1, 1, 1}, {257, 257, 257}, {258, 257, 258}, {259, 257, 259}, {300, 257, 259}};
    ForEachRow(cases, [&](const auto& c) {
        log_.Clear();
        std::wstring name;
        for (size_t i = 0; i < c[0]; ++i) {
            name += static_cast<wchar_t>(L'a' + i % 26);
        }
        const std::wstring display = name.substr(0, c[1]) + L"()";
        const std::wstring function = name.substr(0, c[2]);
        {
            logging::TraceScope scope(name.c_str());
            logging::WriteMessage(logging::LevelTrace, function.c_str(), L"inside");
        }
        const auto writes = Writes();
        ASSERT_EQ(writes.size(), 3u);
        EXPECT_EQ(writes[0].text, L"-> " + display);
        EXPECT_STREQ(writes[1].text, L"inside");
        EXPECT_EQ(std::wstring(writes[2].text).rfind(L"<- " + display + L" [", 0), 0u) << writes[2].text;
        for (int i : {0, 2}) {
            EXPECT_EQ(writes[i].step, i == 0 ? 1 : -1);
            EXPECT_EQ(writes[i].level, 0x20u);
            EXPECT_EQ(writes[i].function, function);
            EXPECT_EQ(writes[i].module, GetModuleHandleW(nullptr));
        }
    });
}

TEST_F(LogBinding, TraceScopeExitLineGivesTheElapsedMilliseconds) {
    {
        logging::TraceScope scope(L"Test::Slow");
        Sleep(120);
    }
    int elapsed = -1;
    ASSERT_EQ(swscanf(Writes().at(1).text, L"<- Test::Slow() [%d]", &elapsed), 1);
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 60000);
}

TEST_F(LogBinding, HandleGivesBackExactlyWhatItHolds) {
    const LONG base = LogHandle::UserCount();
    LogHandle twice;
    EXPECT_EQ(twice.Acquire(), twice.Acquire());
    EXPECT_EQ(LogHandle::UserCount(), base + 2);
    twice.Release();
    twice.Release();
    LogHandle never;
    never.Release();
    EXPECT_EQ(LogHandle::UserCount(), base);
    EXPECT_EQ(LifecycleCalls(AllRecords(log_)), std::vector<int>{}) << "the binder must not be rebuilt";
}

// Nothing else in this executable holds the binder: the first hold builds it, the last destroys it, and a plain
// message without a hold builds nothing. A trace scope is not gated: each of its lines builds a binder of its own.
TEST(LogBinder, LivesFromTheFirstHoldToTheLastRelease) {
    KeptStandInLog log;
    ASSERT_TRUE(log.Valid());
    ASSERT_EQ(LogHandle::UserCount(), 0);
    log.Clear();
    logging::WriteMessage(logging::LevelTrace, L"Test::Life", L"before any hold");
    EXPECT_EQ(log.RecordCount(), 0u) << "a message built the binder";
    LogHandle handle;
    handle.Acquire();
    logging::WriteMessage(logging::LevelTrace, L"Test::Life", L"held");
    handle.Release();
    EXPECT_EQ(LogHandle::Current(), nullptr);
    logging::WriteMessage(logging::LevelTrace, L"Test::Life", L"after the last release");
    auto records = AllRecords(log);
    EXPECT_EQ(LifecycleCalls(records), kWholeLife);
    EXPECT_STREQ(RecordsOf(records, StandInLogCallRemoveModule).at(0).text, L"logging::CLogDLL::~CLogDLL");
    ASSERT_EQ(RecordsOf(records, StandInLogCallWrite).size(), 1u);
    EXPECT_STREQ(RecordsOf(records, StandInLogCallWrite)[0].text, L"held");

    log.Clear();
    { logging::TraceScope scope(L"Test::Life::Traced"); }
    records = AllRecords(log);
    std::vector<int> twice = kWholeLife;
    twice.insert(twice.end(), kWholeLife.begin(), kWholeLife.end());
    EXPECT_EQ(LifecycleCalls(records), twice);
    EXPECT_EQ(RecordsOf(records, StandInLogCallWrite).size(), 2u);
    EXPECT_EQ(LogHandle::UserCount(), 0);
}

// The host has loaded a log.dll without LogWrite: the binder takes it, calls LogInit and writes nothing.
TEST(LogBinderInChild, DISABLED_LogDllWithoutLogWriteIsBoundButNeverWritten) {
    const std::wstring without_write = ExecutableFolder() + L"nolog\\log.dll";
    HMODULE host_loaded = LoadLibraryW(without_write.c_str());
    ASSERT_NE(host_loaded, nullptr);
    StandInLogApi api(host_loaded);
    {
        LogHandle handle;
        handle.Acquire();
        logging::WriteMessage(logging::LevelError, L"Test::NoWrite", L"lost");
        logging::TraceScope scope(L"Test::NoWrite::Traced");
        EXPECT_EQ(LoadedModulesNamed(L"log.dll"), std::vector<std::wstring>{without_write});
    }
    EXPECT_EQ(LifecycleCalls(AllRecords(api)), kWholeLife);
    EXPECT_EQ(api.WriteCalls(), 0);
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), host_loaded) << "the binder gave back more than it took";
}

TEST(LogBinder, LogDllWithoutLogWriteIsBoundButNeverWritten) {
    EXPECT_EQ(RunTestInChild("LogBinderInChild.DISABLED_LogDllWithoutLogWriteIsBoundButNeverWritten"), 0);
}
