// A burst costs the receive thread one wake-up, not one per datagram: once
// woken it receives until the socket is empty. Counted through the POSIX
// layer's test seam at the entry of every event wait.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "messaging/Recorder.h"
#include "platform/posix/seams.h"
#include "support/Network.h"

namespace seam = win::seam;

namespace {

std::atomic<int> waits{0};
void CountWaits(seam::Point point) {
    if (point == seam::kEventWait) waits.fetch_add(1);
}

}  // namespace

class Drain : public NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        seam::SetHook(CountWaits);
    }
    void TearDown() override {
        seam::SetHook(nullptr);
        NetworkTest::TearDown();
    }
};

TEST_F(Drain, AQueuedBurstIsDeliveredWithoutWaitingBetweenDatagrams) {
    Recorder recorder;
    recorder.gateOpen = false;
    CVekListen listener;
    const int port = test::NextPort();
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    test::Peer peer;
    ASSERT_TRUE(peer.SendTo("first", loopback, port));
    ASSERT_TRUE(recorder.WaitStarted(1));
    const int queued = 20;
    for (int i = 0; i < queued; ++i) ASSERT_TRUE(peer.SendTo(std::to_string(i), loopback, port));
    const int before = waits.load();
    recorder.SetGate(true);
    ASSERT_TRUE(recorder.WaitFor(1 + queued));
    // The thread may already have entered the wait that follows the drain.
    EXPECT_LE(waits.load() - before, 1);
    listener.Stop();
}
