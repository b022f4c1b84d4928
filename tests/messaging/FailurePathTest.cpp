// The listener's failure paths, made to happen at a chosen step: a receive
// thread that ends from outside (pthread_exit from a seam), a wait that
// fails, a stop signal the platform refuses, a thread that cannot be
// resumed. Stop must return, release everything and never let a delivery
// follow; a transient failure must not silence the listener. Test builds of
// the POSIX layer only, with the C library calls interposed.
#include <gtest/gtest.h>

#include <errno.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "faults/Interposer.h"
#include "messaging/Recorder.h"
#include "platform/posix/seams.h"
#include "support/Network.h"
#include "transport/UdpEndpoint.h"

namespace seam = win::seam;

namespace {

std::atomic<int> endAt{-1};                 // the seam point at which the receive thread ends
std::atomic<bool> outlastStopsWait{false};  // ...once Stop's wait has run out
std::atomic<bool> reached{false};
std::atomic<bool> waitTimedOut{false};
std::atomic<bool> failResume{false};

void Reach(seam::Point point) {
    if (point == seam::kThreadWaitTimedOut) waitTimedOut = true;
    int at = point;
    if (!endAt.compare_exchange_strong(at, -1)) return;
    reached = true;
    for (int i = 0; i < 500 && outlastStopsWait && !waitTimedOut; ++i) test::SleepMs(10);
    pthread_exit(nullptr);
}

bool Fail(seam::Point point) { return point == seam::kResume && failResume; }

}  // namespace

class FailurePath : public NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        ExpectNothingLeft();
        seam::SetHook(Reach);
        seam::SetFailure(Fail);
    }
    void TearDown() override {
        faults::Stop();
        seam::SetHook(nullptr);
        seam::SetFailure(nullptr);
        endAt = -1;
        outlastStopsWait = reached = failResume = false;
        NetworkTest::TearDown();
    }

    // Stop, bounded: a Stop that hangs fails the test instead of the suite.
    // The listener is leaked then, since the hung Stop still uses it.
    bool Stops(CVekListen* stopping) {
        waitTimedOut = false;
        auto stopped = std::async(std::launch::async, [stopping] { stopping->Stop(); });
        if (stopped.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
        new std::future<void>(std::move(stopped));  // its destructor would wait
        return false;
    }

    // The listener's port is free again (its socket, events and thread are
    // counted once the test is over).
    void ExpectReleased() {
        EXPECT_TRUE(test::Peer("0.0.0.0", port).Valid()) << "the port is still held";
    }

    bool WaitFailures(int count) {
        for (int i = 0; i < 500 && faults::Failed() < count; ++i) test::SleepMs(10);
        return faults::Failed() >= count;
    }

    const int port = test::NextPort();
    Recorder recorder;
    test::Peer peer;
};

// Before it ran, the thread ends before Stop is called; inside a decision,
// only once Stop's wait has run out, while Stop waits out the decision.
class ThreadEndedFromOutside : public FailurePath,
                               public ::testing::WithParamInterface<seam::Point> {};

TEST_P(ThreadEndedFromOutside, StopReturnsAndReleasesEverything) {
    CVekListen* listener = new CVekListen;
    endAt = GetParam();
    outlastStopsWait = GetParam() == seam::kCodeCheck;
    ASSERT_EQ(1, listener->Run(VEK_MODE_MULTICAST, Record, port, 0, group, &recorder));
    ASSERT_TRUE(peer.SendTo("reaches the code check", loopback, port));
    for (int i = 0; i < 300 && !reached; ++i) test::SleepMs(10);
    ASSERT_TRUE(reached) << "the receive thread never reached the step";
    ASSERT_TRUE(Stops(listener)) << "Stop hangs on a thread that has ended";
    delete listener;
    EXPECT_EQ(0, recorder.started);
    ExpectReleased();
}

INSTANTIATE_TEST_SUITE_P(AtEachStep, ThreadEndedFromOutside,
                         ::testing::Values(seam::kThreadStart, seam::kCodeCheck),
                         [](const ::testing::TestParamInfo<seam::Point>& info) {
                             return info.param == seam::kThreadStart ? "BeforeItRan"
                                                                     : "InsideADecision";
                         });

TEST_F(FailurePath, AWaitThatFailsFiveTimesIsRetriedAndTheNextDatagramDelivered) {
    faults::Fail(faults::kPoll, 1, 5, faults::kOtherThreads);
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    ASSERT_TRUE(WaitFailures(5));
    ASSERT_TRUE(peer.SendTo("after the failures", loopback, port));
    ASSERT_TRUE(recorder.WaitFor(1)) << "the listener went silent";
    EXPECT_EQ("after the failures", recorder.deliveries[0].bytes);
    ASSERT_TRUE(Stops(&listener));
    EXPECT_FALSE(waitTimedOut) << "Stop's wait ran out";
}

