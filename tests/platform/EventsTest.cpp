// The event semantics the receive loop relies on, checked against the
// platform underneath: the POSIX layer natively, Windows Sockets under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/Network.h"
#include "transport/UdpEndpoint.h"

namespace {

DWORD Poll(const WSAEVENT (&events)[2]) {
    return WSAWaitForMultipleEvents(2, events, FALSE, 0, FALSE);
}

}  // namespace

class Events : public NetworkTest {};

TEST_F(Events, ManualResetAndTheLowerIndexWins) {
    CUdpEndpoint endpoint;  // owns two fresh events
    const WSAEVENT events[2] = {endpoint.netEvent, endpoint.stopEvent};
    EXPECT_EQ(WSA_WAIT_TIMEOUT, Poll(events)) << "events start not signalled";
    ASSERT_TRUE(WSASetEvent(events[1]));
    EXPECT_EQ(WSA_WAIT_EVENT_0 + 1, Poll(events));
    EXPECT_EQ(WSA_WAIT_EVENT_0 + 1, Poll(events)) << "a wait does not reset";
    ASSERT_TRUE(WSASetEvent(events[0]));
    EXPECT_EQ(WSA_WAIT_EVENT_0, Poll(events)) << "both signalled: the lower index";
    ASSERT_TRUE(WSAResetEvent(events[0]));
    ASSERT_TRUE(WSAResetEvent(events[0]));
    EXPECT_EQ(WSA_WAIT_EVENT_0 + 1, Poll(events));
}

TEST_F(Events, SelectedSocketSignalsReadableDataUntilItIsRead) {
    CUdpEndpoint endpoint;
    ASSERT_EQ(1, endpoint.Create(0, loopback));
    ASSERT_EQ(1, endpoint.SelectEvents(FD_READ));
    const WSAEVENT events[2] = {endpoint.netEvent, endpoint.stopEvent};
    EXPECT_EQ(WSA_WAIT_TIMEOUT, Poll(events));

    test::Peer peer;
    ASSERT_TRUE(peer.SendTo("one", loopback, support::BoundPort(endpoint.GetSocket())));
    ASSERT_TRUE(peer.SendTo("two", loopback, support::BoundPort(endpoint.GetSocket())));
    for (const char* expected : {"one", "two"}) {
        // Every receive re-arms the event while data is queued. (Wine re-arms
        // a moment later than the receive, so the wait may briefly block.)
        ASSERT_EQ(WSA_WAIT_EVENT_0, WSAWaitForMultipleEvents(2, events, FALSE, 3000, FALSE));
        WSANETWORKEVENTS recorded = {};
        ASSERT_EQ(0, WSAEnumNetworkEvents(endpoint.GetSocket(), events[0], &recorded));
        EXPECT_TRUE(recorded.lNetworkEvents & FD_READ);
        WSAResetEvent(events[0]);
        char buffer[8] = {};
        int length = sizeof buffer;
        ASSERT_EQ(1, endpoint.RecvFrom(buffer, &length, nullptr, nullptr));
        EXPECT_STREQ(expected, buffer);
    }
    EXPECT_EQ(WSA_WAIT_TIMEOUT, Poll(events)) << "drained";
    WSASetEvent(events[1]);
    EXPECT_EQ(WSA_WAIT_EVENT_0 + 1, Poll(events));
}

// Receiving what a wait announced must clear the record: once the queue is
// drained, the next enumeration reports nothing to read.
TEST_F(Events, EnumerationReportsNoReadOnceTheQueueIsDrained) {
    CUdpEndpoint endpoint;
    ASSERT_EQ(1, endpoint.Create(0, loopback));
    ASSERT_EQ(1, endpoint.SelectEvents(FD_READ));
    const WSAEVENT events[2] = {endpoint.netEvent, endpoint.stopEvent};
    test::Peer peer;
    ASSERT_TRUE(peer.SendTo("only", loopback, support::BoundPort(endpoint.GetSocket())));
    ASSERT_EQ(WSA_WAIT_EVENT_0, WSAWaitForMultipleEvents(2, events, FALSE, 3000, FALSE));
    WSANETWORKEVENTS recorded = {};
    ASSERT_EQ(0, WSAEnumNetworkEvents(endpoint.GetSocket(), events[0], &recorded));
    ASSERT_TRUE(recorded.lNetworkEvents & FD_READ);
    WSAResetEvent(events[0]);
    char buffer[8];
    int length = sizeof buffer;
    ASSERT_EQ(1, endpoint.RecvFrom(buffer, &length, nullptr, nullptr));

    recorded.lNetworkEvents = ~0L;
    ASSERT_EQ(0, WSAEnumNetworkEvents(endpoint.GetSocket(), events[0], &recorded));
    EXPECT_FALSE(recorded.lNetworkEvents & FD_READ);
    EXPECT_EQ(WSA_WAIT_TIMEOUT, Poll(events));
}

