// The hand-off between Stop and the receive thread, one step at a time: the
// receive thread is held at a chosen step (through the platform layer's test
// seams) while Stop runs out its 1000 ms wait. Stop must not return while the
// thread may still read the listener or decide on a delivery, and a decision
// that Stop overlapped must end without a call. Test builds of the POSIX
// layer only: the seams are compiled into nothing else.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "messaging/Recorder.h"
#include "platform/posix/seams.h"
#include "support/Network.h"

using test::Peer;
namespace seam = win::seam;

namespace {

// Holds the first thread that reaches one chosen point until released, and
// notes when a thread wait timed out (Stop's wait ran out).
class Hold {
public:
    void Arm(seam::Point point) {
        std::lock_guard<std::mutex> guard(lock_);
        point_ = point;
        armed_ = true;
        holding_ = released_ = waitTimedOut_ = false;
    }
    bool WaitHolding() {
        return WaitUntil([this] { return holding_; });
    }
    bool WaitStopTimedOut() {
        return WaitUntil([this] { return waitTimedOut_; });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }

    void Reach(seam::Point point) {
        std::unique_lock<std::mutex> guard(lock_);
        if (point == seam::kThreadWaitTimedOut) {
            waitTimedOut_ = true;
            changed_.notify_all();
            return;
        }
        if (!armed_ || point != point_) return;
        armed_ = false;
        holding_ = true;
        changed_.notify_all();
        // Bounded, so that a broken test cannot hang the suite.
        changed_.wait_for(guard, std::chrono::seconds(10), [this] { return released_; });
    }

private:
    template <typename Condition>
    bool WaitUntil(Condition condition) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(5), condition);
    }

    std::mutex lock_;
    std::condition_variable changed_;
    seam::Point point_ = seam::kThreadStart;
    bool armed_ = false, holding_ = false, released_ = false, waitTimedOut_ = false;
};

// A receive thread that Stop's wait ran out on ends on its own, maybe after
// its test: what it reaches then must still be there, so the hold lives as
// long as the program and each test arms it afresh.
Hold hold;
void Reach(seam::Point point) { hold.Reach(point); }

struct Step {
    const char* name;
    seam::Point point;
};

void PrintTo(const Step& step, std::ostream* out) { *out << step.name; }

}  // namespace

class StopRace : public NetworkTest, public ::testing::WithParamInterface<Step> {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        seam::SetHook(Reach);
    }
    void TearDown() override {
        seam::SetHook(nullptr);
        NetworkTest::TearDown();
    }
};

TEST_P(StopRace, StopWaitsOutTheHeldStepAndNoDeliveryFollows) {
    Recorder recorder;
    CVekListen* listener = new CVekListen;
    hold.Arm(GetParam().point);
    const int port = test::NextPort();
    ASSERT_EQ(1, listener->Run(VEK_MODE_UNICAST, Record, port, 0, 0, &recorder));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("queued", loopback, port));
    ASSERT_TRUE(hold.WaitHolding()) << "the receive thread never reached " << GetParam().name;

    // The listener is destroyed as soon as Stop returns: a thread that went
    // on reading it would read freed memory.
    std::atomic<bool> stopReturned{false};
    std::thread stopper([&] {
        listener->Stop();
        stopReturned = true;
        delete listener;
    });
    ASSERT_TRUE(hold.WaitStopTimedOut());
    test::SleepMs(100);
    EXPECT_FALSE(stopReturned.load())
        << "Stop returned with the receive thread at " << GetParam().name;
    hold.Release();
    stopper.join();
    ASSERT_TRUE(peer.SendTo("after", loopback, port));
    test::SleepMs(100);
    std::lock_guard<std::mutex> guard(recorder.lock);
    EXPECT_EQ(0, recorder.started) << "a delivery started after Stop";
}

INSTANTIATE_TEST_SUITE_P(
    EachStepBeforeTheCall, StopRace,
    ::testing::Values(Step{"its start, before it read the listener", seam::kThreadStart},
                      Step{"the code check of the callback", seam::kCodeCheck},
                      Step{"the page query of the callback", seam::kPageQuery}),
    [](const ::testing::TestParamInfo<Step>& info) {
        return info.param.point == seam::kThreadStart ? std::string("Starting")
               : info.param.point == seam::kCodeCheck ? std::string("CheckingTheCode")
                                                      : std::string("QueryingThePage");
    });
