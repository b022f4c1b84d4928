// Round-trip benchmark: 64-byte ping-pong on 127.0.0.1 with the whole process
// pinned to one CPU, so every round trip is two wake-ups on that CPU.
//   plain <-> plain        two plain blocking sockets, one echoing on a thread
//   plain -> CVekListen    the echo is sent from inside the listener's callback
//                          with a CVekSend, back to the plain socket
//   CVekListen <-> CVekListen
//                          both ends are a listener whose callback sends the
//                          next datagram with a CVekSend
// Prints the median and 99th percentile of each and their ratios to the
// plain pair. Options: --count N (round trips per case), --seconds S.
#include "BenchSupport.h"
#include "VekLink.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace bench;

namespace {

constexpr int kSize = 64;
constexpr int kWarmUp = 200;

struct Stats {
    const char* name;
    long samples = 0;
    double median = 0, p99 = 0;  // microseconds
};

Stats Summarise(const char* name, std::vector<double> rtt) {
    Stats stats;
    stats.name = name;
    if (rtt.size() > static_cast<std::size_t>(kWarmUp)) rtt.erase(rtt.begin(), rtt.begin() + kWarmUp);
    stats.samples = static_cast<long>(rtt.size());
    stats.median = Percentile(rtt, 0.5) * 1e6;
    stats.p99 = Percentile(rtt, 0.99) * 1e6;
    return stats;
}

// The client side of the first two cases: a plain blocking socket that sends
// and waits for the echo. A lost datagram costs one sample, not the run.
std::vector<double> PlainClient(int echoPort, long count, double seconds) {
    std::vector<double> rtt;
    rtt.reserve(count);
    int ignored;
    Sock s = OpenUdp(0, &ignored);
    SetRecvTimeout(s, 200);
    char payload[kSize] = {1}, reply[kBufferSize];
    const double end = Now() + seconds;
    for (long i = 0; i < count && Now() < end; ++i) {
        const double start = Now();
        if (SendTo(s, payload, kSize, echoPort) != kSize) break;
        std::uint32_t from;
        int fromPort;
        if (RecvFrom(s, reply, sizeof reply, &from, &fromPort) == kSize) rtt.push_back(Now() - start);
    }
    CloseSock(s);
    return rtt;
}

Stats PlainPair(long count, double seconds) {
    int port = 0;
    Sock echo = OpenUdp(0, &port);
    SetRecvTimeout(echo, 100);
    std::atomic<bool> stop{false};
    std::thread echoer([&] {
        char buffer[kBufferSize];
        while (!stop.load(std::memory_order_relaxed)) {
            std::uint32_t from;
            int fromPort;
            const int n = RecvFrom(echo, buffer, sizeof buffer, &from, &fromPort);
            if (n >= 0) SendTo(echo, buffer, n, fromPort, from);
        }
    });
    Stats stats = Summarise("plain <-> plain", PlainClient(port, count, seconds));
    stop = true;
    echoer.join();
    CloseSock(echo);
    return stats;
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

Stats PlainToListener(long count, double seconds) {
    Echo echo;
    CVekListen listener;
    int port = 0;
    if (!echo.sender.InitInstance(VEK_MODE_UNICAST, 0, 0) || !(port = RunListener(listener, OnEcho, &echo)))
        return Summarise("plain -> CVekListen echo", {});
    Stats stats = Summarise("plain -> CVekListen echo", PlainClient(port, count, seconds));
    listener.Stop();
    return stats;
}

// The originating end of the listener pair: each arrival is one sample and
// sends the next ping.
struct Pinger {
    CVekSend sender;
    int target = 0;
    std::vector<double> rtt;
    long want = 0;
    std::atomic<long> done{0};
    std::atomic<double> sentAt{0};
    double end = 0;
};

void OnPong(void* data, int length, void* context, unsigned long sourceAddress, int) {
    Pinger* p = static_cast<Pinger*>(context);
    const double now = Now();
    const long i = p->done.load(std::memory_order_relaxed);
    if (i >= p->want) return;
    p->rtt[i] = now - p->sentAt.load(std::memory_order_relaxed);
    p->done.store(i + 1, std::memory_order_release);
    if (i + 1 < p->want && now < p->end) {
        p->sentAt.store(Now(), std::memory_order_relaxed);
        p->sender.Send(data, static_cast<unsigned long>(length), p->target, sourceAddress);
    }
}

Stats ListenerPair(long count, double seconds) {
    const char* name = "CVekListen <-> CVekListen";
    Echo echo;
    Pinger pinger;
    pinger.rtt.assign(count, 0);
    pinger.want = count;
    CVekListen echoEnd, pingEnd;
    CVekSend kicker;
    int echoPort = 0, pingPort = 0;
    if (!echo.sender.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
        !pinger.sender.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
        !kicker.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
        !(echoPort = RunListener(echoEnd, OnEcho, &echo)) ||
        !(pingPort = RunListener(pingEnd, OnPong, &pinger)))
        return Summarise(name, {});
    echo.replyPort = pingPort;
    pinger.target = echoPort;
    pinger.end = Now() + seconds;

    // Start the exchange; start it again only if it stalls (a lost datagram).
    char payload[kSize] = {1};
    long seen = -1;
    while (Now() < pinger.end + 0.5) {
        const long done = pinger.done.load(std::memory_order_acquire);
        if (done >= count) break;
        if (done == seen) {
            pinger.sentAt.store(Now(), std::memory_order_relaxed);
            kicker.Send(payload, kSize, echoPort, kLoopback);
        }
        seen = done;
        SleepMs(200);
    }
    echoEnd.Stop();
    pingEnd.Stop();
    std::vector<double> rtt(pinger.rtt.begin(), pinger.rtt.begin() + pinger.done.load());
    return Summarise(name, rtt);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = Option(argc, argv, "--count", UnderWine() ? 4000 : 30000);
    const double seconds = static_cast<double>(Option(argc, argv, "--seconds", 4));
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    StartSockets();
    const bool pinned = PinToOneCpu();

    const Stats plain = PlainPair(count, seconds);
    const Stats results[] = {plain, PlainToListener(count, seconds), ListenerPair(count, seconds)};
    std::printf("\nRound trip, %d-byte datagrams, %s, up to %ld round trips per case\n", kSize,
                pinned ? "whole process pinned to CPU 0" : "NOT pinned (affinity refused)", count);
    std::printf("%-28s %8s %11s %11s | %-s\n", "case", "samples", "median us", "p99 us",
                "ratio to plain: median, p99");
    for (const Stats& s : results) {
        std::printf("%-28s %8ld %11.2f %11.2f", s.name, s.samples, s.median, s.p99);
        if (&s != &results[0] && s.samples && plain.samples)
            std::printf(" | %5.2fx  %5.2fx", s.median / plain.median, s.p99 / plain.p99);
        std::printf("\n");
    }
    std::printf("\nTargets:\n");
    for (int i = 1; i < 3; ++i) {
        const Stats& s = results[i];
        if (!s.samples || !plain.samples) continue;
        const double ratio = s.median / plain.median;
        std::printf("  %s: median %.2fx plain (target <= 1.30x): %s\n", s.name, ratio,
                    ratio <= 1.3 ? "MET" : "NOT MET");
    }
    StopSockets();
    VekExitInstance();
    return 0;
}
