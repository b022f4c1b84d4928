// Send benchmark: CVekSend::Send against a plain sendto on the same kind of
// socket (bound to any interface, send buffer raised to 65536 bytes), 64-byte datagrams
// to a bound socket on 127.0.0.1 that nobody reads (so it is full and the
// kernel drops what arrives, the same for both). In each round the two take
// turns in short blocks, each block starting with the other one, so a change
// in the machine's load lands on both alike; the table gives the median over
// the rounds of each one's time and of their ratio, with the range.
// Options: --rounds R, --blocks B (per sender and round), --block N (datagrams).
#include "BenchSupport.h"
#include "VekLink.h"

#include <cstdio>
#include <functional>
#include <vector>

using namespace bench;

int main(int argc, char** argv) {
    const long block = Option(argc, argv, "--block", support::UnderWine() ? 200 : 2000);
    const int blocks = static_cast<int>(Option(argc, argv, "--blocks", 50));
    const int rounds = static_cast<int>(Option(argc, argv, "--rounds", 9));
    constexpr int kSize = 64;
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    support::StartSockets();

    int sinkPort = 0;
    const support::Socket sink = OpenLoopback(&sinkPort);
    const support::Socket plainSocket = support::OpenUdp(0, 0);
    CVekSend sender;
    // The send buffer raised as CVekSend raises it, never lowered.
    if (support::BufferSize(plainSocket, false) < kSocketBuffer)
        support::SetBufferSize(plainSocket, false, kSocketBuffer);
    if (sink == support::kNoSocket || plainSocket == support::kNoSocket ||
        !sender.InitInstance(VEK_MODE_UNICAST, 0, 0)) {
        std::printf("set-up failed\n");
        return 1;
    }
    char payload[kSize] = {1};
    long failed[2] = {0, 0};
    const std::function<bool()> send[2] = {
        [&] { return support::SendTo(plainSocket, payload, kSize, kLoopback, sinkPort); },
        [&] { return sender.Send(payload, kSize, sinkPort, kLoopback) == 1; },
    };
    // Seconds spent by each in one block of sends.
    const auto time = [&](int which) {
        const double start = Now();
        for (long i = 0; i < block; ++i)
            if (!send[which]()) ++failed[which];
        return Now() - start;
    };
    // The sink fills first, untimed.
    for (long i = 0; i < 20 * block; ++i) send[0]();
    std::vector<double> ns[2], ratios;  // per round
    for (int round = 0; round < rounds; ++round) {
        double seconds[2] = {0, 0};
        for (int b = 0; b < blocks; ++b)
            for (int i = 0; i < 2; ++i) {
                const int which = static_cast<int>(Rotated(i, round * blocks + b, 2));
                seconds[which] += time(which);
            }
        for (int which = 0; which < 2; ++which) ns[which].push_back(seconds[which] * 1e9 / double(blocks * block));
        ratios.push_back(seconds[1] / seconds[0]);
    }

    std::printf("\nSend, %d-byte datagrams to an unread socket: %d rounds, each %d blocks of %ld per "
                "sender, taking turns\n", kSize, rounds, blocks, block);
    std::printf("medians of the rounds (min-max)\n");
    std::printf("%-22s %-22s %8s\n", "sender", "ns/dgram", "failed");
    std::printf("%-22s %-22s %8ld\n", "plain sendto", Format(SpreadOf(ns[0]), "%.0f").c_str(), failed[0]);
    std::printf("%-22s %-22s %8ld\n", "CVekSend::Send", Format(SpreadOf(ns[1]), "%.0f").c_str(), failed[1]);
    std::printf("\nTargets:\n  %s\n",
                Verdict(support::UnderWine() ? "Wine Send vs sendto" : "native Send vs sendto",
                        SpreadOf(ratios), 1.05).c_str());
    sender.ExitInstance();
    support::Close(plainSocket);
    support::Close(sink);
    support::StopSockets();
    VekExitInstance();
    return 0;
}
