// What Linux and Wine hide and the test-seam build shows: buffers that need
// raising (sockets made to start small), the group left while the socket is
// still open (successful membership drops counted), a granted version other
// than 2.2, a send the platform took only part of, and the interface a
// multicast datagram leaves by.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "faults/Interposer.h"
#include "platform/posix/seams.h"
#include "support/EndpointSocket.h"
#include "support/Network.h"

namespace {

void Ignore(void*, int, void*, unsigned long, int) {}

std::uint16_t grantedVersion = 0;
std::uint16_t GrantChosen(std::uint16_t) { return grantedVersion; }

}  // namespace

class SeamObservations : public NetworkTest {
protected:
    void TearDown() override {
        faults::StartSocketsWithBuffers(0);
        faults::ShortenSends(false);
        NetworkTest::TearDown();
    }
};

TEST_F(SeamObservations, BuffersThatStartSmallAreRaisedTo65536) {
    faults::StartSocketsWithBuffers(4096);
    test::Peer small;
    ASSERT_LT(test::BufferSize(small.Socket(), true), 65536) << "sockets do not start small";
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    EXPECT_GE(test::BufferSize(test::SocketOf(sender.endpoint), false), 65536);
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Ignore, 0, 0, 0, nullptr));
    EXPECT_GE(test::BufferSize(test::SocketOf(listener.endpoint), true), 65536);
    listener.Stop();
}

// A drop succeeds only while the socket is open and a member.
TEST_F(SeamObservations, TheGroupIsLeftBeforeTheSocketCloses) {
    const struct {
        unsigned long mode;
        int drops;
    } cases[] = {{VEK_MODE_MULTICAST, 1}, {VEK_MODE_UNICAST, 0}};
    for (const auto& c : cases) {
        CVekSend sender;
        ASSERT_EQ(1, sender.InitInstance(c.mode, group, loopback));
        int before = faults::MembershipsDropped();
        sender.ExitInstance();
        EXPECT_EQ(c.drops, faults::MembershipsDropped() - before) << "sender, mode " << c.mode;

        CVekListen listener;
        ASSERT_EQ(1, listener.Run(c.mode, Ignore, 0, 0, group, nullptr));
        before = faults::MembershipsDropped();
        listener.Stop();
        EXPECT_EQ(c.drops, faults::MembershipsDropped() - before) << "listener, mode " << c.mode;
    }
}

TEST_F(SeamObservations, ASendThePlatformTookOnlyPartOfFails) {
    test::Peer peer;
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    faults::ShortenSends(true);
    EXPECT_EQ(0, sender.Send(const_cast<char*>("whole"), 5, peer.Port(), loopback));
    faults::ShortenSends(false);
    EXPECT_EQ(1, sender.Send(const_cast<char*>("whole"), 5, peer.Port(), loopback));
}

// Linux sends the multicast of a socket bound to an interface's address by
// that interface whatever the option says, so the socket's own record of
// its outgoing interface is what shows that the option was set.
TEST_F(SeamObservations, MulticastLeavesByTheInterfaceTheSenderNamed) {
    for (const unsigned long named : {loopback, 0ul}) {
        CVekSend sender;
        ASSERT_EQ(1, sender.InitInstance(VEK_MODE_MULTICAST, group, named));
        in_addr outgoing = {};
        socklen_t length = sizeof outgoing;
        ASSERT_EQ(0, getsockopt(static_cast<int>(test::SocketOf(sender.endpoint)), IPPROTO_IP,
                                IP_MULTICAST_IF, &outgoing, &length));
        EXPECT_EQ(named, outgoing.s_addr);
    }
}

// Without a start-up of its own, so that a start-up left counted shows.
TEST(GrantedVersion, AnyGrantButTwoPointTwoFailsAndLeavesNoStartUp) {
    for (std::uint16_t version : {0x0102, 0x0101, 0x0002}) {  // 2.1, 1.1, 2.0
        grantedVersion = version;
        win::seam::SetGrant(GrantChosen);
        EXPECT_EQ(0, VekInitInstance()) << std::hex << version;
        win::seam::SetGrant(nullptr);
        EXPECT_EQ(0, VekExitInstance()) << "a start-up was left counted";
    }
    ASSERT_EQ(1, VekInitInstance());
    EXPECT_EQ(1, VekExitInstance());
}
