// The log binding inside one image (this test executable): handles, plain messages, trace scopes and the
// binder's life. log.dll is looked for beside this executable, where the build puts the stand-in.
#include <gtest/gtest.h>

#include <string>

#include "support/logging/log_handle.h"
#include "support/logging/log_message.h"
#include "tests/plugin_loader.h"
#include "tests/support/logging/log_records.h"
#include "tests/test_process.h"

using logging::LogHandle;

namespace {

// Keeps the stand-in loaded (so its records outlive any binder) and one reference on the binder, as the
// module's static handle does in the plug-in.
class LogBindingTest : public testing::Test {
protected:
    void SetUp() override {
        log_dll_.reset(LoadLibraryW((ExecutableFolder() + L"log.dll").c_str()));
        ASSERT_TRUE(log_dll_);
        api_ = StandInLogApi(log_dll_.get());
        ASSERT_TRUE(api_.Valid());
        base_.Acquire();
        api_.Clear();
    }
    void TearDown() override { base_.Release(); }

    std::vector<StandInLogRecord> Writes() { return RecordsOf(AllRecords(api_), StandInLogCallWrite); }

    qv::UniqueModule log_dll_;
    StandInLogApi api_{nullptr};
    LogHandle base_;
};

// Spaces between the stand-in's "[thread] " prefix and the call.
size_t Indent(const std::string& line) {
    size_t start = line.find("] ");
    return start == std::string::npos ? 0 : line.find_first_not_of(' ', start + 2) - (start + 2);
}

std::wstring Repeat(size_t length) {
    std::wstring name;
    for (size_t i = 0; i < length; ++i) {
        name += static_cast<wchar_t>(L'a' + i % 26);
    }
    return name;
}

}  // namespace

TEST_F(LogBindingTest, PlainMessagesCarryStepZeroTheLevelThisModuleAndTheOperation) {
    const unsigned int levels[] = {logging::LevelError, logging::LevelWarning, logging::LevelTrace,
                                   logging::LevelByResult(0), logging::LevelByResult(ERROR_FUNCTION_FAILED)};
    for (unsigned int level : levels) {
        logging::WriteMessage(level, L"Test::Binding::Op", L"value %d", 42);
    }
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 5u);
    const unsigned int expected[] = {0x04, 0x08, 0x20, 0x20, 0x04};
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].step, 0);
        EXPECT_EQ(writes[i].level, expected[i]) << i;
        EXPECT_EQ(writes[i].module, GetModuleHandleW(nullptr));
        EXPECT_STREQ(writes[i].function, L"Test::Binding::Op");
        EXPECT_STREQ(writes[i].text, L"value 42");
    }
}

// %s is wide and %S narrow in a wide format; a C99 printf would take the wide string as narrow and stop
// after its first character.
TEST_F(LogBindingTest, FormatsFollowTheMicrosoftWideConvention) {
    logging::WriteMessage(logging::LevelTrace, L"Test::Binding::Op", L"[%s] [%S] [%d] [%s]", L"wide \x00FC", "narrow",
                          -7, L"");
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_STREQ(writes[0].text, L"[wide \x00FC] [narrow] [-7] []");
}

TEST_F(LogBindingTest, TraceScopeCutsLongNamesAndBracketsTheOperation) {
    struct Case {
        size_t length;
        size_t display_chars;  // of the name, before "()"
        size_t function_chars;
    };
    const Case cases[] = {{1, 1, 1},       {256, 256, 256}, {257, 257, 257}, {258, 257, 258},
                          {259, 257, 259}, {260, 257, 259}, {300, 257, 259}};
    for (const Case& c : cases) {
        api_.Clear();
        const std::wstring name = Repeat(c.length);
        const std::wstring display = name.substr(0, c.display_chars) + L"()";
        const std::wstring function = name.substr(0, c.function_chars);
        {
            logging::TraceScope scope(name.c_str());
            EXPECT_EQ(scope.DisplayName(), display) << c.length;
            EXPECT_EQ(scope.FunctionName(), function) << c.length;
            logging::WriteMessage(logging::LevelTrace, function.c_str(), L"inside");
        }
        auto writes = Writes();
        ASSERT_EQ(writes.size(), 3u) << c.length;
        EXPECT_EQ(writes[0].step, 1);
        EXPECT_EQ(writes[0].text, L"-> " + display) << c.length;
        EXPECT_STREQ(writes[1].text, L"inside");
        EXPECT_EQ(writes[2].step, -1);
        EXPECT_EQ(std::wstring(writes[2].text).rfind(L"<- " + display + L" [", 0), 0u) << writes[2].text;
        for (int i : {0, 2}) {
            EXPECT_EQ(writes[i].level, 0x20u);
            EXPECT_EQ(writes[i].function, function) << c.length;
            EXPECT_EQ(writes[i].module, GetModuleHandleW(nullptr));
        }
    }
}

