// The pieces of one receive, timed apart on the thread's CPU clock (native
// only): what a waiting receiver pays per datagram when data is already
// queued. Each piece runs against a socket holding queued 64-byte datagrams.
//   recvfrom              one blocking receive of a queued datagram
//   clear 64 KiB          memset of the 65536-byte buffer
//   poll {socket}         one descriptor, readable
//   poll {event,socket,event}
//                         the listener's wait over its network and stop
//                         events, the socket readable
//   eventfd reset         one read of a set eventfd (what a reset costs when
//                         the event was set)
//   ioctl FIONREAD        the queued bytes of the socket: how the native wait
//                         tells a queued datagram without a poll
// Options: --count N.
#include "BenchSupport.h"

#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <vector>

using namespace bench;

namespace {

double ThreadCpu() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <typename F>
double NsPerCall(long count, F f) {
    const double start = ThreadCpu();
    for (long i = 0; i < count; ++i) f();
    return (ThreadCpu() - start) * 1e9 / double(count);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = Option(argc, argv, "--count", 100000);
    int port = 0, ignored = 0;
    Sock s = OpenUdp(0, &port, 1 << 30);
    Sock sender = OpenUdp(0, &ignored);
    std::vector<char> buffer(kBufferSize);
    char payload[64] = {1};
    // Enough queued datagrams that no receive ever waits.
    for (long i = 0; i < count + 16; ++i) SendTo(sender, payload, sizeof payload, port);

    const int netEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::uint32_t from;
    int fromPort;
    volatile int sink = 0;

    const double clear = NsPerCall(count, [&] {
        std::memset(buffer.data(), 0, kBufferSize);
        sink = buffer[100];
    });
    const double poll1 = NsPerCall(count, [&] {
        pollfd fds[1] = {{s, POLLIN, 0}};
        sink = poll(fds, 1, -1);
    });
    const double poll3 = NsPerCall(count, [&] {
        pollfd fds[3] = {{netEvent, POLLIN, 0}, {s, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        sink = poll(fds, 3, -1);
    });
    const double poll3first = NsPerCall(count, [&] {
        pollfd fds[3] = {{s, POLLIN, 0}, {netEvent, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        sink = poll(fds, 3, -1);
    });
    const double reset = NsPerCall(count, [&] {
        std::uint64_t one = 1, value;
        sink = int(write(netEvent, &one, sizeof one));
        sink = int(read(netEvent, &value, sizeof value));
    });
    const double queued = NsPerCall(count, [&] {
        int bytes = 0;
        sink = ioctl(s, FIONREAD, &bytes) + bytes;
    });
    const double receive = NsPerCall(count, [&] {
        sink = RecvFrom(s, buffer.data(), kBufferSize, &from, &fromPort);
    });

    std::printf("\nReceive path pieces, CPU ns per call, a datagram always queued (%ld calls each)\n", count);
    std::printf("  %-42s %8.0f\n", "recvfrom of a queued 64-byte datagram", receive);
    std::printf("  %-42s %8.0f\n", "clear 64 KiB (memset)", clear);
    std::printf("  %-42s %8.0f\n", "poll {socket}", poll1);
    std::printf("  %-42s %8.0f\n", "poll {eventfd, socket, eventfd}", poll3);
    std::printf("  %-42s %8.0f\n", "poll {socket, eventfd, eventfd}", poll3first);
    std::printf("  %-42s %8.0f\n", "eventfd write + read (set + reset)", reset);
    std::printf("  %-42s %8.0f\n", "ioctl FIONREAD {socket}", queued);
    std::printf("  B = clear + recvfrom                        %8.0f\n", clear + receive);
    std::printf("  listener shape = poll3 + clear + recvfrom  %8.0f  (%.2fx B)\n",
                poll3 + clear + receive, (poll3 + clear + receive) / (clear + receive));
    std::printf("  new shape = FIONREAD + clear + recvfrom    %8.0f  (%.2fx B)\n",
                queued + clear + receive, (queued + clear + receive) / (clear + receive));
    close(netEvent);
    close(stopEvent);
    CloseSock(sender);
    CloseSock(s);
    return 0;
}
