// Send benchmark: CVekSend::Send against a plain sendto on the same kind of
// socket (bound to any interface, 65536-byte send buffer), 64-byte datagrams
// to a bound socket on 127.0.0.1 that nobody reads (so it is full and the
// kernel drops what arrives, the same for both). The two alternate in
// rounds and the median round of each is compared.
// Options: --count N (datagrams per round), --rounds R.
#include "BenchSupport.h"
#include "VekLink.h"

#include <cstdio>
#include <vector>

using namespace bench;

int main(int argc, char** argv) {
    const long count = Option(argc, argv, "--count", UnderWine() ? 20000 : 200000);
    const long rounds = Option(argc, argv, "--rounds", 7);
    constexpr int kSize = 64;
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    StartSockets();

    int sinkPort = 0, ignored = 0;
    Sock sink = OpenUdp(0, &sinkPort);
    Sock plain = OpenUdp(0, &ignored, 0, kSpecSocketBuffer, 0);
    CVekSend sender;
    if (sink == kNoSock || plain == kNoSock || !sender.InitInstance(VEK_MODE_UNICAST, 0, 0)) {
        std::printf("set-up failed\n");
        return 1;
    }
    char payload[kSize] = {1};
    std::vector<double> plainNs, sendNs;
    long plainFailed = 0, sendFailed = 0;
    const auto timePlain = [&] {
        const double start = Now();
        for (long i = 0; i < count; ++i)
            if (SendTo(plain, payload, kSize, sinkPort) != kSize) ++plainFailed;
        plainNs.push_back((Now() - start) * 1e9 / double(count));
    };
    const auto timeSend = [&] {
        const double start = Now();
        for (long i = 0; i < count; ++i)
            if (!sender.Send(payload, kSize, sinkPort, kLoopback)) ++sendFailed;
        sendNs.push_back((Now() - start) * 1e9 / double(count));
    };
    // The sink fills during the first round; one untimed round first, then
    // the order alternates so neither side always goes first.
    for (long i = 0; i < count; ++i) SendTo(plain, payload, kSize, sinkPort);
    for (long round = 0; round < rounds; ++round) {
        if (round % 2) {
            timeSend();
            timePlain();
        } else {
            timePlain();
            timeSend();
        }
    }
    const double plainMedian = Percentile(plainNs, 0.5), sendMedian = Percentile(sendNs, 0.5);
    const double ratio = sendMedian / plainMedian;
    std::printf("\nSend, %d-byte datagrams to an unread socket, %ld rounds of %ld\n", kSize, rounds, count);
    std::printf("%-22s %14s %14s %8s\n", "sender", "median ns/dg", "best ns/dg", "failed");
    std::printf("%-22s %14.0f %14.0f %8ld\n", "plain sendto", plainMedian, plainNs.front(), plainFailed);
    std::printf("%-22s %14.0f %14.0f %8ld\n", "CVekSend::Send", sendMedian, sendNs.front(), sendFailed);
    std::printf("\nTargets:\n  Send vs sendto %.3fx (target <= 1.05x): %s\n", ratio,
                ratio <= 1.05 ? "MET" : "NOT MET");
    sender.ExitInstance();
    CloseSock(plain);
    CloseSock(sink);
    StopSockets();
    VekExitInstance();
    return 0;
}