TEST_F(LogBindingTest, TraceExitLineCarriesTheElapsedMilliseconds) {
    {
        logging::TraceScope scope(L"Test::Binding::Slow");
        Sleep(120);
    }
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 2u);
    int elapsed = -1;
    ASSERT_EQ(swscanf(writes[1].text, L"<- Test::Binding::Slow() [%d]", &elapsed), 1) << writes[1].text;
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 60000);
}

TEST_F(LogBindingTest, HandleGivesBackWhatItHoldsAndNothingMore) {
    const LONG base = LogHandle::UserCount();
    LogHandle twice;
    logging::CLogDLL* first = twice.Acquire();
    logging::CLogDLL* second = twice.Acquire();
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, LogHandle::Current());
    EXPECT_EQ(LogHandle::UserCount(), base + 2);
    twice.Release();
    EXPECT_EQ(LogHandle::UserCount(), base);
    twice.Release();
    EXPECT_EQ(LogHandle::UserCount(), base);

    LogHandle never;
    never.Release();
    EXPECT_EQ(LogHandle::UserCount(), base);
    {
        LogHandle scoped;
        scoped.Acquire();
        EXPECT_EQ(LogHandle::UserCount(), base + 1);
    }
    EXPECT_EQ(LogHandle::UserCount(), base);
    EXPECT_EQ(LifecycleCalls(AllRecords(api_)), std::vector<int>{}) << "the binder must not be rebuilt";
}

