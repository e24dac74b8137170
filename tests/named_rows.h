// Table-driven tests whose rows have names. A TEST_P row's name ends its test's name (Suite.Case/RowName), so that
// CTest names a failing row and the rows after it still run, each in a process of its own. Rows that share one
// costly setup (a loaded plug-in, a started agent) stay in one test and go through ForEachRow instead.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <string>
#include <utility>

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

// The name a row goes by: its `name` member, the first of a pair, or a row of numbers its numbers.
template <typename Row>
auto NameOf(const Row& row) -> decltype(row.name) {
    return row.name;
}
template <typename Name, typename Data>
const Name& NameOf(const std::pair<Name, Data>& row) {
    return row.first;
}
template <typename Number, std::size_t count>
std::string NameOf(const Number (&row)[count]) {
    std::string name;
    for (const Number& value : row) {
        name += (name.empty() ? "" : " ") + std::to_string(value);
    }
    return name;
}

// Runs check(row) for each row under the row's name: a failure names its row, and an ASSERT_ ends only the row it
// fails in, so the rows after it still run.
template <typename Rows, typename Check>
void ForEachRow(const Rows& rows, const Check& check) {
    for (const auto& row : rows) {
        SCOPED_TRACE(NameOf(row));
        check(row);
    }
}
