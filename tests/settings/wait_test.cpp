// The wait behind Update, with a time-out short enough for a test (the product waits 100 minutes).
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "settings/settings_impl.h"
#include "support/unique_resource.h"

using Endpoint::Vorn::NG::WaitForServerUp;

namespace {

qv::UniqueHandle ManualResetEvent(bool signalled) {
    return qv::UniqueHandle(CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr));
}

TEST(SettingsWait, ReturnsZeroForASignalledEventAndLeavesItSignalled) {
    qv::UniqueHandle event = ManualResetEvent(true);
    ASSERT_TRUE(event);
    EXPECT_EQ(WaitForServerUp(event.get(), 0), 0u);
    EXPECT_EQ(WaitForServerUp(event.get(), 0), 0u);
}

TEST(SettingsWait, ReturnsTheRawTimeoutWhenTheServerStaysDown) {
    qv::UniqueHandle event = ManualResetEvent(false);
    ASSERT_TRUE(event);
    EXPECT_EQ(WaitForServerUp(event.get(), 50), static_cast<unsigned long>(WAIT_TIMEOUT));
}

TEST(SettingsWait, ReturnsWaitFailedWithoutAnEvent) {
    EXPECT_EQ(WaitForServerUp(nullptr, 50), static_cast<unsigned long>(WAIT_FAILED));
}

TEST(SettingsWait, ReturnsZeroWhenAnotherThreadSignalsDuringTheWait) {
    qv::UniqueHandle event = ManualResetEvent(false);
    ASSERT_TRUE(event);
    std::thread signaller([&] {
        Sleep(100);
        SetEvent(event.get());
    });
    EXPECT_EQ(WaitForServerUp(event.get(), 10000), 0u);
    signaller.join();
}

}  // namespace
