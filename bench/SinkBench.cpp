// A plain blocking receive loop on a given port, the floor that scripts/bench
// sets beside `veklink listen` when it aims iperf's blasts at both: recvfrom
// on 0.0.0.0:PORT (after clearing the 64 KiB buffer, with --clear, as the
// listener clears it) until SECONDS have passed, then one line with what
// arrived. The socket buffer stays as the platform made it, which the
// listener only ever raises to 65536 bytes.
// Usage: veklink_bench_sink PORT SECONDS [--clear]
#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace bench;

namespace {

int Sink(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: veklink_bench_sink PORT SECONDS [--clear]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const double seconds = std::atof(argv[2]);
    const bool clear = argc > 3 && std::strcmp(argv[3], "--clear") == 0;
    const support::Socket s = support::OpenUdp(0, port);
    if (s == support::kNoSocket) {
        std::printf("could not bind port %d\n", port);
        return 1;
    }
    std::printf("listening on port %d\n", port);
    std::fflush(stdout);
    support::SetRecvTimeout(s, 100);  // to notice the end while nothing arrives
    std::vector<char> buffer(kBufferSize);
    unsigned long received = 0;
    for (const double end = Now() + seconds; Now() < end;) {
        if (clear) std::memset(buffer.data(), 0, buffer.size());
        if (support::RecvFrom(s, buffer.data(), kBufferSize, nullptr, nullptr) >= 0) ++received;
    }
    std::printf("received %lu datagrams\n", received);
    support::Close(s);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return RunBenchmark(argc, argv, Sink); }
