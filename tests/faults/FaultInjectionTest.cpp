// Every C library call that each exported call makes, failed in turn. A
// first run of a scenario counts the library's calls; then, for each call,
// each error a real failure of it gives and each n up to its count, the
// scenario runs again with the nth call failing. Each case must end in a
// clean failure (0, the object idle, the host's buffers untouched) or in a
// success that works (a Run that returned 1 delivers, a sender that returned
// 1 sends, every datagram is delivered once and a failed receive once as
// -1), leave no descriptor or thread once the object is ended, and work
// again once the fault is gone. Each case runs in a child process of its own, so that a
// hang (ended by an alarm) or a sanitizer report fails that case alone.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "faults/Interposer.h"
#include "messaging/Recorder.h"
#include "support/EndpointSocket.h"
#include "support/Held.h"
#include "support/HostFacts.h"
#include "support/Network.h"

using faults::Call;

namespace {

constexpr unsigned kCaseSeconds = 20;  // a case still running then has hung
const int kPort = test::NextPort();    // the same in every case's child
constexpr unsigned char kPattern = 0xA5;
const unsigned long kLoopback = test::Ipv4("127.0.0.1");
const unsigned long kGroup = test::Ipv4("239.255.42.99");

// What went wrong in one case.
class Problems {
public:
    void Expect(bool holds, const std::string& problem) {
        if (!holds && text_.size() < 1500) text_ += problem + "; ";
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// What the queries write into.
struct Outputs {
    unsigned long addresses[VEK_MAX_INTERFACES], netmasks[VEK_MAX_INTERFACES];
    unsigned char cards[VEK_ADAPTER_ADDRESS_SIZE * VEK_MAX_ADAPTERS];
    char name[256];
};

// The objects one case works on.
struct World {
    Recorder recorder;
    CVekSend sender;
    CVekListen listener;
    test::Peer peer;
    test::Peer member{"0.0.0.0"};
    Outputs out;
    int expected = 0;  // a query's result without a fault
    Outputs expectedOut;
    std::vector<std::string> sent;  // to the listener, in order
    int failedReceives = 0;         // receives failed with a real error

    World() {
        member.JoinGroup("239.255.42.99", "127.0.0.1");
        Fill();
    }
    void Fill() { memset(&out, kPattern, sizeof out); }
    bool Untouched() const {
        Outputs pattern;
        memset(&pattern, kPattern, sizeof pattern);
        return memcmp(&out, &pattern, sizeof out) == 0;
    }
    // Takes what a query without a fault wrote as the expected outcome.
    void Expect(int result) {
        expected = result;
        expectedOut = out;
        Fill();
    }
    bool AsExpected() const { return memcmp(&out, &expectedOut, sizeof out) == 0; }
};

bool Arrives(test::Peer& at, const std::string& text) {
    test::Datagram d;
    return at.Receive(&d) && std::string(d.bytes.begin(), d.bytes.end()) == text;
}

// A datagram from the peer reaches the listener's callback.
bool Delivers(World& w, const std::string& text, unsigned long to = kLoopback) {
    if (!w.peer.SendTo(text, to, kPort)) return false;
    w.sent.push_back(text);
    for (std::size_t seen = 0; w.recorder.WaitFor(seen + 1); ++seen) {
        std::lock_guard<std::mutex> guard(w.recorder.lock);
        if (w.recorder.deliveries[seen].bytes == text) return true;
    }
    return false;
}

// The receive thread is in its wait, done with what came before: the calls
// a scenario counts are then the same in every run.
bool Parked() {
    for (int i = 0; i < 300; ++i, test::SleepMs(10))
        if (faults::InsidePoll() > 0) return true;
    return false;
}

// Every datagram sent was delivered once, in order, and each receive that
// failed with a real error once as -1; a receive that found nothing is never
// delivered.
bool DeliveredAsSent(World& w) {
    std::lock_guard<std::mutex> guard(w.recorder.lock);
    int failures = w.failedReceives;
    std::vector<std::string> received;
    for (const Delivery& d : w.recorder.deliveries)
        if (d.length == -1)
            --failures;
        else
            received.push_back(d.bytes);
    return failures == 0 && received == w.sent;
}

// A listener whose wait ran out releases its port once its thread ends.
bool PortReleased() {
    for (int i = 0; i < 300; ++i, test::SleepMs(10))
        if (test::Peer("0.0.0.0", kPort).Valid()) return true;
    return false;
}

// The buffer a plain socket ends up with, which an endpoint's must match:
// raised to 65536, never lowered.
bool BufferAsPromised(const CUdpEndpoint* endpoint, bool receive) {
    const test::PlainBuffer plain = test::PlainSocketBuffer(receive);
    return endpoint && test::BufferSize(test::SocketOf(endpoint), receive) ==
                           std::max(plain.byDefault, plain.after65536);
}

bool SenderSends(World& w) {
    const bool multicast = w.sender.mode == VEK_MODE_MULTICAST;
    test::Peer& to = multicast ? w.member : w.peer;
    return BufferAsPromised(w.sender.endpoint, false) &&
           w.sender.Send(const_cast<char*>("sent"), 4, to.Port(), kLoopback) == 1 &&
           Arrives(to, "sent");
}

bool ListenerIdle(const CVekListen& l) {
    return !l.endpoint && !l.thread && l.mode == VEK_MODE_UNICAST && !l.callback && !l.port &&
           !l.groupAddress && !l.context && !l.interfaceAddress;
}

// One exported call under faults. act returns what the call returned (1 for
// calls that return nothing); works checks, with no fault, that the object
// does what a success promises.
struct Scenario {
    const char* name;
    faults::Scope scope;
    void (*prepare)(World&);
    int (*act)(World&);
    bool (*idle)(World&);  // what a failed act must leave
    bool (*works)(World&);
    void (*finish)(World&);
    bool deliversFailedReceives = false;  // else a failed receive is dropped
};

void Nothing(World&) {}
void EndAll(World& w) {
    w.listener.Stop();
    w.sender.ExitInstance();
}

template <unsigned long kMode, bool kOnLoopback>
int SetUpSender(World& w) {
    return w.sender.InitInstance(kMode, kGroup, kOnLoopback ? kLoopback : 0);
}
bool SenderIdle(World& w) { return !w.sender.endpoint && !w.sender.mode && !w.sender.groupAddress; }

template <unsigned long kMode>
int RunListener(World& w) {
    return w.listener.Run(kMode, Record, kPort, 0, kGroup, &w.recorder);
}
template <unsigned long kMode>
bool ListenerDelivers(World& w) {
    return BufferAsPromised(w.listener.endpoint, true) &&
           Delivers(w, "works", kMode == VEK_MODE_MULTICAST ? kGroup : kLoopback) &&
           DeliveredAsSent(w);
}
void RunningAndParked(World& w) {
    RunListener<VEK_MODE_UNICAST>(w);
    Parked();
}
void WarmAndParked(World& w) {
    RunListener<VEK_MODE_MULTICAST>(w);
    Delivers(w, "warm");
    Parked();
}

const Scenario kScenarios[] = {
    {"Lifecycle", faults::kArmingThread, Nothing,
     [](World&) { return VekInitInstance() + VekExitInstance() == 2 ? 1 : 0; },
     [](World&) { return true; }, [](World&) { return true; }, Nothing},
    {"SenderSetUpUnicastOnAnyInterface", faults::kArmingThread, Nothing,
     SetUpSender<VEK_MODE_UNICAST, false>, SenderIdle, SenderSends, EndAll},
    {"SenderSetUpUnicastOnLoopback", faults::kArmingThread, Nothing,
     SetUpSender<VEK_MODE_UNICAST, true>, SenderIdle, SenderSends, EndAll},
    {"SenderSetUpMulticastOnAnyInterface", faults::kArmingThread, Nothing,
     SetUpSender<VEK_MODE_MULTICAST, false>, SenderIdle, SenderSends, EndAll},
    {"SenderSetUpMulticastOnLoopback", faults::kArmingThread, Nothing,
     SetUpSender<VEK_MODE_MULTICAST, true>, SenderIdle, SenderSends, EndAll},
    {"Send", faults::kArmingThread, [](World& w) { SetUpSender<VEK_MODE_UNICAST, false>(w); },
     [](World& w) { return w.sender.Send(const_cast<char*>("sent"), 4, w.peer.Port(), kLoopback); },
     [](World& w) { return w.sender.endpoint != nullptr; },
     [](World& w) { return Arrives(w.peer, "sent"); }, EndAll},
    {"SenderExitInstance", faults::kArmingThread,
     [](World& w) { SetUpSender<VEK_MODE_MULTICAST, true>(w); },
     [](World& w) { return w.sender.ExitInstance(), 1; }, [](World&) { return false; },
     [](World& w) { return !w.sender.endpoint && SetUpSender<2, true>(w) && SenderSends(w); },
     EndAll},
    {"RunUnicast", faults::kArmingThread, Nothing, RunListener<VEK_MODE_UNICAST>,
     [](World& w) { return ListenerIdle(w.listener); }, ListenerDelivers<VEK_MODE_UNICAST>, EndAll},
    {"RunMulticast", faults::kArmingThread, Nothing, RunListener<VEK_MODE_MULTICAST>,
     [](World& w) { return ListenerIdle(w.listener); }, ListenerDelivers<VEK_MODE_MULTICAST>,
     EndAll},
    // Two datagrams, each announced by a wake-up and followed by the receive
    // that finds the queue empty.
    {"Delivery", faults::kOtherThreads, RunningAndParked,
     [](World& w) {
         return Delivers(w, "first") && Parked() && Delivers(w, "next") && Parked() ? 1 : 0;
     },
     [](World&) { return false; },  // a running listener never goes silent
     ListenerDelivers<VEK_MODE_UNICAST>, EndAll, true},
    // A receive that fails during the stop is not delivered.
    {"Stop", faults::kAnyThread, WarmAndParked, [](World& w) { return w.listener.Stop(), 1; },
     [](World&) { return false; },
     [](World& w) {
         const bool released = !w.listener.endpoint && !w.listener.thread && PortReleased();
         return released && RunListener<VEK_MODE_MULTICAST>(w) &&
                ListenerDelivers<VEK_MODE_MULTICAST>(w);
     },
     EndAll},
    {"GetHostName", faults::kArmingThread, Nothing,
     [](World& w) { return VekGetHostName(w.out.name); }, [](World& w) { return w.Untouched(); },
     [](World& w) { return test::HostName() == w.out.name; }, Nothing},
    {"GetCompName", faults::kArmingThread, Nothing,
     [](World& w) { return VekGetCompName(w.out.name, sizeof w.out.name); },
     [](World& w) { return w.Untouched(); },
     [](World& w) { return test::ComputerName() == w.out.name; }, Nothing},
    // The queries' results without a fault are taken first, in prepare.
    {"GetHostIPCount", faults::kArmingThread,
     [](World& w) { w.expected = VekGetHostIP(nullptr, nullptr); },
     [](World&) { return VekGetHostIP(nullptr, nullptr); }, [](World&) { return true; },
     [](World&) { return true; }, Nothing},
    {"GetHostIPFill", faults::kArmingThread,
     [](World& w) { w.Expect(VekGetHostIP(w.out.addresses, w.out.netmasks)); },
     [](World& w) { return VekGetHostIP(w.out.addresses, w.out.netmasks); },
     [](World& w) { return w.Untouched(); }, [](World& w) { return w.AsExpected(); }, Nothing},
    {"GetNetCardCount", faults::kArmingThread,
     [](World& w) { w.expected = VekGetNetCard(nullptr); },
     [](World&) { return VekGetNetCard(nullptr); }, [](World&) { return true; },
     [](World&) { return true; }, Nothing},
    {"GetNetCardFill", faults::kArmingThread,
     [](World& w) { w.Expect(VekGetNetCard(w.out.cards)); },
     [](World& w) { return VekGetNetCard(w.out.cards); }, [](World& w) { return w.Untouched(); },
     [](World& w) { return w.AsExpected(); }, Nothing},
};

// What a case's child reports through shared memory.
struct Report {
    faults::Counts counts;
    int failed = 0;
    char problems[2048] = "";
};

// Runs the scenario once, failing the nth call of call with error (none
// when call is kCallCount), and checks the outcome.
void RunCase(const Scenario& s, Call call, int nth, int error, Report* report) {
    Problems problems;
    const test::Held before = test::CountHeld();
    {
        World w;
        s.prepare(w);
        if (call == faults::kCallCount)
            faults::Count(s.scope);
        else
            faults::Fail(call, nth, nth, s.scope, error);
        const int result = s.act(w);
        faults::Stop();
        report->counts = faults::Counted();
        report->failed = faults::Failed();
        if (s.deliversFailedReceives && call == faults::kRecvfrom && error != EAGAIN)
            w.failedReceives = report->failed;
        const bool counted = w.expected != 0 && result == w.expected;
        if (result == 1 || counted) {
            problems.Expect(s.works(w),
                            "returned " + std::to_string(result) + " but does not work");
        } else {
            problems.Expect(result == 0, "returned " + std::to_string(result));
            problems.Expect(s.idle(w), "failed without a clean failure");
            w.Fill();
            const int again = s.act(w);
            problems.Expect(again == 1 || (w.expected && again == w.expected),
                            "still fails once the fault is gone");
            problems.Expect(s.works(w), "does not work once the fault is gone");
        }
        s.finish(w);
    }
    const ::testing::AssertionResult leaked = test::NothingLeaked(before);
    problems.Expect(leaked, leaked.message());
    snprintf(report->problems, sizeof report->problems, "%s", problems.Text().c_str());
}

// The case in a child process: "" when it passed, else what went wrong.
std::string InChild(const Scenario& s, Call call, int nth, int error, faults::Counts* counts) {
    Report* report = static_cast<Report*>(
        mmap(nullptr, sizeof(Report), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (report == MAP_FAILED) return "no shared memory";
    new (report) Report;
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(kCaseSeconds);
        try {
            RunCase(s, call, nth, error, report);
        } catch (...) {
            snprintf(report->problems, sizeof report->problems, "an exception left the library");
        }
        exit(report->problems[0] ? 1 : 0);  // exit, not _exit: the leak checker runs at exit
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::string outcome = report->problems;
    if (WIFSIGNALED(status))
        outcome += WTERMSIG(status) == SIGALRM
                       ? "hung"
                       : "ended by signal " + std::to_string(WTERMSIG(status));
    else if (WEXITSTATUS(status) != 0 && outcome.empty())
        outcome = "exit status " + std::to_string(WEXITSTATUS(status));
    if (counts) *counts = report->counts;
    munmap(report, sizeof(Report));
    return outcome;
}

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

}  // namespace

class EveryFailedCall : public NetworkTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(EveryFailedCall, FailsCleanlyOrWorksAndLeavesNothingBehind) {
    const Scenario& s = GetParam();
    faults::Counts counts;
    ASSERT_EQ("", InChild(s, faults::kCallCount, 0, 0, &counts)) << "without a fault";
    std::string tally;
    int cases = 0;
    for (int c = 0; c < faults::kCallCount; ++c) {
        const Call call = Call(c);
        const int n = counts.calls[call];
        if (!n) continue;
        tally += std::string(" ") + faults::Name(call) + " " + std::to_string(n);
        for (const int error : {faults::Error(call), faults::OtherError(call)}) {
            for (int nth = 1; error && nth <= n; ++nth, ++cases) {
                const std::string outcome = InChild(s, call, nth, error, nullptr);
                EXPECT_EQ("", outcome)
                    << s.name << " with " << faults::Name(call) << " call " << nth << " of " << n
                    << " failing with " << strerrorname_np(error);
            }
        }
    }
    printf("%s: %d cases:%s\n", s.name, cases, tally.c_str());
}

INSTANTIATE_TEST_SUITE_P(EachExportedCall, EveryFailedCall, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });
