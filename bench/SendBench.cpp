// Send benchmark: CVekSend::Send against a plain sendto on the same kind of
// socket (bound to any interface, send buffer raised to 65536 bytes), 64-byte datagrams
// to a bound socket on 127.0.0.1 that nobody reads (so it is full and the
// kernel drops what arrives, the same for both). The two take turns in
// interleaved rounds, each round starting with the other one; the table
// gives the median of each and of the per-round ratios, with their range.
// Options: --count N (datagrams per round), --rounds R.
#include "BenchSupport.h"
#include "VekLink.h"

#include <cstdio>
#include <functional>
#include <vector>

using namespace bench;

int main(int argc, char** argv) {
    const long count = Option(argc, argv, "--count", plain::UnderWine() ? 20000 : 200000);
    const int rounds = static_cast<int>(Option(argc, argv, "--rounds", 11));
    constexpr int kSize = 64;
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    plain::Start();

    int sinkPort = 0;
    const plain::Socket sink = OpenLoopback(&sinkPort);
    const plain::Socket plainSocket = plain::OpenUdp(0, 0);
    CVekSend sender;
    // The send buffer raised as CVekSend raises it, never lowered.
    if (plain::BufferSize(plainSocket, false) < kSocketBuffer)
        plain::SetBufferSize(plainSocket, false, kSocketBuffer);
    if (sink == plain::kNoSocket || plainSocket == plain::kNoSocket ||
        !sender.InitInstance(VEK_MODE_UNICAST, 0, 0)) {
        std::printf("set-up failed\n");
        return 1;
    }
    char payload[kSize] = {1};
    long failed[2] = {0, 0};
    const std::function<bool()> send[2] = {
        [&] { return plain::SendTo(plainSocket, payload, kSize, kLoopback, sinkPort); },
        [&] { return sender.Send(payload, kSize, sinkPort, kLoopback) == 1; },
    };
    // ns per datagram of each, per round.
    std::vector<double> ns[2];
    const auto time = [&](int which) {
        const double start = Now();
        for (long i = 0; i < count; ++i)
            if (!send[which]()) ++failed[which];
        ns[which].push_back((Now() - start) * 1e9 / double(count));
    };
    // The sink fills during the first round: one untimed round first.
    for (long i = 0; i < count; ++i) send[0]();
    for (int round = 0; round < rounds; ++round) {
        time(Rotated(0, round, 2));
        time(Rotated(1, round, 2));
    }
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) ratios.push_back(ns[1][round] / ns[0][round]);

    std::printf("\nSend, %d-byte datagrams to an unread socket, %d interleaved rounds of %ld\n", kSize,
                rounds, count);
    std::printf("medians of the rounds (min-max)\n");
    std::printf("%-22s %-22s %8s\n", "sender", "ns/dgram", "failed");
    std::printf("%-22s %-22s %8ld\n", "plain sendto", Format(SpreadOf(ns[0]), "%.0f").c_str(), failed[0]);
    std::printf("%-22s %-22s %8ld\n", "CVekSend::Send", Format(SpreadOf(ns[1]), "%.0f").c_str(), failed[1]);
    std::printf("\nTargets:\n  %s\n",
                Verdict(plain::UnderWine() ? "Wine Send vs sendto" : "native Send vs sendto",
                        SpreadOf(ratios), 1.05).c_str());
    sender.ExitInstance();
    plain::Close(plainSocket);
    plain::Close(sink);
    plain::Stop();
    VekExitInstance();
    return 0;
}
