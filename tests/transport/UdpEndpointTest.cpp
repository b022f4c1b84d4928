#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/Network.h"
#include "transport/UdpEndpoint.h"

using test::Peer;

class Endpoint : public NetworkTest {
protected:
    // Receives one datagram into buf, waiting at most a few seconds for it.
    int Receive(CUdpEndpoint& endpoint, char* buf, int capacity, unsigned long* source,
                int* sourcePort) {
        if (!test::WaitReadable(endpoint.GetSocket())) return -2;
        int length = capacity;
        endpoint.RecvFrom(buf, &length, source, sourcePort);
        return length;
    }
};

TEST_F(Endpoint, StartsWithEventsAndNoSocket) {
    CUdpEndpoint endpoint;
    EXPECT_TRUE(endpoint.HasEvents());
    EXPECT_EQ(INVALID_SOCKET, endpoint.GetSocket());
    EXPECT_EQ(0ul, endpoint.interfaceAddress);
    EXPECT_EQ(0ul, endpoint.groupAddress);
}

TEST_F(Endpoint, BindsOnAnyInterfaceOrOnLoopback) {
    CUdpEndpoint any, local;
    ASSERT_EQ(1, any.Create(0, 0));
    EXPECT_EQ(0ul, any.interfaceAddress);
    EXPECT_GT(support::BoundPort(any.GetSocket()), 0);
    ASSERT_EQ(1, local.Create(0, loopback));
    EXPECT_EQ(loopback, local.interfaceAddress);

    Peer peer;
    ASSERT_TRUE(peer.SendTo("hello", loopback, support::BoundPort(local.GetSocket())));
    char buf[16] = {};
    unsigned long source = 0;
    int sourcePort = 0;
    ASSERT_EQ(5, Receive(local, buf, sizeof buf, &source, &sourcePort));
    EXPECT_EQ(std::string("hello"), buf);
    EXPECT_EQ(loopback, source);
    EXPECT_EQ(peer.Port(), sourcePort);
}

TEST_F(Endpoint, HeldPortIsRefusedAndLeavesNoSocket) {
    Peer holder("0.0.0.0");
    CUdpEndpoint endpoint;
    EXPECT_EQ(0, endpoint.Create(holder.Port(), 0));
    EXPECT_EQ(INVALID_SOCKET, endpoint.GetSocket());
    EXPECT_EQ(0, endpoint.Create(holder.Port(), loopback));
    EXPECT_EQ(INVALID_SOCKET, endpoint.GetSocket());
}

TEST_F(Endpoint, PortsAndAddressesOutOfRangeAreRefused) {
    CUdpEndpoint top;
    EXPECT_EQ(1, top.Create(65535, loopback)) << "the highest port is in range";
    CUdpEndpoint endpoint;
    EXPECT_EQ(0, endpoint.Create(65536, 0));
    EXPECT_EQ(0, endpoint.Create(-1, 0));
    EXPECT_EQ(INVALID_SOCKET, endpoint.GetSocket());
    ASSERT_EQ(1, endpoint.Create(0, 0));
    EXPECT_EQ(0, endpoint.SendTo("x", 1, loopback, 65536 + 9));
    EXPECT_EQ(0, endpoint.SendTo("x", 1, loopback, -5));

    // Where unsigned long is wider than an address, the upper bits must not
    // be dropped on the way to 127.0.0.1.
    if (sizeof(unsigned long) > 4) {
        const unsigned long wide = loopback | (~0ul << 16 << 16);
        CUdpEndpoint other;
        EXPECT_EQ(0, other.Create(0, wide));
        EXPECT_EQ(0, endpoint.SendTo("x", 1, wide, 9));
        EXPECT_EQ(0, endpoint.JoinGroup(group | (~0ul << 16 << 16)));
    }
}

TEST_F(Endpoint, CloseTwiceLeavesTheSocketInvalidAndCreateWorksAgain) {
    CUdpEndpoint endpoint;
    ASSERT_EQ(1, endpoint.Create(0, 0));
    endpoint.Close();
    endpoint.Close();
    EXPECT_EQ(INVALID_SOCKET, endpoint.GetSocket());
    EXPECT_EQ(1, endpoint.Create(0, loopback));
}

TEST_F(Endpoint, EmptyDatagramSendsAndArrives) {
    CUdpEndpoint sender, receiver;
    ASSERT_EQ(1, sender.Create(0, 0));
    ASSERT_EQ(1, receiver.Create(0, loopback));
    EXPECT_EQ(1, sender.SendTo("", 0, loopback, support::BoundPort(receiver.GetSocket())));
    char buf[8];
    unsigned long source = 0;
    EXPECT_EQ(0, Receive(receiver, buf, sizeof buf, &source, nullptr));
    EXPECT_EQ(loopback, source);
}

