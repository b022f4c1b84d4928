#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Network.h"

using test::Datagram;
using test::Peer;

namespace {

struct Delivery {
    std::string bytes;
    int length = 0;
    void* context = nullptr;
    unsigned long sourceAddress = 0;
    int sourcePort = 0;
    bool zeroPastEnd = true;
};

// Context for the recording callback: keeps every delivery and can hold the
// callback until the test opens the gate.
struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Delivery> deliveries;
    bool gateOpen = true;
    int started = 0;
    std::atomic<bool> stopReturned{false};
    std::atomic<int> startedAfterStop{0};

    bool WaitFor(std::size_t count, int timeoutMs = 3000) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return deliveries.size() >= count; });
    }
    bool WaitStarted(int count, int timeoutMs = 3000) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return started >= count; });
    }
    void SetGate(bool open) {
        {
            std::lock_guard<std::mutex> guard(lock);
            gateOpen = open;
        }
        changed.notify_all();
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return deliveries.size();
    }
};

void Record(void* data, int length, void* context, unsigned long sourceAddress, int sourcePort) {
    Recorder* recorder = static_cast<Recorder*>(context);
    if (recorder->stopReturned.load()) recorder->startedAfterStop.fetch_add(1);
    Delivery d;
    d.length = length;
    d.context = context;
    d.sourceAddress = sourceAddress;
    d.sourcePort = sourcePort;
    const char* bytes = static_cast<const char*>(data);
    if (length > 0) d.bytes.assign(bytes, static_cast<std::size_t>(length));
    for (int i = length > 0 ? length : 0; i < 65536; ++i) {
        if (bytes[i] != 0) {
            d.zeroPastEnd = false;
            break;
        }
    }
    // Scribble past the datagram: the next delivery must still see zeros.
    std::memset(static_cast<char*>(data) + 60000, 0x5A, 16);

    std::unique_lock<std::mutex> guard(recorder->lock);
    ++recorder->started;
    recorder->changed.notify_all();
    recorder->changed.wait(guard, [recorder] { return recorder->gateOpen; });
    recorder->deliveries.push_back(d);
    recorder->changed.notify_all();
}

struct SelfStop {
    CVekListen listener;
    std::atomic<bool> stopped{false};
};

// Stops the listener of its context from inside the callback.
void StopFromInside(void*, int, void* context, unsigned long, int) {
    SelfStop* self = static_cast<SelfStop*>(context);
    self->listener.Stop();
    self->stopped = true;
}

bool Joined(unsigned long group) {
#if defined(_WIN32)
    static_cast<void>(group);
    return false;
#else
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", group);
    std::unique_ptr<FILE, int (*)(FILE*)> igmp(std::fopen("/proc/net/igmp", "r"), std::fclose);
    char line[256];
    while (igmp && std::fgets(line, sizeof line, igmp.get()))
        if (std::strstr(line, hex)) return true;
    return false;
#endif
}

}  // namespace

class Listener : public NetworkTest {
protected:
    std::string Text(const Delivery& d) { return d.bytes; }
};

TEST_F(Listener, DeliversExactBytesSourceAndContextWithZerosPastTheDatagram) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47001, 0, 0, &recorder));
    EXPECT_EQ(47001, listener.port);
    EXPECT_EQ(&recorder, listener.context);

    Peer peer;
    std::string longer(1400, 'L');
    ASSERT_TRUE(peer.SendTo(longer, loopback, 47001));
    ASSERT_TRUE(peer.SendTo("short", loopback, 47001));
    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_UNICAST, 0, 0));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("from sender"), 11, 47001, loopback));
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

TEST_F(Listener, ZeroLengthDatagramIsDeliveredWithLengthZero) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47002, loopback, 0, &recorder));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("", 0, loopback, 47002));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(0, recorder.deliveries[0].length);
    EXPECT_TRUE(recorder.deliveries[0].zeroPastEnd);
}

TEST_F(Listener, MulticastListenerReceivesTheGroupUntilStopDropsTheMembership) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_MULTICAST, Record, 47003, 0, group, &recorder));
    EXPECT_EQ(group, listener.groupAddress);
    if (!test::UnderWine()) EXPECT_TRUE(Joined(group));

    CVekSend sender;
    ASSERT_EQ(1, sender.InitInstance(VEK_MODE_MULTICAST, group, loopback));
    ASSERT_EQ(1, sender.Send(const_cast<char*>("via sender"), 10, 47003, 0));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("via socket", group, 47003));
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ("via sender", recorder.deliveries[0].bytes);
    EXPECT_EQ("via socket", recorder.deliveries[1].bytes);

    listener.Stop();
    sender.ExitInstance();
    if (!test::UnderWine()) EXPECT_FALSE(Joined(group));
    // The port is free again and the group no longer reaches it, while another
    // member still receives.
    Peer member("0.0.0.0", 47003);
    ASSERT_TRUE(member.Valid());
    ASSERT_TRUE(member.JoinGroup("239.255.42.99"));
    ASSERT_TRUE(peer.SendTo("after stop", group, 47003));
    Datagram d;
    EXPECT_TRUE(member.Receive(&d));
    EXPECT_EQ(2u, recorder.Count());
}

