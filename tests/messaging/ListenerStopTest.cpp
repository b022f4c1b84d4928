// Stop: what is queued is delivered first, Stop works from inside the
// callback, and once Stop has returned no delivery starts, even when its
// wait ran out under a callback that holds.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "messaging/Recorder.h"
#include "support/Network.h"

using test::Peer;

namespace {

struct SelfStop {
    CVekListen listener;
    std::atomic<bool> stopped{false};
    std::atomic<int> calls{0};
};

// Stops the listener of its context from inside the callback.
void StopFromInside(void*, int, void* context, unsigned long, int) {
    SelfStop* self = static_cast<SelfStop*>(context);
    self->calls.fetch_add(1);
    self->listener.Stop();
    self->stopped = true;
}

}  // namespace

class ListenerStop : public NetworkTest {};

TEST_F(ListenerStop, DatagramsQueuedBeforeStopAreDeliveredFirst) {
    // Ten rounds: Wine re-arms the network event a moment after each
    // receive, so its stop event can win the wait with datagrams queued;
    // they must be delivered all the same.
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        Recorder recorder;
        recorder.gateOpen = false;
        CVekListen listener;
        const int port = test::NextPort();
        ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
        Peer peer;
        for (int i = 0; i < 6; ++i) ASSERT_TRUE(peer.SendTo(std::to_string(i), loopback, port));
        ASSERT_TRUE(recorder.WaitStarted(1));
        std::thread stopper([&] { listener.Stop(); });
        test::SleepMs(100);  // Stop is waiting while five datagrams are queued
        recorder.SetGate(true);
        stopper.join();
        ASSERT_EQ(6u, recorder.Count());
        for (std::size_t i = 0; i < recorder.Count(); ++i)
            EXPECT_EQ(std::to_string(i), recorder.deliveries[i].bytes);
    }
}

TEST_F(ListenerStop, StopFromInsideTheCallbackReturnsAndReleasesEverything) {
    ExpectNothingLeft();
    Peer peer;
    {
        SelfStop self;
        const int port = test::NextPort();
        ASSERT_EQ(1, self.listener.Run(VEK_MODE_UNICAST, StopFromInside, port, 0, 0, &self));
        // The rest of the burst is still queued when the first callback
        // stops: Stop has returned by the time it could be received, so
        // none of it is delivered.
        for (const char* text : {"stop", "queued", "queued", "queued"})
            ASSERT_TRUE(peer.SendTo(text, loopback, port));
        for (int i = 0; i < 300 && !self.stopped; ++i) test::SleepMs(10);
        ASSERT_TRUE(self.stopped);
        EXPECT_EQ(nullptr, self.listener.thread);
        test::SleepMs(100);
        EXPECT_EQ(1, self.calls.load());
    }
}

TEST_F(ListenerStop, CallbackOutlivingStopThenDestructionIsSafeAndStartsNoDelivery) {
    // After the test the late thread must have released the endpoint.
    ExpectNothingLeft();
    Peer peer;
    Gate gate;
    CVekListen* listener = new CVekListen;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener->Run(VEK_MODE_UNICAST, HoldAtGate, port, 0, 0, &gate));
    ASSERT_TRUE(peer.SendTo("held", loopback, port));
    for (int i = 0; i < 300 && gate.entered.load() == 0; ++i) test::SleepMs(10);
    ASSERT_EQ(1, gate.entered.load());
    ASSERT_TRUE(peer.SendTo("queued", loopback, port));
    listener->Stop();  // gives up after its 1000 ms wait
    gate.stopReturned = true;
    delete listener;
    gate.open = true;
    ASSERT_TRUE(gate.WaitLeft());
    EXPECT_EQ(1, gate.entered.load());
    EXPECT_EQ(0, gate.enteredAfterStop.load());
}

TEST_F(ListenerStop, StopThatTimesOutUnderAFloodStartsNoDeliveryAfterwards) {
    // The first delivery holds until Stop has given up its wait, while a
    // flood keeps the queue full: once Stop returns, not one more delivery
    // may start, neither from the queue nor from datagrams still arriving.
    for (int round = 0; round < 3; ++round) {
        Recorder recorder;
        recorder.gateOpen = false;
        CVekListen listener;
        const int port = test::NextPort();
        ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
        std::atomic<bool> done{false};
        std::thread flood([&] {
            Peer peer;
            for (int i = 0; i < 200000 && !done.load(); ++i) {
                peer.SendTo("flood", loopback, port);
                if (i % 64 == 63) test::SleepMs(1);
            }
        });
        ASSERT_TRUE(recorder.WaitStarted(1));
        listener.Stop();  // the held callback makes its wait run out
        recorder.stopReturned = true;
        recorder.SetGate(true);
        test::SleepMs(200);
        done = true;
        flood.join();
        EXPECT_EQ(1u, recorder.Count());
        EXPECT_EQ(0, recorder.startedAfterStop.load());
    }
}
