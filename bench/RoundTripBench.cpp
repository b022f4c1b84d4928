// Round-trip benchmark: 64-byte ping-pong on 127.0.0.1 with the whole process
// pinned to one CPU, so every round trip is two wake-ups on that CPU.
//   plain <-> plain        two plain blocking sockets, one echoing on a thread
//   plain -> W echo        (Windows) the echo is a plain WSAEventSelect loop,
//                          the listener's own shape without the library
//   plain -> CVekListen    the echo is sent from inside the listener's callback
//                          with a CVekSend, back to the plain socket
//   W <-> W                (Windows) both ends are WSAEventSelect loops
//   CVekListen <-> CVekListen
//                          both ends are a listener whose callback sends the
//                          next datagram with a CVekSend
// The cases take turns in interleaved rounds (each round starts one case
// later). The table gives, over the rounds, the median of each round's median
// round trip with the range, the median 99th percentile, and the median of the
// per-round ratios to plain <-> plain (and under Wine to the W case of the
// same shape, the floor there: every Winsock call is a trip to the Wine
// server, and the loop makes four per datagram).
// Options: --count N (round trips per case and round), --rounds R, --seconds S
// (per case and round).
#include "BaselineLoops.h"
#include "BenchSupport.h"
#include "VekLink.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr int kSize = 64;
constexpr std::size_t kWarmUp = 50;  // round trips left out at the start of each run

typedef std::vector<double> Samples;  // round trips in seconds

struct Limits {
    long count;
    double seconds;
};

// The client side of the plain cases: a plain blocking socket that sends
// and waits for the echo. A lost datagram costs one sample, not the run.
Samples PlainClient(int echoPort, const Limits& limits) {
    Samples rtt;
    rtt.reserve(limits.count);
    int ignored;
    const plain::Socket s = OpenLoopback(&ignored);
    plain::SetRecvTimeout(s, 200);
    char payload[kSize] = {1}, reply[kBufferSize];
    const double end = Now() + limits.seconds;
    for (long i = 0; i < limits.count && Now() < end; ++i) {
        const double start = Now();
        if (!plain::SendTo(s, payload, kSize, kLoopback, echoPort)) break;
        if (plain::RecvFrom(s, reply, sizeof reply, nullptr, nullptr) == kSize) rtt.push_back(Now() - start);
    }
    plain::Close(s);
    return rtt;
}

// A baseline loop that sends every datagram back to its source.
Samples PlainToLoop(std::unique_ptr<Loop> loop, const Limits& limits) {
    int port = 0;
    const plain::Socket echo = OpenLoopback(&port);
    Samples rtt;
    if (loop->Start(echo, [echo](char* data, int n, unsigned long from, int fromPort) {
            plain::SendTo(echo, data, n, from, fromPort);
        })) {
        rtt = PlainClient(port, limits);
        loop->Stop();
    }
    plain::Close(echo);
    return rtt;
}

// A listener that echoes every datagram with its own sender: to replyPort,
// or back to the source port when replyPort is 0.
struct Echo {
    CVekSend sender;
    int replyPort = 0;
};

void OnEcho(void* data, int length, void* context, unsigned long sourceAddress, int sourcePort) {
    Echo* echo = static_cast<Echo*>(context);
    echo->sender.Send(data, static_cast<unsigned long>(length),
                      echo->replyPort ? echo->replyPort : sourcePort, sourceAddress);
}

int RunListener(CVekListen& listener, ReceiveCallback callback, void* context) {
    static int nextPort = 43000;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = nextPort++;
        if (listener.Run(VEK_MODE_UNICAST, callback, port, kLoopback, 0, context)) return port;
    }
    return 0;
}

Samples PlainToListener(const Limits& limits) {
    Echo echo;
    CVekListen listener;
    int port = 0;
    if (!echo.sender.InitInstance(VEK_MODE_UNICAST, 0, 0) || !(port = RunListener(listener, OnEcho, &echo)))
        return {};
    Samples rtt = PlainClient(port, limits);
    listener.Stop();
    return rtt;
}