class QueuedEvents : public Events {
protected:
    void SetUp() override {
        Events::SetUp();
        ASSERT_EQ(1, endpoint.Create(0, loopback));
        ASSERT_EQ(1, endpoint.SelectEvents(FD_READ));
        port = support::BoundPort(endpoint.GetSocket());
    }
    // Waits for the network event alone first: Wine signals it a moment after
    // a datagram arrives or a receive leaves more queued, and only once it is
    // signalled does the pair's answer say which index wins.
    DWORD WaitAfterTheNetworkEvent() {
        EXPECT_EQ(WSA_WAIT_EVENT_0, WSAWaitForMultipleEvents(1, events, FALSE, 3000, FALSE));
        return WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
    }
    // What the receive loop does for one notification.
    std::string ReceiveOne() {
        WSANETWORKEVENTS recorded = {};
        EXPECT_EQ(0, WSAEnumNetworkEvents(endpoint.GetSocket(), events[0], &recorded));
        EXPECT_TRUE(recorded.lNetworkEvents & FD_READ);
        WSAResetEvent(events[0]);
        char buffer[16] = {};
        int length = sizeof buffer - 1;
        EXPECT_EQ(1, endpoint.RecvFrom(buffer, &length, nullptr, nullptr));
        return buffer;
    }

    CUdpEndpoint endpoint;
    const WSAEVENT events[2] = {endpoint.netEvent, endpoint.stopEvent};
    int port = 0;
    test::Peer peer;
};

// Stop sets the higher index while datagrams are queued: each is still
// announced (index 0) and received, one per wait, before the stop is seen.
TEST_F(QueuedEvents, QueuedDatagramsWinOverAStopUntilTheQueueIsDrained) {
    ASSERT_TRUE(peer.SendTo("first", loopback, port));
    ASSERT_TRUE(peer.SendTo("", loopback, port));
    ASSERT_TRUE(peer.SendTo("last", loopback, port));
    ASSERT_TRUE(WSASetEvent(events[1]));
    for (const char* expected : {"first", "", "last"}) {
        ASSERT_EQ(WSA_WAIT_EVENT_0, WaitAfterTheNetworkEvent()) << "before " << expected;
        EXPECT_EQ(expected, ReceiveOne());
    }
    EXPECT_EQ(WSA_WAIT_EVENT_0 + 1, Poll(events)) << "drained: the stop";
}

TEST_F(QueuedEvents, ADrainedSocketWithoutAStopDoesNotSignal) {
    ASSERT_TRUE(peer.SendTo("one", loopback, port));
    ASSERT_EQ(WSA_WAIT_EVENT_0, WaitAfterTheNetworkEvent());
    EXPECT_EQ("one", ReceiveOne());
    EXPECT_EQ(WSA_WAIT_TIMEOUT, Poll(events));
}

// A receive thread blocked on its drained socket wakes for the stop alone.
// Should the stop not wake it, a datagram does, so the test ends either way.
TEST_F(QueuedEvents, AStopAloneWakesABlockedWait) {
    std::atomic<DWORD> woke{WSA_WAIT_FAILED};
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        woke = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        done = true;
    });
    ASSERT_TRUE(WSASetEvent(events[1]));
    for (int i = 0; i < 1000 && !done; ++i) test::SleepMs(10);
    if (!done) peer.SendTo("release", loopback, port);
    waiter.join();
    EXPECT_EQ(WSA_WAIT_EVENT_0 + 1, woke.load());
}