TEST_F(FailurePath, AWaitThatKeepsFailingStillEndsWithinStopsWait) {
    {
        faults::Fail(faults::kPoll, 1, faults::kEveryLater, faults::kOtherThreads);
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
        // The 17th failure follows the eighth pause.
        ASSERT_TRUE(WaitFailures(17)) << "each failed wait is retried";
        ASSERT_TRUE(Stops(&listener));
        EXPECT_FALSE(waitTimedOut) << "Stop's wait ran out";
        // Eight rounds of a failed wait and a failed pause: 1, 2, 4 ... 64, 100 ms.
        const faults::Pauses paused = faults::Paused();
        EXPECT_GE(paused.total, 127) << "the retries spin";
        EXPECT_EQ(100, paused.longest) << "the pause does not grow to 100 ms and stop there";
    }
    ExpectReleased();
}

// The check that the callback is code cannot read the mappings (EIO here;
// ENOMEM is what a loaded kernel gives): it is made again after a growing
// pause, and the datagram is delivered once it succeeds. Should it never
// succeed, the datagram waits until Stop's wait is over, and is then dropped.
TEST_F(FailurePath, ACodeCheckThatCannotReadTheMappingsIsRetriedAndNeverCallsUnchecked) {
    const struct {
        const char* name;
        int failures, delivered;
    } cases[] = {{"five times", 5, 1}, {"for good", faults::kEveryLater, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            Recorder checked;
            CVekListen listener;
            ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, port, 0, 0, &checked));
            for (int i = 0; i < 300 && !faults::InsidePoll(); ++i) test::SleepMs(10);
            faults::Fail(faults::kPread, 1, c.failures, faults::kOtherThreads, EIO);
            ASSERT_TRUE(peer.SendTo("checked", loopback, port));
            ASSERT_TRUE(WaitFailures(c.delivered ? 5 : 8)) << "the check is not made again";
            if (c.delivered) ASSERT_TRUE(checked.WaitFor(1)) << "the datagram was lost";
            ASSERT_TRUE(Stops(&listener));
            EXPECT_EQ(c.delivered, checked.started);
            if (!c.delivered) EXPECT_GE(faults::Paused().total, 127) << "the retries spin";
            faults::Stop();
        }
        // Past Stop's wait the thread ends at its next retry, and lets go of
        // the socket then.
        for (int i = 0; i < 300 && !test::Peer("0.0.0.0", port).Valid(); ++i) test::SleepMs(10);
        ExpectReleased();
    }
}

// Stop cannot signal, with the thread in its wait, or held in a callback
// with a datagram queued behind it: Stop ends the thread some other way, and
// nothing more is delivered. A signal refused once is tried again, and the
// queue delivered as after any Stop.
TEST_F(FailurePath, AStopSignalThePlatformRefusesStillEndsTheThreadWithoutADelivery) {
    const struct {
        const char* name;
        bool held;
        int refusals, delivered;
    } cases[] = {{"in its wait", false, faults::kEveryLater, 0},
                 {"held in a callback", true, faults::kEveryLater, 1},
                 {"refused once", true, 1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            Gate gate;
            CVekListen listener;
            ASSERT_EQ(1, listener.Run(VEK_MODE_MULTICAST, HoldAtGate, port, 0, group, &gate));
            if (c.held) ASSERT_TRUE(peer.SendTo("held", loopback, port));
            for (int i = 0; i < 300 && (c.held ? !gate.entered : !faults::InsidePoll()); ++i)
                test::SleepMs(10);
            ASSERT_EQ(c.held ? 1 : 0, gate.entered.load());
            if (c.held) ASSERT_TRUE(peer.SendTo("queued", loopback, port));
            faults::Fail(faults::kWrite, 1, c.refusals);
            auto opened = std::async(std::launch::async, [&gate] {
                test::SleepMs(200);
                gate.open = true;
            });
            ASSERT_TRUE(Stops(&listener));
            EXPECT_GE(faults::Failed(), 1) << "the stop signal was never refused";
            faults::Stop();
            ASSERT_TRUE(gate.WaitLeft());
            EXPECT_EQ(c.delivered, gate.entered.load());
        }
        ExpectReleased();
    }
}

TEST_F(FailurePath, AThreadThatCannotBeResumedFailsRunWithNothingLeftOpen) {
    failResume = true;
    CVekListen* listener = new CVekListen;
    EXPECT_EQ(0, listener->Run(VEK_MODE_MULTICAST, Record, port, 0, group, &recorder));
    EXPECT_EQ(nullptr, listener->endpoint);
    EXPECT_EQ(nullptr, listener->thread);
    EXPECT_EQ(nullptr, listener->callback) << "the recorded fields are kept";
    EXPECT_EQ(0, listener->port);
    // A thread that never runs would hold up Stop for good.
    ASSERT_TRUE(!listener->thread || Stops(listener));
    delete listener;
    ExpectReleased();
}

// A signal that interrupts the wait is not a failed wait: the listener would
// pause for one.
TEST_F(FailurePath, AWaitInterruptedByASignalIsResumedNotFailed) {
    CUdpEndpoint endpoint;  // owns two fresh events
    const WSAEVENT events[2] = {endpoint.netEvent, endpoint.stopEvent};
    faults::Fail(faults::kPoll, 1, 1, faults::kArmingThread, EINTR);
    EXPECT_EQ(WSA_WAIT_TIMEOUT, WSAWaitForMultipleEvents(2, events, FALSE, 0, FALSE));
    EXPECT_EQ(1, faults::Failed()) << "the wait was never interrupted";
}
