#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/EndpointSocket.h"
#include "support/Network.h"

using test::Datagram;
using test::Peer;

class Sender : public NetworkTest {};

TEST_F(Sender, UnicastBytesArriveExactlyFromOnePlatformChosenPort) {
    Peer peer;
    ASSERT_TRUE(peer.Valid());
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, group, 0));
    EXPECT_EQ(0ul, sender.groupAddress) << "unicast set-up ignores the group";

    std::vector<unsigned char> payload(1400);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(1, sender.Send(payload.data(), static_cast<unsigned long>(payload.size()),
                             peer.Port(), loopback));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("second"), 6, peer.Port(), loopback));

    Datagram first, second;
    ASSERT_TRUE(peer.Receive(&first));
    ASSERT_TRUE(peer.Receive(&second));
    EXPECT_EQ(payload, first.bytes);
    EXPECT_EQ("second", std::string(second.bytes.begin(), second.bytes.end()));
    EXPECT_EQ(loopback, first.sourceAddress);
    EXPECT_NE(0, first.sourcePort);
    EXPECT_EQ(first.sourcePort, second.sourcePort);

    // The peer can answer to that port: it is the sender's bound socket.
    EXPECT_NE(peer.Port(), first.sourcePort);
}

TEST_F(Sender, EmptyDatagramIsSent) {
    Peer peer;
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    EXPECT_EQ(1, sender.Send(nullptr, 0, peer.Port(), loopback));
    Datagram d;
    ASSERT_TRUE(peer.Receive(&d));
    EXPECT_TRUE(d.bytes.empty());
}

TEST_F(Sender, MulticastGoesToTheGroupWhateverAddressSendNames) {
    Peer member("0.0.0.0");
    ASSERT_TRUE(member.JoinGroup("239.255.42.99", "127.0.0.1"));
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_MULTICAST, group, loopback));
    EXPECT_EQ(group, sender.groupAddress);
    EXPECT_EQ(2ul, sender.mode);

    ASSERT_EQ(1, sender.Send(const_cast<char*>("to the group"), 12, member.Port(),
                             test::Ipv4("192.0.2.1")));
    Datagram d;
    ASSERT_TRUE(member.Receive(&d));
    EXPECT_EQ("to the group", std::string(d.bytes.begin(), d.bytes.end()));
    EXPECT_EQ(loopback, d.sourceAddress);
}

TEST_F(Sender, MulticastOnAnyInterfaceUsesThePlatformDefault) {
    Peer member("0.0.0.0");
    ASSERT_TRUE(member.JoinGroup("239.255.42.99"));
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_MULTICAST, group, 0));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("x"), 1, member.Port(), 0));
    Datagram d;
    EXPECT_TRUE(member.Receive(&d));
}

TEST_F(Sender, NonMulticastGroupFailsSetUpAndLeavesNothingOpen) {
    ExpectNothingLeft();
    CVekSend sender;
    EXPECT_EQ(0, sender.InitInstance(VEK_MODE_MULTICAST, test::Ipv4("192.0.2.1"), 0));
    EXPECT_EQ(nullptr, sender.endpoint);
    EXPECT_EQ(0ul, sender.groupAddress);
}

TEST_F(Sender, OtherModesAcceptSendsButPutNothingOnTheWire) {
    Peer peer, marker;
    for (unsigned long mode : {0ul, 3ul}) {
        CVekSend sender;
        ASSERT_EQ(1, sender.InitInstance(mode, group, 0));
        EXPECT_EQ(mode, sender.mode);
        EXPECT_EQ(1, sender.Send(const_cast<char*>("nothing"), 7, peer.Port(), loopback));
    }
    // The marker is sent after the no-op sends, so it must be the first to arrive.
    ASSERT_TRUE(marker.SendTo("marker", loopback, peer.Port()));
    Datagram d;
    ASSERT_TRUE(peer.Receive(&d));
    EXPECT_EQ("marker", std::string(d.bytes.begin(), d.bytes.end()));
}

