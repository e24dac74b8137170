// The scoped owners: each value closed exactly once, and the caller's last error untouched by the closing.
#include "support/unique_resource.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/named_rows.h"

namespace {

int g_closed = 0;

// Closes as some real close functions do on their way: it leaves an error of its own behind.
void CloseAndSetError(int) noexcept {
    ++g_closed;
    SetLastError(ERROR_GEN_FAILURE);
}

using Owner = qv::UniqueResource<int, CloseAndSetError>;

struct ClosingCase {
    const char* name;
    void (*close)();
    int closes;  // every value the case gave the owner, each once
};

const ClosingCase kClosingCases[] = {
    {"Reset", [] { Owner(1).reset(); }, 1},
    {"ResetToANewValue", [] { Owner(1).reset(2); }, 2},
    {"Destruction", [] { Owner owner(1); }, 1},
    {"MoveAssignment",
     [] {
         Owner owner(1);
         owner = Owner(2);
     },
     2},
};

class UniqueResourceClosing : public testing::TestWithParam<ClosingCase> {};

}  // namespace

TEST_P(UniqueResourceClosing, LeavesTheCallersLastError) {
    g_closed = 0;
    SetLastError(ERROR_FILE_NOT_FOUND);
    GetParam().close();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(g_closed, GetParam().closes);
}

INSTANTIATE_TEST_SUITE_P(Each, UniqueResourceClosing, testing::ValuesIn(kClosingCases), NameOfRow());

TEST(UniqueResource, AnEmptyOwnerClosesNothing) {
    g_closed = 0;
    Owner owner;
    owner.reset();
    Owner moved(std::move(owner));
    EXPECT_EQ(g_closed, 0);
}
