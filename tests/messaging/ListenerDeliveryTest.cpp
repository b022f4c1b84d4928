// What a listener hands its callback: the exact bytes, source and context,
// a cleared buffer, and no call at all when the callback is not code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "messaging/Recorder.h"
#include "support/EndpointSocket.h"
#include "support/Memory.h"
#include "support/Network.h"

using test::Peer;

class ListenerDelivery : public NetworkTest {};

TEST_F(ListenerDelivery, DeliversExactBytesSourceAndContextWithZerosPastTheDatagram) {
    Recorder recorder;
    CVekListen listener;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    EXPECT_EQ(port, listener.port);
    EXPECT_EQ(&recorder, listener.context);

    Peer peer;
    std::string longer(1400, 'L');
    ASSERT_TRUE(peer.SendTo(longer, loopback, port));
    ASSERT_TRUE(peer.SendTo("short", loopback, port));
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("from sender"), 11, port, loopback));
    ASSERT_TRUE(recorder.WaitFor(3));
    listener.Stop();

    const std::vector<Delivery>& d = recorder.deliveries;
    EXPECT_EQ(longer, d[0].bytes);
    EXPECT_EQ(1400, d[0].length);
    EXPECT_EQ("short", d[1].bytes);
    EXPECT_EQ(5, d[1].length);
    EXPECT_EQ("from sender", d[2].bytes);
    for (const Delivery& one : d) {
        EXPECT_TRUE(one.zeroPastEnd);
        EXPECT_EQ(&recorder, one.context);
        EXPECT_EQ(loopback, one.sourceAddress);
    }
    EXPECT_EQ(peer.Port(), d[0].sourcePort);
    EXPECT_EQ(peer.Port(), d[1].sourcePort);
    EXPECT_NE(peer.Port(), d[2].sourcePort);
    EXPECT_NE(0, d[2].sourcePort);
}

TEST_F(ListenerDelivery, BurstsAreDeliveredWholeAndInOrderWithNoFailedReceive) {
    // The first datagram of each burst holds the callback while the rest
    // queue up behind it, so the thread takes them in one go and then finds
    // the socket empty, which is not a failed receive. Sizes vary, so a
    // buffer not cleared between two datagrams would show.
    Recorder recorder;
    CVekListen listener;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    Peer peer;
    const int burst = 50;
    std::vector<std::string> sent;
    for (int round = 0; round < 3; ++round) {
        recorder.SetGate(false);
        for (int i = 0; i < burst; ++i) {
            sent.push_back(std::string(1 + (i * 277 + round) % 1400, char('a' + i % 26)));
            ASSERT_TRUE(peer.SendTo(sent.back(), loopback, port));
        }
        ASSERT_TRUE(recorder.WaitStarted(static_cast<int>(sent.size()) - burst + 1));
        recorder.SetGate(true);
        ASSERT_TRUE(recorder.WaitFor(sent.size()));
    }
    listener.Stop();  // joins the thread: whatever it would still deliver is in by now
    ASSERT_EQ(sent.size(), recorder.Count());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i], recorder.deliveries[i].bytes);
        EXPECT_TRUE(recorder.deliveries[i].zeroPastEnd);
    }
}

TEST_F(ListenerDelivery, ZeroLengthDatagramIsDeliveredWithLengthZero) {
    Recorder recorder;
    CVekListen listener;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, loopback, 0, &recorder));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("", 0, loopback, port));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(0, recorder.deliveries[0].length);
    EXPECT_TRUE(recorder.deliveries[0].zeroPastEnd);
}

TEST_F(ListenerDelivery, PortZeroLetsThePlatformChooseAndRecordsZero) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 0, loopback, 0, &recorder));
    EXPECT_EQ(0, listener.port);
}

TEST_F(ListenerDelivery, TheHighestPortIsListenedOn) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 65535, loopback, 0, &recorder));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("top", loopback, 65535));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("top", recorder.deliveries[0].bytes);
}

TEST_F(ListenerDelivery, ReceiveBufferIsRaisedTo65536ButNeverLowered) {
    // Linux starts every socket at 212992 bytes and turns a request for
    // 65536 into 131072: setting it unasked would shrink the buffer.
    const test::PlainBuffer plain = test::PlainSocketBuffer(true);
    ASSERT_GT(plain.byDefault, 0);
    ASSERT_GE(plain.after65536, 65536);
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 0, loopback, 0, nullptr));
    EXPECT_EQ(std::max(plain.byDefault, plain.after65536),
              test::BufferSize(test::SocketOf(listener.endpoint), true));
}

namespace {

// Never executed: a callback check that let one of these through would end
// the process (an access violation, or the trap these bytes encode).
const unsigned char kReadOnlyData[16] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC,
                                         0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};

::testing::AssertionResult ThreadsBackTo(long threads) {
    for (int i = 0; i < 300; ++i) {
        if (test::CountHeld().threads == threads) return ::testing::AssertionSuccess();
        test::SleepMs(10);
    }
    return ::testing::AssertionFailure() << "the receive thread did not end";
}

}  // namespace

TEST_F(ListenerDelivery, CallbacksThatAreNotCodeEndTheThreadWithoutACall) {
    ExpectNothingLeft();
    std::vector<unsigned char> heap(16, 0xCC);
    unsigned char stack[16];
    std::fill(stack, stack + sizeof stack, 0xCC);
    test::GuardedBytes guarded(16, 0xCC);
    ASSERT_NE(nullptr, guarded.data());
    const struct {
        const char* what;
        const void* address;
    } notCode[] = {{"null", nullptr},          {"a low address", reinterpret_cast<const void*>(16)},
                   {"heap data", heap.data()}, {"read-only data", kReadOnlyData},
                   {"the stack", stack},       {"an inaccessible page", guarded.inaccessible()}};
    Peer peer;
    const int port = test::NextPort();
    for (const auto& bad : notCode) {
        SCOPED_TRACE(bad.what);
        const long threads = test::CountHeld().threads;
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST,
                                  reinterpret_cast<ReceiveCallback>(const_cast<void*>(bad.address)),
                                  port, 0, 0, nullptr));
        ASSERT_TRUE(peer.SendTo("dropped", loopback, port));
        EXPECT_TRUE(ThreadsBackTo(threads));
        EXPECT_NE(nullptr, listener.thread) << "the listener stays running until Stop";
        listener.Stop();
        EXPECT_EQ(nullptr, listener.thread);
    }
}

TEST_F(ListenerDelivery, OutsideProgramReachesTheListener) {
    if (support::OnWindows())
        GTEST_SKIP() << "the plain Winsock peer of the other tests is the outside peer here";
    Recorder recorder;
    CVekListen listener;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    const std::string python =
        "printf 'from python' | python3 -c \"import socket,sys; "
        "socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto("
        "sys.stdin.buffer.read(), ('127.0.0.1', " +
        std::to_string(port) + "))\"";
    ASSERT_EQ(0, std::system(python.c_str()));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("from python", recorder.deliveries[0].bytes);
    EXPECT_EQ(test::Ipv4("127.0.0.1"), recorder.deliveries[0].sourceAddress);
}
