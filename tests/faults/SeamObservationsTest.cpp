// What Linux and Wine hide and the test-seam build shows: buffers that need
// raising (sockets made to start small), the group left while the socket is
// still open (successful membership drops counted), a granted version other
// than 2.2, a send the platform took only part of, and the interface a
// multicast datagram leaves by (captured on the far end of a veth pair).
#include <gtest/gtest.h>

#include <linux/if_ether.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "faults/Interposer.h"
#include "platform/posix/seams.h"
#include "support/EndpointSocket.h"
#include "support/HostFacts.h"
#include "support/Network.h"

namespace {

void Ignore(void*, int, void*, unsigned long, int) {}

std::uint16_t grantedVersion = 0;
std::uint16_t GrantChosen(std::uint16_t) { return grantedVersion; }

// IPv4 datagrams that arrive on one interface, seen below the IP layer.
class Capture {
public:
    explicit Capture(const char* interfaceName)
        : socket_(::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP))) {
        sockaddr_ll at = {};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_IP);
        at.sll_ifindex = static_cast<int>(if_nametoindex(interfaceName));
        bound_ = socket_ >= 0 && at.sll_ifindex > 0 &&
                 bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    ~Capture() { ::close(socket_); }
    bool Valid() const { return bound_; }

    // True once a UDP datagram to group:port arrives, within 3 s.
    bool Sees(unsigned long group, int port) {
        unsigned char packet[2048];
        for (int i = 0; i < 300; ++i) {
            pollfd p{socket_, POLLIN, 0};
            if (::poll(&p, 1, 10) != 1) continue;
            const ssize_t n = ::recv(socket_, packet, sizeof packet, 0);
            const iphdr* ip = reinterpret_cast<const iphdr*>(packet);
            if (n < static_cast<ssize_t>(sizeof(iphdr) + sizeof(udphdr)) ||
                ip->protocol != IPPROTO_UDP || ip->daddr != group)
                continue;
            const udphdr* udp = reinterpret_cast<const udphdr*>(packet + ip->ihl * 4);
            if (ntohs(udp->dest) == port) return true;
        }
        return false;
    }

private:
    int socket_;
    bool bound_ = false;
};

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

// Interface v0 (198.51.100.7) is the far end's only way: multicast routed to
// loopback would never reach v1.
TEST_F(SeamObservations, MulticastLeavesByTheInterfaceTheSenderNamed) {
    if (test::Layout() != "one") GTEST_SKIP() << "needs the layout with interface v0";
    Capture far("v1");
    ASSERT_TRUE(far.Valid());
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_MULTICAST, group, test::Ipv4("198.51.100.7")));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("by v0"), 5, 47501, 0));
    EXPECT_TRUE(far.Sees(group, 47501));
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
