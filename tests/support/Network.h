// Fixture for tests that use the socket layer: started before each test and
// balanced after it, so every test begins in a process with no start-up. A
// test that must leave nothing behind says so (ExpectNothingLeft), and the
// fixture checks it after the test.
#ifndef VEKLINK_TEST_NETWORK_H
#define VEKLINK_TEST_NETWORK_H

#include <gtest/gtest.h>

#include "VekLink.h"
#include "support/Held.h"
#include "support/Peer.h"

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, VekInitInstance()); }
    void TearDown() override {
        if (checked_.handles >= 0) EXPECT_TRUE(test::NothingLeaked(checked_));
        EXPECT_EQ(1, VekExitInstance());
    }

    // Everything the test opens or starts from here on (sockets, events,
    // threads) must be gone again once its objects are: the counters are
    // first proven to move, then what the process holds is counted, and
    // after the test it is counted again.
    void ExpectNothingLeft() {
        const ::testing::AssertionResult counters = test::CountersMove();
        EXPECT_TRUE(counters);
        if (counters) checked_ = test::CountHeld();
    }

    const unsigned long loopback = test::Ipv4("127.0.0.1");
    const unsigned long group = test::Ipv4("239.255.42.99");

private:
    test::Held checked_;
};

#endif