// The binder's whole life, from a process where nothing holds log.dll yet.
// The stand-in's file shows even a log.dll that was loaded and unloaded again in between.
TEST(LogBinderLifecycleInChild, DISABLED_LoadsOnFirstHoldUnbindsOnLastAndMessagesNeverReload) {
    const std::wstring log_file = ParentFolder() + L"run.log";
    ASSERT_TRUE(SetEnvironmentVariableW(L"VORN_LOG_FILE", log_file.c_str()));
    ASSERT_EQ(LoadedLogDll(), nullptr);
    logging::WriteMessage(logging::LevelTrace, L"Test::Lifecycle", L"before any hold");
    EXPECT_EQ(LoadedLogDll(), nullptr) << "a message loaded log.dll";
    EXPECT_EQ(ReadFileLines(log_file).size(), 0u) << "a message loaded log.dll";

    LogHandle handle;
    handle.Acquire();
    HMODULE pin = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(0, L"log.dll", &pin));
    EXPECT_EQ(ModulePath(pin), ExecutableFolder() + L"log.dll");
    StandInLogApi api(pin);
    ASSERT_TRUE(api.Valid());
    logging::WriteMessage(logging::LevelTrace, L"Test::Lifecycle", L"held");
    {
        logging::TraceScope scope(L"Test::Lifecycle::Nested");
        logging::WriteMessage(logging::LevelTrace, L"Test::Lifecycle::Nested", L"one level in");
    }
    handle.Release();
    EXPECT_EQ(LogHandle::Current(), nullptr);
    EXPECT_EQ(LogHandle::UserCount(), 0);

    auto records = AllRecords(api);
    EXPECT_EQ(LifecycleCalls(records), (std::vector<int>{StandInLogCallInit, StandInLogCallDeinit,
                                                         StandInLogCallUninitDeskMetrics, StandInLogCallRemoveModule}));
    auto removes = RecordsOf(records, StandInLogCallRemoveModule);
    ASSERT_EQ(removes.size(), 1u);
    EXPECT_STREQ(removes[0].text, L"logging::CLogDLL::~CLogDLL");
    auto writes = RecordsOf(records, StandInLogCallWrite);
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_STREQ(writes[0].text, L"held");

    // One line per record; the nested message is indented one step deeper than its scope's lines.
    auto lines = ReadFileLines(log_file);
    ASSERT_EQ(lines.size(), records.size());
    EXPECT_NE(lines[0].find("LogInit"), std::string::npos) << lines[0];
    EXPECT_NE(lines[3].find("trace support_logging_test.exe Test::Lifecycle::Nested: one level in"), std::string::npos)
        << lines[3];
    EXPECT_EQ(Indent(lines[3]), Indent(lines[2]) + 2);
    EXPECT_EQ(Indent(lines[4]), Indent(lines[2]));
    EXPECT_NE(lines.back().find("LogRemoveModule(\"logging::CLogDLL::~CLogDLL\")"), std::string::npos);

    FreeLibrary(pin);
    EXPECT_EQ(LoadedLogDll(), nullptr) << "the binder kept a reference on log.dll";
    logging::WriteMessage(logging::LevelTrace, L"Test::Lifecycle", L"after the last release");
    EXPECT_EQ(LoadedLogDll(), nullptr) << "a message after the last release reloaded log.dll";
    EXPECT_EQ(ReadFileLines(log_file).size(), lines.size()) << "a message after the last release reloaded log.dll";

    // A trace scope is not gated: it builds a binder for each of its lines.
    {
        logging::TraceScope scope(L"Test::Lifecycle::Traced");
        EXPECT_EQ(LoadedLogDll(), nullptr) << "the entry line's binder outlived its line";
    }
    EXPECT_EQ(LogHandle::UserCount(), 0);
}

TEST(LogBinderLifecycle, LoadsOnFirstHoldUnbindsOnLastAndMessagesNeverReload) {
    TempFolder folder;
    EXPECT_EQ(RunTestInChild("LogBinderLifecycleInChild.DISABLED_LoadsOnFirstHoldUnbindsOnLastAndMessagesNeverReload",
                             folder.Path()),
              0);
}

// The host has loaded a log.dll without LogWrite: the binder takes that one, calls LogInit and writes nothing.
TEST(LogBinderLifecycleInChild, DISABLED_LogDllWithoutLogWriteIsBoundButNeverWritten) {
    const std::wstring without_write = ExecutableFolder() + L"nolog\\log.dll";
    HMODULE host_loaded = LoadLibraryW(without_write.c_str());
    ASSERT_NE(host_loaded, nullptr);
    ASSERT_EQ(GetProcAddress(host_loaded, "LogWrite"), nullptr);
    StandInLogApi api(host_loaded);
    ASSERT_TRUE(api.Valid());
    {
        LogHandle handle;
        handle.Acquire();
        logging::WriteMessage(logging::LevelError, L"Test::NoWrite", L"lost %d", 1);
        logging::TraceScope scope(L"Test::NoWrite::Traced");
        EXPECT_EQ(LoadedModulesNamed(L"log.dll"), std::vector<std::wstring>{without_write});
    }
    EXPECT_EQ(LifecycleCalls(AllRecords(api)),
              (std::vector<int>{StandInLogCallInit, StandInLogCallDeinit, StandInLogCallUninitDeskMetrics,
                                StandInLogCallRemoveModule}));
    EXPECT_EQ(api.WriteCalls(), 0);
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), host_loaded);
    FreeLibrary(host_loaded);
    EXPECT_EQ(LoadedLogDll(), nullptr);
}

TEST(LogBinderLifecycle, LogDllWithoutLogWriteIsBoundButNeverWritten) {
    EXPECT_EQ(RunTestInChild("LogBinderLifecycleInChild.DISABLED_LogDllWithoutLogWriteIsBoundButNeverWritten"), 0);
}