TEST_F(Endpoint, FailedReceiveReportsMinusOneAndLeavesSourceUntouched) {
    CUdpEndpoint endpoint;
    ASSERT_EQ(1, endpoint.Create(0, loopback));
    ASSERT_EQ(1, endpoint.SelectEvents(FD_READ));  // non-blocking: nothing queued fails
    char buf[8];
    int length = sizeof buf;
    unsigned long source = 0xDEADBEEF;
    int sourcePort = 4242;
    EXPECT_EQ(0, endpoint.RecvFrom(buf, &length, &source, &sourcePort));
    EXPECT_EQ(-1, length);
    EXPECT_EQ(0xDEADBEEFul, source);
    EXPECT_EQ(4242, sourcePort);
}

TEST_F(Endpoint, DatagramLargerThanTheBufferFailsInsteadOfArrivingCut) {
    CUdpEndpoint sender, receiver;
    ASSERT_EQ(1, sender.Create(0, 0));
    ASSERT_EQ(1, receiver.Create(0, loopback));
    ASSERT_EQ(1, sender.SendTo("nine byte", 9, loopback, support::BoundPort(receiver.GetSocket())));
    char buf[8];
    unsigned long source = 0xDEADBEEF;
    EXPECT_EQ(-1, Receive(receiver, buf, sizeof buf, &source, nullptr));
    EXPECT_EQ(0xDEADBEEFul, source);
}

TEST_F(Endpoint, SelectEventsOnAClosedEndpointFailsWithoutCallingThePlatform) {
    CUdpEndpoint endpoint;
    support::SetLastError(1234);
    EXPECT_EQ(0, endpoint.SelectEvents(FD_READ));
    EXPECT_EQ(1234, support::LastError());
}

TEST_F(Endpoint, EachBufferBelowTheSizeIsRaisedAndNoOtherIsTouched) {
    for (const bool receive : {false, true}) {
        SCOPED_TRACE(receive ? "receive buffer" : "send buffer");
        CUdpEndpoint endpoint;
        ASSERT_EQ(1, endpoint.Create(0, 0));
        const std::uintptr_t s = endpoint.GetSocket();
        ASSERT_TRUE(test::SetBufferSize(s, false, 4096));
        ASSERT_TRUE(test::SetBufferSize(s, true, 4096));
        const int small = test::BufferSize(s, receive);
        ASSERT_LT(small, kSocketBufferSize);
        EXPECT_EQ(1, receive ? endpoint.SetRecvBuffer(kSocketBufferSize)
                             : endpoint.SetSendBuffer(kSocketBufferSize));
        EXPECT_GE(test::BufferSize(s, receive), kSocketBufferSize);
        EXPECT_EQ(small, test::BufferSize(s, !receive)) << "the other buffer was changed";
    }
}

TEST_F(Endpoint, JoinReceivesTheGroupAndLeaveStopsIt) {
    CUdpEndpoint member;
    ASSERT_EQ(1, member.Create(0, 0));
    ASSERT_EQ(1, member.JoinGroup(group));
    EXPECT_EQ(group, member.groupAddress);
    const int port = support::BoundPort(member.GetSocket());

    Peer peer;
    ASSERT_TRUE(peer.SendTo("in group", group, port));
    char buf[32] = {};
    ASSERT_EQ(8, Receive(member, buf, sizeof buf, nullptr, nullptr));
    EXPECT_EQ(std::string("in group"), buf);

    ASSERT_EQ(1, member.LeaveGroup());
    EXPECT_EQ(group, member.groupAddress) << "the group is kept after leaving";
    ASSERT_TRUE(peer.SendTo("after leave", group, port));
    ASSERT_TRUE(peer.SendTo("marker", loopback, port));
    std::memset(buf, 0, sizeof buf);
    ASSERT_EQ(6, Receive(member, buf, sizeof buf, nullptr, nullptr));
    EXPECT_EQ(std::string("marker"), buf);
}

TEST_F(Endpoint, LeaveWithoutJoinReportsThePlatformsRefusal) {
    CUdpEndpoint endpoint;
    ASSERT_EQ(1, endpoint.Create(0, 0));
    EXPECT_EQ(0, endpoint.LeaveGroup());
    EXPECT_EQ(0ul, endpoint.groupAddress);
}

TEST_F(Endpoint, JoinOnAClosedEndpointFailsAndRecordsNothing) {
    CUdpEndpoint endpoint;
    EXPECT_EQ(0, endpoint.JoinGroup(group));
    EXPECT_EQ(0ul, endpoint.groupAddress);
}
