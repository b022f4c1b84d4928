// The pieces of one receive, timed apart on the thread's CPU clock (native
// only), with a datagram always queued: what a receiver pays per datagram
// once data is waiting. Every piece and shape runs --count calls in each of
// --rounds interleaved rounds (each round starts one case later); the table
// gives the median of the rounds and their range.
//   recvfrom              one receive of a queued 64-byte datagram
//   clear 64 KiB          memset of the 65536-byte buffer
//   poll {socket}         one descriptor, readable
//   poll {socket, eventfd, eventfd}
//                         a poll over the listener's network and stop events:
//                         the selected socket, the network event's own
//                         eventfd, the stop event's eventfd
//   flag + FIONREAD       the network event's set flag, then the kernel's
//                         count of the next datagram's bytes
//   eventfd set + reset   what a set and reset event costs
// and the whole shapes, run as one loop per datagram:
//   B         clear + recvfrom (the floor the listener is judged against)
//   poll wait poll {socket, eventfd, eventfd} + clear + recvfrom: the
//             listener's loop on a wait that always polls (the native wait
//             before it learnt to answer a queued datagram without one)
//   queued    flag + FIONREAD + clear + recvfrom: the listener's loop on
//             the native wait now, which answers from the flag and the
//             queued bytes when a datagram is waiting, and polls only when
//             none is (then it pays the ioctl on top of the poll)
// Options: --count N, --rounds R.
#include "BenchSupport.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

struct Case {
    const char* name;
    bool receives;  // takes one queued datagram per call
    std::function<void()> call;
};

double NsPerCall(long count, const std::function<void()>& call) {
    const CpuClock clock = CurrentThreadCpuClock();
    const double start = CpuSeconds(clock);
    for (long i = 0; i < count; ++i) call();
    return (CpuSeconds(clock) - start) * 1e9 / double(count);
}

// Keeps at least count + 1 datagrams queued on the receiving socket.
class Queue {
public:
    Queue(support::Socket sender, int port) : sender(sender), port(port) {}
    void Hold(long count) {
        const char payload[64] = {1};
        for (; queued < count + 1; ++queued) support::SendTo(sender, payload, sizeof payload, kLoopback, port);
    }
    void Took(long count) { queued -= count; }

private:
    support::Socket sender;
    int port;
    long queued = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const long count = Option(argc, argv, "--count", 20000);
    const int rounds = static_cast<int>(Option(argc, argv, "--rounds", 7));
    int port = 0, ignored = 0;
    const support::Socket receiving = OpenLoopback(&port);
    const support::Socket sending = OpenLoopback(&ignored);
    RaiseRecvBuffer(receiving, 1 << 30);
    Queue queue(sending, port);
    const int s = static_cast<int>(receiving);
    const int netEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<bool> netSet{false};
    std::vector<char> buffer(kBufferSize);
    volatile long sink = 0;

    const auto receive = [&] { sink = support::RecvFrom(receiving, buffer.data(), kBufferSize, nullptr, nullptr); };
    const auto clear = [&] {
        std::memset(buffer.data(), 0, kBufferSize);
        sink = buffer[100];
    };
    const auto poll3 = [&] {
        pollfd fds[3] = {{s, POLLIN, 0}, {netEvent, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        sink = poll(fds, 3, -1);
    };
    const auto queued = [&] {
        int bytes = 0;
        sink = !netSet.load() && ioctl(s, FIONREAD, &bytes) == 0 && bytes > 0;
    };
    const std::vector<Case> pieces = {
        {"recvfrom of a queued 64-byte datagram", true, receive},
        {"clear 64 KiB (memset)", false, clear},
        {"poll {socket}", false, [&] {
             pollfd fds[1] = {{s, POLLIN, 0}};
             sink = poll(fds, 1, -1);
         }},
        {"poll {socket, eventfd, eventfd}", false, poll3},
        {"flag + FIONREAD", false, queued},
        {"eventfd set + reset", false, [&] {
             std::uint64_t one = 1, value;
             sink = write(netEvent, &one, sizeof one) + read(netEvent, &value, sizeof value);
         }},
    };
    const std::vector<Case> shapes = {
        {"B: clear + recvfrom", true, [&] { clear(); receive(); }},
        {"poll wait: poll3 + clear + recvfrom", true, [&] { poll3(); clear(); receive(); }},
        {"queued: flag + FIONREAD + clear + recvfrom", true, [&] { queued(); clear(); receive(); }},
    };

    // Pieces and shapes take their turns together, in rotating order.
    std::vector<Case> cases = pieces;
    cases.insert(cases.end(), shapes.begin(), shapes.end());
    std::vector<std::vector<double>> ns(cases.size());
    for (int round = 0; round < rounds; ++round)
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const std::size_t which = Rotated(i, round, cases.size());
            queue.Hold(count);
            ns[which].push_back(NsPerCall(count, cases[which].call));
            if (cases[which].receives) queue.Took(count);
        }

    std::printf("\nReceive path, CPU ns per call with a datagram always queued: medians of %d "
                "interleaved rounds of %ld calls (min-max)\n", rounds, count);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        std::printf("  %-44s %s\n", cases[i].name, Format(SpreadOf(ns[i]), "%.0f").c_str());

    const std::size_t b = pieces.size();
    std::printf("\nWhole shapes, one loop per datagram%28s | vs B, per round\n", "");
    for (std::size_t i = b; i < cases.size(); ++i) {
        std::printf("  %-44s %-20s", cases[i].name, Format(SpreadOf(ns[i]), "%.0f").c_str());
        if (i > b) {
            std::vector<double> ratios;
            for (int r = 0; r < rounds; ++r) ratios.push_back(ns[i][r] / ns[b][r]);
            std::printf(" | %s", Format(SpreadOf(ratios), "%.2f").c_str());
        }
        std::printf("\n");
    }
    const auto median = [&](std::size_t i) { return SpreadOf(ns[i]).median; };
    const double floor = median(1) + median(0);
    std::printf("  sums of the piece medians: B %.0f, poll wait %.0f (%.2fx B), queued %.0f (%.2fx B)\n",
                floor, floor + median(3), (floor + median(3)) / floor, floor + median(4),
                (floor + median(4)) / floor);
    close(netEvent);
    close(stopEvent);
    support::Close(sending);
    support::Close(receiving);
    return 0;
}