TEST_F(Listener, SocketBoundToAnInterfaceAddressMissesItsGroupOnLinux) {
    // Windows delivers a joined group to a socket bound to the joining
    // interface's address; Linux (and so Wine) delivers it only to sockets
    // bound to the any-address. This pins down what this platform does.
    const bool linuxSockets = true;  // natively, and Wine runs on Linux sockets
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_MULTICAST, Record, 47004, loopback, group, &recorder));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("to group", group, 47004));
    ASSERT_TRUE(peer.SendTo("unicast", loopback, 47004));
    ASSERT_TRUE(recorder.WaitFor(1));
    test::SleepMs(100);
    listener.Stop();
    if (linuxSockets) {
        ASSERT_EQ(1u, recorder.deliveries.size());
        EXPECT_EQ("unicast", recorder.deliveries[0].bytes);
    }
}

TEST_F(Listener, UnicastModeRecordsTheGroupButJoinsNothing) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47005, 0, group, &recorder));
    EXPECT_EQ(group, listener.groupAddress);
    EXPECT_EQ(1ul, listener.mode);
    if (!test::UnderWine()) EXPECT_FALSE(Joined(group));
    Peer peer;
    ASSERT_TRUE(peer.SendTo("to group", group, 47005));
    ASSERT_TRUE(peer.SendTo("unicast", loopback, 47005));
    ASSERT_TRUE(recorder.WaitFor(1));
    test::SleepMs(100);
    listener.Stop();
    ASSERT_EQ(1u, recorder.deliveries.size());
    EXPECT_EQ("unicast", recorder.deliveries[0].bytes);
}

TEST_F(Listener, PortZeroLetsThePlatformChooseAndRecordsZero) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 0, loopback, 0, &recorder));
    EXPECT_EQ(0, listener.port);
}

TEST_F(Listener, FailedRunsLeaveNothingBehindAndKeepTheRecordedFields) {
    Peer holder("0.0.0.0", 47006);
    ASSERT_TRUE(holder.Valid());
    const long handles = test::OpenHandleCount();
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
    EXPECT_EQ(handles, test::OpenHandleCount());
}

TEST_F(Listener, StopOnAnIdleListenerAndTwiceInARowDoesNothing) {
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

TEST_F(Listener, RunOnARunningListenerFailsAndLeavesItRunning) {
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47009, 0, 0, &recorder));
    EXPECT_EQ(0, listener.Run(VEK_MODE_UNICAST, Record, 47010, 0, 0, &recorder));
    EXPECT_EQ(47009, listener.port);
    Peer peer;
    ASSERT_TRUE(peer.SendTo("still running", loopback, 47009));
    EXPECT_TRUE(recorder.WaitFor(1));
}

TEST_F(Listener, CopiesOfARunningListenerAreIdleAndAssignmentStopsTheTarget) {
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
    CVekListen target;
    ASSERT_EQ(1, target.Run(VEK_MODE_UNICAST, Record, 47012, 0, 0, &recorder));
    target = running;
    EXPECT_EQ(nullptr, target.thread);
    EXPECT_EQ(47011, target.port);
    Peer freed("0.0.0.0", 47012);
    EXPECT_TRUE(freed.Valid()) << "assignment stopped the target and released its port";

    Peer peer;
    ASSERT_TRUE(peer.SendTo("original", loopback, 47011));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("original", recorder.deliveries[0].bytes);
}

TEST_F(Listener, DatagramsQueuedBeforeStopAreDeliveredFirst) {
    Recorder recorder;
    recorder.gateOpen = false;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47013, 0, 0, &recorder));
    Peer peer;
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(peer.SendTo(std::to_string(i), loopback, 47013));
    ASSERT_TRUE(recorder.WaitStarted(1));
    std::thread stopper([&] { listener.Stop(); });
    test::SleepMs(100);  // Stop is waiting while five datagrams are queued
    recorder.SetGate(true);
    stopper.join();
    // Wine re-arms the network event a moment after each receive, so its
    // stop event can win the wait while datagrams are still queued (measured:
    // about one run in five ends early). Windows and the POSIX layer re-arm
    // within the receive, and deliver all six.
    if (test::UnderWine()) {
        ASSERT_GE(recorder.Count(), 1u);
    } else {
        ASSERT_EQ(6u, recorder.Count());
    }
    for (std::size_t i = 0; i < recorder.Count(); ++i)
        EXPECT_EQ(std::to_string(i), recorder.deliveries[i].bytes);
}

TEST_F(Listener, ThousandRunStopCyclesLeakNothing) {
    Recorder recorder;
    const long handles = test::OpenHandleCount();
    for (int i = 0; i < 1000; ++i) {
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(i % 2 ? VEK_MODE_MULTICAST : VEK_MODE_UNICAST, Record, 47014, 0,
                                  group, &recorder));
        listener.Stop();
    }
    EXPECT_EQ(handles, test::OpenHandleCount());
}

TEST_F(Listener, UncallableCallbackEndsTheThreadAndStopStillCleansUp) {
    const long handles = test::OpenHandleCount();
    for (ReceiveCallback bad : {ReceiveCallback(nullptr), reinterpret_cast<ReceiveCallback>(16)}) {
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, bad, 47015, 0, 0, nullptr));
        Peer peer;
        ASSERT_TRUE(peer.SendTo("dropped", loopback, 47015));
        test::SleepMs(100);
        listener.Stop();
        EXPECT_EQ(nullptr, listener.thread);
    }
    EXPECT_EQ(handles, test::OpenHandleCount());
}

TEST_F(Listener, StopFromInsideTheCallbackReturnsAndReleasesEverything) {
    const long handles = test::OpenHandleCount();
    {
        SelfStop self;
        ASSERT_EQ(1, self.listener.Run(VEK_MODE_UNICAST, StopFromInside, 47016, 0, 0, &self));
        Peer peer;
        ASSERT_TRUE(peer.SendTo("stop", loopback, 47016));
        for (int i = 0; i < 300 && !self.stopped; ++i) test::SleepMs(10);
        ASSERT_TRUE(self.stopped);
        EXPECT_EQ(nullptr, self.listener.thread);
    }
    for (int i = 0; i < 200 && test::OpenHandleCount() != handles; ++i) test::SleepMs(10);
    EXPECT_EQ(handles, test::OpenHandleCount());
}

TEST_F(Listener, CallbackOutlivingStopThenDestructionIsSafeAndStartsNoDelivery) {
    Peer peer;
    const long handles = test::OpenHandleCount();
    Recorder recorder;
    recorder.gateOpen = false;
    CVekListen* listener = new CVekListen;
    ASSERT_EQ(1, listener->Run(VEK_MODE_UNICAST, Record, 47017, 0, 0, &recorder));
    ASSERT_TRUE(peer.SendTo("held", loopback, 47017));
    ASSERT_TRUE(recorder.WaitStarted(1));
    ASSERT_TRUE(peer.SendTo("queued", loopback, 47017));
    listener->Stop();  // gives up after its 1000 ms wait
    recorder.stopReturned = true;
    delete listener;
    recorder.SetGate(true);
    ASSERT_TRUE(recorder.WaitFor(1));
    for (int i = 0; i < 200 && test::OpenHandleCount() != handles; ++i) test::SleepMs(10);
    EXPECT_EQ(handles, test::OpenHandleCount()) << "the late thread released the endpoint";
    EXPECT_EQ(1u, recorder.Count());
    EXPECT_EQ(0, recorder.startedAfterStop.load());
}

TEST_F(Listener, StopThatTimesOutUnderAFloodStartsNoDeliveryAfterwards) {
    // The first delivery holds until Stop has given up its wait, while a
    // flood keeps the queue full: once Stop returns, not one more delivery
    // may start, neither from the queue nor from datagrams still arriving.
    for (int round = 0; round < 3; ++round) {
        Recorder recorder;
        recorder.gateOpen = false;
        CVekListen listener;
        ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47018, 0, 0, &recorder));
        std::atomic<bool> done{false};
        std::thread flood([&] {
            Peer peer;
            for (int i = 0; i < 200000 && !done.load(); ++i) {
                peer.SendTo("flood", loopback, 47018);
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

TEST_F(Listener, OutsideProgramReachesTheListener) {
#if defined(_WIN32)
    GTEST_SKIP() << "the plain Winsock peer of the other tests is the outside peer here";
#else
    Recorder recorder;
    CVekListen listener;
    ASSERT_EQ(1, listener.Run(VEK_MODE_UNICAST, Record, 47019, 0, 0, &recorder));
    ASSERT_EQ(0, std::system("printf 'from python' | python3 -c \"import socket,sys; "
                             "socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto("
                             "sys.stdin.buffer.read(), ('127.0.0.1', 47019))\""));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("from python", recorder.deliveries[0].bytes);
    EXPECT_EQ(test::Ipv4("127.0.0.1"), recorder.deliveries[0].sourceAddress);
#endif
}