// The originating end of a pair: each arrival is one sample and sends the
// next ping, until the count or the time is up.
struct Pinger {
    std::function<void(char* data, int length)> sendNext;
    Samples rtt;
    std::atomic<long> done{0};
    std::atomic<double> sentAt{0};
    double end = 0;

    void Arrived(char* data, int length) {
        const double now = Now();
        const long i = done.load(std::memory_order_relaxed);
        if (i >= static_cast<long>(rtt.size())) return;
        rtt[i] = now - sentAt.load(std::memory_order_relaxed);
        done.store(i + 1, std::memory_order_release);
        if (i + 1 < static_cast<long>(rtt.size()) && now < end) {
            sentAt.store(Now(), std::memory_order_relaxed);
            sendNext(data, length);
        }
    }

    // Starts the exchange with kick, and again only when it stalls (a lost
    // datagram); returns the samples once it is over.
    Samples Exchange(const Limits& limits, const std::function<void()>& kick) {
        rtt.assign(limits.count, 0);
        end = Now() + limits.seconds;
        long seen = -1;
        while (Now() < end + 0.5) {
            const long now = done.load(std::memory_order_acquire);
            if (now >= limits.count) break;
            if (now == seen) {
                sentAt.store(Now(), std::memory_order_relaxed);
                kick();
            }
            seen = now;
            plain::SleepMs(200);
        }
        return Samples(rtt.begin(), rtt.begin() + done.load());
    }
};

void OnPong(void* data, int length, void* context, unsigned long, int) {
    static_cast<Pinger*>(context)->Arrived(static_cast<char*>(data), length);
}

Samples ListenerPair(const Limits& limits) {
    Echo echo;
    Pinger pinger;
    CVekSend pingSender, kicker;
    CVekListen echoEnd, pingEnd;
    int echoPort = 0, pingPort = 0;
    if (!echo.sender.InitInstance(VEK_MODE_UNICAST, 0, 0) || !pingSender.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
        !kicker.InitInstance(VEK_MODE_UNICAST, 0, 0) || !(echoPort = RunListener(echoEnd, OnEcho, &echo)) ||
        !(pingPort = RunListener(pingEnd, OnPong, &pinger)))
        return {};
    echo.replyPort = pingPort;
    pinger.sendNext = [&](char* data, int length) {
        pingSender.Send(data, static_cast<unsigned long>(length), echoPort, kLoopback);
    };
    char payload[kSize] = {1};
    Samples rtt = pinger.Exchange(limits, [&] { kicker.Send(payload, kSize, echoPort, kLoopback); });
    echoEnd.Stop();
    pingEnd.Stop();
    return rtt;
}

#if defined(_WIN32)
// Two baseline loops, each sending from the socket it receives on.
Samples LoopPair(const std::function<std::unique_ptr<Loop>()>& make, const Limits& limits) {
    int echoPort = 0, pingPort = 0;
    const plain::Socket echo = OpenLoopback(&echoPort), ping = OpenLoopback(&pingPort);
    std::unique_ptr<Loop> echoEnd = make(), pingEnd = make();
    Pinger pinger;
    pinger.sendNext = [&](char* data, int length) { plain::SendTo(ping, data, length, kLoopback, echoPort); };
    Samples rtt;
    if (echoEnd->Start(echo, [echo](char* data, int n, unsigned long from, int fromPort) {
            plain::SendTo(echo, data, n, from, fromPort);
        })) {
        if (pingEnd->Start(ping, [&pinger](char* data, int n, unsigned long, int) { pinger.Arrived(data, n); })) {
            char payload[kSize] = {1};
            rtt = pinger.Exchange(limits, [&] { plain::SendTo(ping, payload, kSize, kLoopback, echoPort); });
            pingEnd->Stop();
        }
        echoEnd->Stop();
    }
    plain::Close(echo);
    plain::Close(ping);
    return rtt;
}
#endif

struct Case {
    std::string name;
    std::function<Samples(const Limits&)> run;
    int floor;  // index of the case it is judged against; -1: none
    std::vector<double> medians, p99s;  // microseconds, per round
};

