// Send benchmark: CVekSend::Send against a plain sendto on the same kind of
// socket (bound to any interface, send buffer raised to 65536 bytes), 64-byte datagrams
// to a bound socket on 127.0.0.1 that nobody reads (so it is full and the
// kernel drops what arrives, the same for both). In each round the two take
// turns in short blocks, each block starting with the other one, so a change
// in the machine's load lands on both alike; the table gives the median over
// the rounds of each one's time and of their ratio, with the range.
// Options: --rounds R, --blocks B (per sender and round), --block N (datagrams).
#include "BenchSupport.h"

#include <cstdio>
#include <functional>
#include <vector>

using namespace bench;

namespace {

constexpr int kSize = 64;

// The two senders and the unread socket they send to.
struct Senders {
    int sinkPort = 0;
    support::Socket sink = OpenLoopback(&sinkPort);
    support::Socket plainSocket = support::OpenUdp(0, 0);
    CVekSend sender;
    char payload[kSize] = {1};
    long failed[2] = {0, 0};

    bool SetUp() {
        // The send buffer raised as CVekSend raises it, never lowered.
        if (support::BufferSize(plainSocket, false) < kSocketBuffer)
            support::SetBufferSize(plainSocket, false, kSocketBuffer);
        return sink != support::kNoSocket && plainSocket != support::kNoSocket &&
               sender.InitInstance(VEK_MODE_UNICAST, 0, 0);
    }
    ~Senders() {
        sender.ExitInstance();
        support::Close(plainSocket);
        support::Close(sink);
    }
    // One send by the plain socket (0) or CVekSend (1).
    bool Send(int which) {
        return which == 0 ? support::SendTo(plainSocket, payload, kSize, kLoopback, sinkPort)
                          : sender.Send(payload, kSize, sinkPort, kLoopback) == 1;
    }
    // Seconds spent by one sender on a block of sends.
    double Time(int which, long block) {
        const double start = Now();
        for (long i = 0; i < block; ++i)
            if (!Send(which)) ++failed[which];
        return Now() - start;
    }
};

int Measure(int argc, char** argv) {
    const long block = Option(argc, argv, "--block", support::UnderWine() ? 200 : 2000);
    const int blocks = static_cast<int>(Option(argc, argv, "--blocks", 50));
    const int rounds = static_cast<int>(Option(argc, argv, "--rounds", 9));
    Senders senders;
    if (!senders.SetUp()) {
        std::printf("set-up failed\n");
        return 1;
    }
    for (long i = 0; i < 20 * block; ++i) senders.Send(0);  // the sink fills first, untimed
    std::vector<double> ns[2], ratios;                      // per round
    for (int round = 0; round < rounds; ++round) {
        double seconds[2] = {0, 0};
        for (int b = 0; b < blocks; ++b)
            for (int i = 0; i < 2; ++i) {
                const int which = static_cast<int>(Rotated(i, round * blocks + b, 2));
                seconds[which] += senders.Time(which, block);
            }
        for (int which = 0; which < 2; ++which)
            ns[which].push_back(seconds[which] * 1e9 / double(blocks * block));
        ratios.push_back(seconds[1] / seconds[0]);
    }
    std::printf(
        "\nSend, %d-byte datagrams to an unread socket: %d rounds, each %d blocks of %ld "
        "per sender, taking turns\nmedians of the rounds (min-max)\n",
        kSize, rounds, blocks, block);
    std::printf("%-22s %-22s %8s\n", "sender", "ns/dgram", "failed");
    const char* const names[2] = {"plain sendto", "CVekSend::Send"};
    for (int which = 0; which < 2; ++which)
        std::printf("%-22s %-22s %8ld\n", names[which], Format(SpreadOf(ns[which]), "%.0f").c_str(),
                    senders.failed[which]);
    std::printf("\nTargets:\n  %s\n",
                Verdict(support::UnderWine() ? "Wine Send vs sendto" : "native Send vs sendto",
                        SpreadOf(ratios), 1.05)
                    .c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return RunBenchmark(argc, argv, Measure); }
