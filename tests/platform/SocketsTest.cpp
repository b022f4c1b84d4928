// The socket-layer behaviour the endpoint relies on, checked against the
// platform underneath: the POSIX layer and the system's own calls natively,
// Windows Sockets under Wine.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/Network.h"

namespace {

// A UDP socket bound to an address of the platform's choosing on loopback,
// opened by the support layer; the calls under test then work on it.
SOCKET BoundSocket(unsigned long address) {
    const support::Socket s = support::OpenUdp(address, 0);
    return s == support::kNoSocket ? INVALID_SOCKET : static_cast<SOCKET>(s);
}

}  // namespace

class Sockets : public NetworkTest {};

// Windows fails the receive (WSAEMSGSIZE) and drops the datagram; a receive
// that returned the first bytes as a whole datagram would hand the callback
// a cut message.
TEST_F(Sockets, ADatagramLargerThanTheBufferFailsAndIsDropped) {
    const SOCKET s = BoundSocket(loopback);
    ASSERT_NE(INVALID_SOCKET, s);
    test::Peer peer;
    ASSERT_TRUE(peer.SendTo("0123456789", loopback, support::BoundPort(s)));
    ASSERT_TRUE(peer.SendTo("next", loopback, support::BoundPort(s)));
    ASSERT_TRUE(test::WaitReadable(s));
    char buffer[16] = {};
    EXPECT_EQ(-1, recvfrom(s, buffer, 4, 0, nullptr, nullptr));
    ASSERT_TRUE(test::WaitReadable(s));
    EXPECT_EQ(4, recvfrom(s, buffer, 16, 0, nullptr, nullptr));
    EXPECT_STREQ("next", buffer);
    closesocket(s);
}

TEST_F(Sockets, ReceiveFillsTheSourceAddressAndItsLength) {
    const SOCKET s = BoundSocket(loopback);
    ASSERT_NE(INVALID_SOCKET, s);
    test::Peer peer;
    ASSERT_TRUE(peer.SendTo("", loopback, support::BoundPort(s)));
    ASSERT_TRUE(test::WaitReadable(s));
    char buffer[4];
    sockaddr_in from = {};
    int fromLength = sizeof from;
    EXPECT_EQ(0, recvfrom(s, buffer, 4, 0, reinterpret_cast<sockaddr*>(&from), &fromLength))
        << "an empty datagram";
    EXPECT_EQ(16, fromLength);
    EXPECT_EQ(AF_INET, from.sin_family);
    EXPECT_EQ(loopback, from.sin_addr.s_addr);
    EXPECT_EQ(peer.Port(), ntohs(from.sin_port));
    closesocket(s);
}

// The endpoint reads a buffer's size back before raising it.
TEST_F(Sockets, ABufferSizeReadsBackAtLeastAsLargeAsItWasSet) {
    const SOCKET s = BoundSocket(0);
    ASSERT_NE(INVALID_SOCKET, s);
    const int size = 65536;
    ASSERT_EQ(
        0, setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size));
    int current = 0;
    socklen_t length = sizeof current;
    ASSERT_EQ(0, getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&current), &length));
    EXPECT_EQ(4, static_cast<int>(length));
    EXPECT_GE(current, size);
    closesocket(s);
}

// Start-ups are counted: sockets and the host name work from the first
// start-up to the clean-up that balances the last. Wine opens sockets and
// answers the host name without a start-up, so only the counting is held to
// there.
// (The lengths are ints, as the library passes them: natively a size_t would
// pick the system's own gethostname.)
TEST(SocketLayer, SocketsAndTheHostNameNeedAStartUp) {
    const bool strict = !test::UnderWine();
    char name[64];
    if (strict) EXPECT_NE(0, gethostname(name, 64)) << "before any start-up";
    if (strict) EXPECT_EQ(INVALID_SOCKET, WSASocketA(AF_INET, SOCK_DGRAM, 0, nullptr, 0, 0));

    WSADATA data;
    ASSERT_EQ(0, WSAStartup(0x0202, &data));
    EXPECT_EQ(0x0202, data.wVersion);
    ASSERT_EQ(0, WSAStartup(0x0202, &data));
    ASSERT_EQ(0, WSACleanup());
    EXPECT_EQ(0, gethostname(name, 64)) << "one start-up still counted";
    const SOCKET s = WSASocketA(AF_INET, SOCK_DGRAM, 0, nullptr, 0, 0);
    EXPECT_NE(INVALID_SOCKET, s);
    closesocket(s);
    ASSERT_EQ(0, WSACleanup());

    if (strict) EXPECT_NE(0, gethostname(name, 64)) << "after the last clean-up";
    if (strict) EXPECT_EQ(INVALID_SOCKET, WSASocketA(AF_INET, SOCK_DGRAM, 0, nullptr, 0, 0));
    if (strict) EXPECT_NE(0, WSACleanup()) << "a clean-up without a start-up";
}
