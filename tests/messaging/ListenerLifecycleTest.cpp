// A listener's life: failed runs, Stop on an idle listener, a second Run,
// copies, and many Run/Stop cycles, none of which may leave anything open.
#include <gtest/gtest.h>

#include "messaging/Recorder.h"
#include "support/Network.h"

using test::Peer;

class ListenerLifecycle : public NetworkTest {};

TEST_F(ListenerLifecycle, FailedRunsLeaveNothingBehindAndKeepTheRecordedFields) {
    ExpectNothingLeft();
    const int held = test::NextPort(), free = test::NextPort();
    Peer holder("0.0.0.0", held);
    ASSERT_TRUE(holder.Valid());
    Recorder recorder;
    CVekListen listener;
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, held, 0, group, &recorder));
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, 65536 + free, 0, 0, &recorder));
    EXPECT_EQ(
        0, listener.Run(VEK_MODE_MULTICAST, Record, free, 0, test::Ipv4("192.0.2.1"), &recorder));
    EXPECT_EQ(nullptr, listener.endpoint);
    EXPECT_EQ(nullptr, listener.thread);
    EXPECT_EQ(1ul, listener.mode);
    EXPECT_EQ(0, listener.port);
    EXPECT_EQ(0ul, listener.groupAddress);
    EXPECT_EQ(nullptr, listener.callback);
}

TEST_F(ListenerLifecycle, StopOnAnIdleListenerAndTwiceInARowDoesNothing) {
    CVekListen listener;
    listener.Stop();
    Recorder recorder;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    listener.Stop();
    listener.Stop();
    EXPECT_EQ(nullptr, listener.endpoint);
    EXPECT_EQ(nullptr, listener.thread);
    EXPECT_EQ(port, listener.port) << "the recorded fields survive Stop";
}

TEST_F(ListenerLifecycle, RunOnARunningListenerFailsAndLeavesItRunning) {
    Recorder recorder;
    CVekListen listener;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, test::NextPort(), 0, 0, &recorder));
    EXPECT_EQ(port, listener.port);
    Peer peer;
    ASSERT_TRUE(peer.SendTo("still running", loopback, port));
    EXPECT_TRUE(recorder.WaitFor(1));
}

TEST_F(ListenerLifecycle, CopiesOfARunningListenerAreIdleAndAssignmentStopsTheTarget) {
    Recorder recorder;
    CVekListen running;
    const int port = test::NextPort(), targetPort = test::NextPort();
    ASSERT_EQ(1, running.Run(VEK_MODE_UNICAST, Record, port, 0, group, &recorder));
    {
        CVekListen copy(running);
        EXPECT_EQ(nullptr, copy.endpoint);
        EXPECT_EQ(nullptr, copy.thread);
        EXPECT_EQ(port, copy.port);
        EXPECT_EQ(group, copy.groupAddress);
        EXPECT_EQ(&recorder, copy.context);
    }  // destroying the idle copy must not touch the running listener
    CVekListen target;
    ASSERT_EQ(1, target.Run(VEK_MODE_UNICAST, Record, targetPort, 0, 0, &recorder));
    target = running;
    EXPECT_EQ(nullptr, target.thread);
    EXPECT_EQ(port, target.port);
    Peer freed("0.0.0.0", targetPort);
    EXPECT_TRUE(freed.Valid()) << "assignment stopped the target and released its port";

    Peer peer;
    ASSERT_TRUE(peer.SendTo("original", loopback, port));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("original", recorder.deliveries[0].bytes);
}

TEST_F(ListenerLifecycle, ThousandRunStopCyclesLeakNothing) {
    ExpectNothingLeft();
    Recorder recorder;
    const int port = test::NextPort();
    for (int i = 0; i < 1000; ++i) {
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(i % 2 ? VEK_MODE_MULTICAST : VEK_MODE_UNICAST, Record, port, 0,
                                  group, &recorder));
        listener.Stop();
    }
}
