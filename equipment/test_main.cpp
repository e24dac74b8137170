// The entry point of every test program: GoogleTest's own, plus one line that only a whole, passing run prints.
//
// CTest takes that line as the pass rather than the exit code alone: Wine ends a process that loses its
// wineserver with exit code 0, so a program cut short could otherwise pass without having run its cases. Runs
// that a test starts as a child (its DISABLED_ cases) leave the line out, so that a child's success never stands
// for its parent's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

bool RanADisabledCase(const testing::UnitTest& unit) {
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const testing::TestSuite* suite = unit.GetTestSuite(s);
        for (int t = 0; t < suite->total_test_count(); ++t) {
            const testing::TestInfo* info = suite->GetTestInfo(t);
            if (info->should_run() && (std::strncmp(info->name(), "DISABLED_", 9) == 0 ||
                                       std::strncmp(info->test_suite_name(), "DISABLED_", 9) == 0)) {
                return true;
            }
        }
    }
    return false;
}

class CompletionLine final : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest& unit) override {
        if (unit.Passed() && unit.test_to_run_count() > 0 && !RanADisabledCase(unit)) {
            std::printf("%s\n", "vorn-test: every case run passed");
            std::fflush(stdout);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new CompletionLine);
    return RUN_ALL_TESTS();
}
