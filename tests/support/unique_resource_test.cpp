// The scoped owners: each value closed exactly once, and the caller's last error untouched by the closing.
#include "support/unique_resource.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

int g_closed = 0;

// Closes as some real close functions do on their way: it leaves an error of its own behind.
void CloseAndSetError(int) noexcept {
    ++g_closed;
    SetLastError(ERROR_GEN_FAILURE);
}

using Owner = qv::UniqueResource<int, CloseAndSetError>;

}  // namespace

TEST(UniqueResource, ClosingLeavesTheCallersLastError) {
    struct Case {
        const char* name;
        void (*close)();
        int closes;  // every value the case gave the owner, each once
    };
    const Case cases[] = {
        {"reset", [] { Owner(1).reset(); }, 1},
        {"reset to a new value", [] { Owner(1).reset(2); }, 2},
        {"destruction", [] { Owner owner(1); }, 1},
        {"move assignment",
         [] {
             Owner owner(1);
             owner = Owner(2);
         },
         2},
    };
    for (const Case& c : cases) {
        g_closed = 0;
        SetLastError(ERROR_FILE_NOT_FOUND);
        c.close();
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << c.name;
        EXPECT_EQ(g_closed, c.closes) << c.name;
    }
}

TEST(UniqueResource, AnEmptyOwnerClosesNothing) {
    g_closed = 0;
    Owner owner;
    owner.reset();
    Owner moved(std::move(owner));
    EXPECT_EQ(g_closed, 0);
}
