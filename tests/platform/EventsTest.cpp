// The event semantics the receive loop relies on, checked against the
// platform underneath: the POSIX layer natively, Windows Sockets under Wine.
#include <gtest/gtest.h>

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
    ASSERT_TRUE(peer.SendTo("one", loopback, test::LocalPort(endpoint.GetSocket())));
    ASSERT_TRUE(peer.SendTo("two", loopback, test::LocalPort(endpoint.GetSocket())));
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
    ASSERT_TRUE(peer.SendTo("only", loopback, test::LocalPort(endpoint.GetSocket())));
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