void RunRounds(std::vector<Case>& cases, const Limits& limits, int rounds) {
    for (int round = 0; round < rounds; ++round)
        for (std::size_t i = 0; i < cases.size(); ++i) {
            Case& c = cases[Rotated(i, round, cases.size())];
            Samples rtt = c.run(limits);
            if (rtt.size() <= kWarmUp) continue;
            rtt.erase(rtt.begin(), rtt.begin() + kWarmUp);
            c.medians.push_back(Percentile(rtt, 0.5) * 1e6);
            c.p99s.push_back(Percentile(rtt, 0.99) * 1e6);
        }
}

// Per round, a's median over b's.
Spread Ratio(const Case& a, const Case& b) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < a.medians.size() && r < b.medians.size(); ++r)
        ratios.push_back(a.medians[r] / b.medians[r]);
    return SpreadOf(ratios);
}

}  // namespace

int main(int argc, char** argv) {
    const bool wine = plain::UnderWine();
    const Limits limits = {Option(argc, argv, "--count", wine ? 500 : 3000),
                           static_cast<double>(Option(argc, argv, "--seconds", 4))};
    const int rounds = static_cast<int>(Option(argc, argv, "--rounds", 9));
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    plain::Start();
    const bool pinned = PinToOneCpu();

    // Natively the floor is the plain pair; under Wine the W case of the same shape.
    std::vector<Case> cases = {
        {"plain <-> plain", [](const Limits& l) { return PlainToLoop(BlockingLoop(false), l); }, -1, {}, {}},
#if defined(_WIN32)
        {"plain -> W echo", [](const Limits& l) { return PlainToLoop(EventSelectLoop(), l); }, -1, {}, {}},
        {"plain -> CVekListen echo", PlainToListener, 1, {}, {}},
        {"W <-> W", [](const Limits& l) { return LoopPair(EventSelectLoop, l); }, -1, {}, {}},
        {"CVekListen <-> CVekListen", ListenerPair, 3, {}, {}},
#else
        {"plain -> CVekListen echo", PlainToListener, 0, {}, {}},
        {"CVekListen <-> CVekListen", ListenerPair, 0, {}, {}},
#endif
    };
    RunRounds(cases, limits, rounds);

    std::printf("\nRound trip, %d-byte datagrams, %s, %ld round trips per case in each of %d "
                "interleaved rounds\n", kSize,
                pinned ? "whole process pinned to CPU 0" : "NOT pinned (affinity refused)", limits.count, rounds);
    std::printf("medians of the rounds (min-max)\n");
    std::printf("%-27s %-24s %9s | %-20s | %s\n", "case", "median us", "p99 us", "vs plain <-> plain",
                wine ? "vs the W case" : "");
    for (const Case& c : cases) {
        std::printf("%-27s %-24s %9.1f", c.name.c_str(), Format(SpreadOf(c.medians), "%.2f").c_str(),
                    SpreadOf(c.p99s).median);
        if (&c != &cases[0]) std::printf(" | %-20s", Format(Ratio(c, cases[0]), "%.2f").c_str());
        if (wine && c.floor >= 0) std::printf(" | %s", Format(Ratio(c, cases[c.floor]), "%.2f").c_str());
        std::printf("\n");
    }
    std::printf("\nTargets:\n");
    for (const Case& c : cases) {
        if (c.floor < 0 || c.medians.empty() || cases[c.floor].medians.empty()) continue;
        const std::string what = std::string(wine ? "Wine" : "native") + " round trip, " + c.name +
                                 ": median vs " + cases[c.floor].name;
        char beside[48] = "";
        if (c.floor != 0) std::snprintf(beside, sizeof beside, "; %.2fx plain <-> plain", Ratio(c, cases[0]).median);
        std::printf("  %s\n", Verdict(what, Ratio(c, cases[c.floor]), 1.3, beside).c_str());
    }
    plain::Stop();
    VekExitInstance();
    return 0;
}
