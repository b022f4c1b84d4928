// A listener's life: failed runs, Stop on an idle listener, a second Run,
// copies, and many Run/Stop cycles, none of which may leave anything open.
#include <gtest/gtest.h>

#include "messaging/Recorder.h"
#include "support/Held.h"
#include "support/Network.h"

using test::Peer;

class ListenerLifecycle : public NetworkTest {};

TEST_F(ListenerLifecycle, FailedRunsLeaveNothingBehindAndKeepTheRecordedFields) {
    ASSERT_TRUE(test::CountersMove());
    Peer holder("0.0.0.0", 47006);
    ASSERT_TRUE(holder.Valid());
    const test::Held before = test::CountHeld();
    Recorder recorder;
    CVekListen listener;
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, 47006, 0, group, &recorder));
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, 65536 + 47007, 0, 0, &recorder));
    EXPECT_EQ(0, listener.Run(VEK_MODE_MULTICAST, Record, 47007, 0, test::Ipv4("192.0.2.1"), &recorder));
    EXPECT_EQ(nullptr, listener.endpoint);
    EXPECT_EQ(nullptr, listener.thread);
    EXPECT_EQ(1ul, listener.mode);
    EXPECT_EQ(0, listener.port);
    EXPECT_EQ(0ul, listener.groupAddress);
    EXPECT_EQ(nullptr, listener.callback);
    EXPECT_TRUE(test::NothingLeaked(before));
}

TEST_F(ListenerLifecycle, StopOnAnIdleListenerAndTwiceInARowDoesNothing) {
    CVekListen listener;
    listener.Stop();
    Recorder recorder;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47008, 0, 0, &recorder));
    listener.Stop();
    listener.Stop();
    EXPECT_EQ(nullptr, listener.endpoint);
    EXPECT_EQ(nullptr, listener.thread);
    EXPECT_EQ(47008, listener.port) << "the recorded fields survive Stop";
}

TEST_F(ListenerLifecycle, RunOnARunningListenerFailsAndLeavesItRunning) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47009, 0, 0, &recorder));
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, 47010, 0, 0, &recorder));
    EXPECT_EQ(47009, listener.port);
    Peer peer;
    ASSERT_TRUE(peer.SendTo("still running", loopback, 47009));
    EXPECT_TRUE(recorder.WaitFor(1));
}

TEST_F(ListenerLifecycle, CopiesOfARunningListenerAreIdleAndAssignmentStopsTheTarget) {
    Recorder recorder;
    CVekListen running;
    ASSERT_EQ(1, running.Run(VEK_MODE_UNICAST, Record, 47011, 0, group, &recorder));
    {
        CVekListen copy(running);
        EXPECT_EQ(nullptr, copy.endpoint);
        EXPECT_EQ(nullptr, copy.thread);
        EXPECT_EQ(47011, copy.port);
        EXPECT_EQ(group, copy.groupAddress);
        EXPECT_EQ(&recorder, copy.context);
    }  // destroying the idle copy must not touch the running listener
    // Every recorded field differs between the two before the assignment.
    Gate gate;
    CVekListen target;
    ASSERT_EQ(1, target.Run(VEK_MODE_MULTICAST, HoldAtGate, 47012, loopback,
                            test::Ipv4("239.255.42.100"), &gate));
    target = running;
    EXPECT_EQ(nullptr, target.thread);
    EXPECT_EQ(47011, target.port);
    EXPECT_EQ(1ul, target.mode);
    EXPECT_EQ(&Record, target.callback);
    EXPECT_EQ(group, target.groupAddress);
    EXPECT_EQ(&recorder, target.context);
    EXPECT_EQ(0ul, target.interfaceAddress);
    Peer freed("0.0.0.0", 47012);
    EXPECT_TRUE(freed.Valid()) << "assignment stopped the target and released its port";

    Peer peer;
    ASSERT_TRUE(peer.SendTo("original", loopback, 47011));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("original", recorder.deliveries[0].bytes);
}

TEST_F(ListenerLifecycle, ThousandRunStopCyclesLeakNothing) {
    ASSERT_TRUE(test::CountersMove());
    Recorder recorder;
    const test::Held before = test::CountHeld();
    for (int i = 0; i < 1000; ++i) {
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(i % 2 ? VEK_MODE_MULTICAST : VEK_MODE_UNICAST, Record, 47014, 0,
                                  group, &recorder));
        listener.Stop();
    }
    EXPECT_TRUE(test::NothingLeaked(before));
}
