// Fixture for tests that use the socket layer: started before each test and
// balanced after it, so every test begins in a process with no start-up.
#ifndef VEKLINK_TEST_NETWORK_H
#define VEKLINK_TEST_NETWORK_H

#include <gtest/gtest.h>

#include "VekLink.h"
#include "support/Peer.h"

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, VekInitInstance()); }
    void TearDown() override { EXPECT_EQ(1, VekExitInstance()); }

    const unsigned long loopback = test::Ipv4("127.0.0.1");
    const unsigned long group = test::Ipv4("239.255.42.99");
};

#endif
