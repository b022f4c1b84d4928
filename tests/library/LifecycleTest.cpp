#include <gtest/gtest.h>

#include "VekLink.h"
#include "support/Peer.h"

// Each test starts in a process where nothing holds a socket-layer start-up.

TEST(Lifecycle, BalancedStartAndCleanUpSucceed) {
    EXPECT_EQ(1, VekInitInstance());
    EXPECT_EQ(1, VekExitInstance());
}

TEST(Lifecycle, CleanUpWithoutStartUpFails) {
    if (test::UnderWine()) GTEST_SKIP() << "Wine's clean-up succeeds without a start-up";
    EXPECT_EQ(0, VekExitInstance());
}

TEST(Lifecycle, SecondCleanUpAfterOneStartUpFails) {
    ASSERT_EQ(1, VekInitInstance());
    EXPECT_EQ(1, VekExitInstance());
    if (test::UnderWine()) GTEST_SKIP() << "Wine's clean-up succeeds without a start-up";
    EXPECT_EQ(0, VekExitInstance());
}

TEST(Lifecycle, SocketsStayUsableUntilTheLastCleanUp) {
    ASSERT_EQ(1, VekInitInstance());
    ASSERT_EQ(1, VekInitInstance());
    ASSERT_EQ(1, VekExitInstance());
    CVekSend sender;
    EXPECT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    sender.ExitInstance();
    ASSERT_EQ(1, VekExitInstance());
    if (test::UnderWine()) return;  // Wine keeps sockets usable after clean-up
    EXPECT_EQ(0, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    EXPECT_EQ(nullptr, sender.endpoint);
}
