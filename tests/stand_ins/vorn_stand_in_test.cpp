// The vorn.dll stand-in as the plug-in links it: what it records of the calls made through the import library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "service_host/vorn_service.h"
#include "stand_ins/vorn/vorn_control.h"

namespace {

std::vector<int> RecordedCalls() {
    std::vector<int> calls(64);
    calls.resize(VornControlGetCalls(calls.data(), static_cast<unsigned long>(calls.size())));
    return calls;
}

// What a recorded text should read: null, or the given bytes.
void ExpectText(const VornControlText& recorded, const char* expected, const char* what) {
    SCOPED_TRACE(what);
    if (expected == nullptr) {
        EXPECT_EQ(recorded.is_null, 1);
        EXPECT_STREQ(recorded.text, "");
    } else {
        EXPECT_EQ(recorded.is_null, 0);
        EXPECT_STREQ(recorded.text, expected);
    }
    EXPECT_EQ(recorded.truncated, 0);
}

TEST(VornStandIn, RecordsEachTextArgumentWithNullAndEmptyTextApart) {
    struct Case {
        const char* level;
        const char* log_dir;
        int max_size;
        int max_files;
        const char* reserved;
    };
    const Case cases[] = {
        {"trace", "C:\\Logs\\Vorn", 10240, 1, nullptr},
        {"", "", 0, 0, ""},
        {nullptr, nullptr, -1, -7, nullptr},
        {"off", "C:\\Program Files\\\xC3\xA9t\xC3\xA9", INT_MAX, INT_MIN, "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << (c.level ? c.level : "(null)") << ", dir "
                                        << (c.log_dir ? c.log_dir : "(null)"));
        VornControlReset();
        vorn::vorn_service::set_initial_log_config(c.level, c.log_dir, c.max_size, c.max_files, c.reserved);

        VornControlLogConfig config{};
        ASSERT_EQ(VornControlGetLogConfig(&config), 1);
        ExpectText(config.level, c.level, "level");
        ExpectText(config.log_dir, c.log_dir, "log_dir");
        ExpectText(config.reserved, c.reserved, "reserved");
        EXPECT_EQ(config.max_size, c.max_size);
        EXPECT_EQ(config.max_files, c.max_files);
    }
}

TEST(VornStandIn, KeepsCopiesOfTheTextsAndOnlyTheLastConfiguration) {
    VornControlReset();
    char level[] = "warning";
    char dir[] = "D:\\First";
    vorn::vorn_service::set_initial_log_config(level, dir, 1, 1, nullptr);
    std::strcpy(level, "xxxxxxx");
    std::strcpy(dir, "yyyyyyyy");

    VornControlLogConfig config{};
    ASSERT_EQ(VornControlGetLogConfig(&config), 1);
    EXPECT_STREQ(config.level.text, "warning");
    EXPECT_STREQ(config.log_dir.text, "D:\\First");

    vorn::vorn_service::set_initial_log_config("error", "D:\\Second", 2, 1, nullptr);
    ASSERT_EQ(VornControlGetLogConfig(&config), 1);
    EXPECT_STREQ(config.level.text, "error");
    EXPECT_STREQ(config.log_dir.text, "D:\\Second");
    EXPECT_EQ(config.max_size, 2);
}

TEST(VornStandIn, CutsOverlongTextsAndSaysSo) {
    VornControlReset();
    const std::string dir(3 * VORN_CONTROL_TEXT_MAX, 'd');
    vorn::vorn_service::set_initial_log_config("info", dir.c_str(), 1, 1, nullptr);

    VornControlLogConfig config{};
    ASSERT_EQ(VornControlGetLogConfig(&config), 1);
    EXPECT_EQ(config.log_dir.truncated, 1);
    EXPECT_EQ(std::string(config.log_dir.text), dir.substr(0, VORN_CONTROL_TEXT_MAX - 1));
    EXPECT_EQ(config.level.truncated, 0);
}

TEST(VornStandIn, RecordsTheOrderOfCallsAndCountsStartsAndStops) {
    VornControlReset();
    vorn::vorn_service::set_initial_log_config("off", "", 10240, 1, nullptr);
    vorn::vorn_service& service = vorn::vorn_service::instance();
    service.start_async();

    VornControlCounts counts{};
    VornControlGetCounts(&counts);
    EXPECT_EQ(counts.running, 1);

    service.stop();
    vorn::vorn_service::instance().stop();

    EXPECT_THAT(RecordedCalls(),
                testing::ElementsAre(VORN_CALL_SET_INITIAL_LOG_CONFIG, VORN_CALL_INSTANCE, VORN_CALL_START_ASYNC,
                                     VORN_CALL_STOP, VORN_CALL_INSTANCE, VORN_CALL_STOP));
    VornControlGetCounts(&counts);
    EXPECT_EQ(counts.set_initial_log_config, 1u);
    EXPECT_EQ(counts.instance, 2u);
    EXPECT_EQ(counts.start_async, 1u);
    EXPECT_EQ(counts.stop, 2u);
    EXPECT_EQ(counts.running, 0);
}

TEST(VornStandIn, ResetForgetsEverythingButTheServiceObject) {
    vorn::vorn_service* const before = &vorn::vorn_service::instance();
    vorn::vorn_service::set_initial_log_config("info", "C:\\", 5, 1, nullptr);
    before->start_async();

    VornControlReset();

    VornControlLogConfig config{};
    config.max_size = 12345;
    EXPECT_EQ(VornControlGetLogConfig(&config), 0);
    EXPECT_EQ(config.max_size, 12345);
    EXPECT_THAT(RecordedCalls(), testing::IsEmpty());
    VornControlCounts counts{};
    VornControlGetCounts(&counts);
    EXPECT_EQ(counts.instance, 0u);
    EXPECT_EQ(counts.start_async, 0u);
    EXPECT_EQ(counts.running, 0);
    EXPECT_EQ(&vorn::vorn_service::instance(), before);
}

}  // namespace
