// Multicast listeners: the group reaches them while they run and the
// membership ends with Stop.
#include <gtest/gtest.h>

#include "messaging/Recorder.h"
#include "support/HostFacts.h"
#include "support/Network.h"

using test::Datagram;
using test::Peer;

class ListenerMulticast : public NetworkTest {
protected:
    const int port = test::NextPort();  // each test's listener port

    // Sends one datagram to the group and one to 127.0.0.1 on port, then stops
    // the listener: only the unicast one may have arrived.
    void ExpectOnlyUnicastArrives(CVekListen& listener, Recorder& recorder) {
        Peer peer;
        ASSERT_TRUE(peer.SendTo("to group", group, port));
        ASSERT_TRUE(peer.SendTo("unicast", loopback, port));
        ASSERT_TRUE(recorder.WaitFor(1));
        test::SleepMs(100);  // time for the group's datagram to arrive, were it coming
        listener.Stop();
        ASSERT_EQ(1u, recorder.deliveries.size());
        EXPECT_EQ("unicast", recorder.deliveries[0].bytes);
    }
};

TEST_F(ListenerMulticast, MulticastListenerReceivesTheGroupUntilStopDropsTheMembership) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_MULTICAST, Record, port, 0, group, &recorder));
    EXPECT_EQ(group, listener.groupAddress);
    if (!test::UnderWine()) EXPECT_TRUE(test::JoinedGroup(group));

    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_MULTICAST, group, loopback));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("via sender"), 10, port, 0));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("via socket", group, port));
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ("via sender", recorder.deliveries[0].bytes);
    EXPECT_EQ("via socket", recorder.deliveries[1].bytes);

    listener.Stop();
    sender.ExitInstance();
    if (!test::UnderWine()) EXPECT_FALSE(test::JoinedGroup(group));
    // The port is free again and the group no longer reaches it, while another
    // member still receives.
    Peer member("0.0.0.0", port);
    ASSERT_TRUE(member.Valid());
    ASSERT_TRUE(member.JoinGroup("239.255.42.99"));
    ASSERT_TRUE(peer.SendTo("after stop", group, port));
    Datagram d;
    EXPECT_TRUE(member.Receive(&d));
    EXPECT_EQ(2u, recorder.Count());
}

TEST_F(ListenerMulticast, SocketBoundToLoopbackMissesItsGroupOnLinux) {
    // Windows delivers a joined group to a socket bound to the joining
    // interface's address; Linux, natively and under Wine, delivers the
    // group on loopback only to sockets bound to the any-address.
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_MULTICAST, Record, port, loopback, group, &recorder));
    ExpectOnlyUnicastArrives(listener, recorder);
}

TEST_F(ListenerMulticast, UnicastModeRecordsTheGroupButJoinsNothing) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, group, &recorder));
    EXPECT_EQ(group, listener.groupAddress);
    EXPECT_EQ(1ul, listener.mode);
    if (!test::UnderWine()) EXPECT_FALSE(test::JoinedGroup(group));
    ExpectOnlyUnicastArrives(listener, recorder);
}
