// Table-driven tests: each row of a TEST_P table has a name that ends its test's name (Suite.Case/RowName), so
// that CTest names a failing row and the rows after it still run, each in a process of its own.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

// "start twice, then stop" -> "StartTwiceThenStop": a phrase as the letters and digits a test name may hold.
inline std::string RowName(const std::string& phrase) {
    std::string name;
    bool word_starts = true;
    for (const unsigned char c : phrase) {
        if (std::isalnum(c)) {
            name += static_cast<char>(word_starts ? std::toupper(c) : c);
        }
        word_starts = !std::isalnum(c);
    }
    return name;
}

// The name generator of INSTANTIATE_TEST_SUITE_P for rows whose `name` member is such a phrase.
struct NameOfRow {
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return RowName(info.param.name);
    }
};

// The rows of a TEST_P suite, without an instantiation prefix: Suite.Case/RowName.
#define VORN_TEST_ROWS(suite, rows) INSTANTIATE_TEST_SUITE_P(, suite, testing::ValuesIn(rows), NameOfRow())
