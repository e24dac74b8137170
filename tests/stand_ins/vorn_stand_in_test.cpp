// The vorn.dll stand-in as the plug-in links it: it records each text argument as given, null and empty apart.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "service_host/vorn_service.h"
#include "stand_ins/vorn/vorn_control.h"

namespace {

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

}  // namespace