TEST_F(Sender, OversizedDatagramIsRefusedAndTheSenderKeepsWorking) {
    Peer peer;
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    std::vector<char> big(65508, 'b');
    EXPECT_EQ(
        0, sender.Send(big.data(), static_cast<unsigned long>(big.size()), peer.Port(), loopback));
    EXPECT_EQ(1, sender.Send(big.data(), 65507, peer.Port(), loopback));
    Datagram d;
    ASSERT_TRUE(peer.Receive(&d));
    EXPECT_EQ(65507u, d.bytes.size());
}

TEST_F(Sender, SendBufferIsRaisedTo65536ButNeverLowered) {
    const test::PlainBuffer plain = test::PlainSocketBuffer(false);
    ASSERT_GT(plain.byDefault, 0);
    ASSERT_GE(plain.after65536, 65536);
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    EXPECT_EQ(std::max(plain.byDefault, plain.after65536),
              test::BufferSize(test::SocketOf(sender.endpoint), false));
}

TEST_F(Sender, TheHighestPortIsSentTo) {
    Peer top("127.0.0.1", 65535);
    ASSERT_TRUE(top.Valid());
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    EXPECT_EQ(1, sender.Send(const_cast<char*>("top"), 3, 65535, loopback));
    Datagram d;
    EXPECT_TRUE(top.Receive(&d));
}

TEST_F(Sender, PortsAndLengthsOutOfRangeAreRefusedNotTruncated) {
    Peer peer;
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    // 65536 + port would reach the peer if the port were cut to 16 bits.
    EXPECT_EQ(0, sender.Send(const_cast<char*>("x"), 1, 65536 + peer.Port(), loopback));
    EXPECT_EQ(0, sender.Send(const_cast<char*>("x"), 1, -1, loopback));
    // A length beyond what one send can carry is refused, not cut down (where
    // unsigned long is 64 bits, 2^32 + 1 would otherwise send 1 byte).
    const unsigned long huge = sizeof(unsigned long) > 4 ? (1ul << 16 << 16) + 1 : 0x80000001ul;
    EXPECT_EQ(0, sender.Send(const_cast<char*>("x"), huge, peer.Port(), loopback));
    Datagram d;
    EXPECT_FALSE(peer.Receive(&d, 200));
}

TEST_F(Sender, SendWithoutSetUpFailsAndExitInstanceTwiceIsHarmless) {
    CVekSend sender;
    EXPECT_EQ(0, sender.Send(const_cast<char*>("x"), 1, 9, loopback));
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    sender.ExitInstance();
    EXPECT_EQ(nullptr, sender.endpoint);
    EXPECT_EQ(1ul, sender.mode) << "the recorded mode survives ExitInstance";
    sender.ExitInstance();
    EXPECT_EQ(0, sender.Send(const_cast<char*>("x"), 1, 9, loopback));
}

TEST_F(Sender, CopiesReinitialisationAndDestructionNeverLeakOrShareTheSocket) {
    ExpectNothingLeft();
    {
        CVekSend original;
        ASSERT_EQ(1, original.InitInstance(VEK_MODE_MULTICAST, group, loopback));
        ASSERT_EQ(1, original.InitInstance(VEK_MODE_MULTICAST, group, loopback));

        CVekSend constructed(original);
        EXPECT_EQ(nullptr, constructed.endpoint);
        EXPECT_EQ(group, constructed.groupAddress);
        EXPECT_EQ(2ul, constructed.mode);

        CVekSend assigned;
        ASSERT_EQ(1, assigned.InitInstance(VEK_MODE_UNICAST, 0, 0));
        assigned = original;
        EXPECT_EQ(nullptr, assigned.endpoint);
        EXPECT_EQ(2ul, assigned.mode);
        assigned = assigned;

        // The original still owns a working socket.
        Peer member("0.0.0.0");
        ASSERT_TRUE(member.JoinGroup("239.255.42.99", "127.0.0.1"));
        EXPECT_EQ(1, original.Send(const_cast<char*>("still mine"), 10, member.Port(), 0));
        Datagram d;
        EXPECT_TRUE(member.Receive(&d));
        constructed.ExitInstance();
        assigned.ExitInstance();
    }
}
