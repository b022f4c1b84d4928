// Receive benchmark: a sender thread blasts a bounded number of equal-sized
// datagrams at one receiver on 127.0.0.1; a CVekListen and each baseline
// receiver take their turn in the same run. For each it prints datagrams
// delivered per second, the receive thread's CPU time per delivered datagram
// (from that thread's CPU clock), the loss, and the listener's ratio to it.
//
// Every receiver hands each datagram to the same Tally::Deliver, so the
// bookkeeping costs all of them the same. The CPU clock is read on the
// receive thread at the first delivery and from the main thread once the
// receiver has gone quiet (its clock no longer moves then).
//
// With --prefill 1 the receiver is held at its first datagram until the
// whole blast sits in its socket buffer, then drains it without ever waiting:
// the CPU per datagram is then the pure receive cost, without wake-ups and
// without drops (given a socket buffer that holds the blast).
//
// Options: --count N (datagrams per receiver), --seconds S (blast time
// limit), --recv-buffer B (socket buffer of every receiver; the listener asks
// for 65536 itself, so any other value is applied to its socket afterwards),
// --prefill 1.
#include "BenchSupport.h"
#include "VekLink.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <poll.h>
#  include <sys/eventfd.h>
#endif
#if defined(VEKLINK_BENCH_LIBUV)
#  include <uv.h>
#endif
#if defined(VEKLINK_BENCH_ASIO)
#  include <boost/asio.hpp>
#endif

using namespace bench;

namespace {

// What one receiver saw. Written by the receive thread; the main thread reads
// it once the count has stopped moving.
struct Tally {
    int expectedLength = 0;
    bool gated = false;              // hold the first delivery until opened
    std::atomic<bool> open{false};
    std::atomic<bool> holding{false};
    std::atomic<long> count{0};
    bool started = false;
    CpuClock clock;
    double firstCpu = 0, firstWall = 0, lastWall = 0;

    void Deliver(int length) {
        if (length != expectedLength) return;
        const double now = Now();
        if (!started) {
            if (gated) {
                holding = true;
                for (int i = 0; i < 20000 && !open.load(); ++i) SleepMs(1);
            }
            started = true;
            clock = CurrentThreadCpuClock();
            firstCpu = CpuSeconds(clock);
            firstWall = now;
        }
        lastWall = now;
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
};

class Receiver {
public:
    virtual ~Receiver() {}
    virtual std::string Name() const = 0;
    // Starts receiving on 127.0.0.1; returns the port, or 0.
    virtual int Start(int recvBuffer, Tally* tally) = 0;
    virtual int KernelBuffer() const = 0;
    virtual void Stop() = 0;
};

// --- CVekListen -------------------------------------------------------------

void OnDatagram(void*, int length, void* context, unsigned long, int) {
    static_cast<Tally*>(context)->Deliver(length);
}

class ListenerReceiver : public Receiver {
public:
    std::string Name() const override { return "VekLink CVekListen"; }
    int Start(int recvBuffer, Tally* tally) override {
        static int nextPort = 41000;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int port = nextPort++;
            if (listener.Run(VEK_MODE_UNICAST, OnDatagram, port, kLoopback, 0, tally)) {
                kernelBuffer = SetRecvBufferOfPort(port, recvBuffer == kSpecSocketBuffer ? 0 : recvBuffer);
                return port;
            }
        }
        return 0;
    }
    int KernelBuffer() const override { return kernelBuffer; }
    void Stop() override { listener.Stop(); }

private:
    CVekListen listener;
    int kernelBuffer = 0;
};

// --- Plain blocking recvfrom loop, with or without a clear -----------------

class PlainReceiver : public Receiver {
public:
    explicit PlainReceiver(bool clear) : clear(clear), buffer(kBufferSize) {}
    std::string Name() const override {
        return clear ? "B recvfrom + 64 KiB clear" : "A plain blocking recvfrom";
    }
    int Start(int recvBuffer, Tally* tally) override {
        int port = 0;
        s = OpenUdp(0, &port, recvBuffer);
        if (s == kNoSock) return 0;
        SetRecvTimeout(s, 100);
        thread = std::thread([this, tally] {
            std::uint32_t from;
            int fromPort;
            while (!stop.load(std::memory_order_relaxed)) {
                if (clear) std::memset(buffer.data(), 0, kBufferSize);
                const int n = RecvFrom(s, buffer.data(), kBufferSize, &from, &fromPort);
                if (n >= 0) tally->Deliver(n);
            }
        });
        return port;
    }
    int KernelBuffer() const override { return RecvBuffer(s); }
    void Stop() override {
        stop = true;
        thread.join();
        CloseSock(s);
    }

private:
    bool clear;
    std::vector<char> buffer;
    Sock s = kNoSock;
    std::atomic<bool> stop{false};
    std::thread thread;
};

#if defined(_WIN32)
// --- WSAEventSelect loop: wait on {network, stop}, enumerate, reset, clear,
// receive ---------------------------------------------------------------------

class EventSelectReceiver : public Receiver {
public:
    EventSelectReceiver() : buffer(kBufferSize) {}
    std::string Name() const override { return "W WSAEventSelect + clear"; }
    int Start(int recvBuffer, Tally* tally) override {
        int port = 0;
        s = OpenUdp(0, &port, recvBuffer);
        if (s == kNoSock) return 0;
        events[0] = WSACreateEvent();
        events[1] = WSACreateEvent();
        if (WSAEventSelect(s, events[0], FD_READ) != 0) return 0;
        thread = std::thread([this, tally] {
            std::uint32_t from;
            int fromPort;
            for (;;) {
                if (WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE) != WSA_WAIT_EVENT_0)
                    break;
                WSANETWORKEVENTS recorded;
                const bool enumerated = WSAEnumNetworkEvents(s, events[0], &recorded) == 0;
                WSAResetEvent(events[0]);
                if (!enumerated || !(recorded.lNetworkEvents & FD_READ)) continue;
                std::memset(buffer.data(), 0, kBufferSize);
                const int n = RecvFrom(s, buffer.data(), kBufferSize, &from, &fromPort);
                if (n >= 0) tally->Deliver(n);
            }
        });
        return port;
    }
    int KernelBuffer() const override { return RecvBuffer(s); }
    void Stop() override {
        WSASetEvent(events[1]);
        thread.join();
        CloseSock(s);
        WSACloseEvent(events[0]);
        WSACloseEvent(events[1]);
    }

private:
    std::vector<char> buffer;
    Sock s = kNoSock;
    WSAEVENT events[2];
    std::thread thread;
};
#else
// --- poll on {socket, eventfd}, clear, recvfrom: the shape of the listener's
// loop without the library around it -------------------------------------------

class PollReceiver : public Receiver {
public:
    PollReceiver() : buffer(kBufferSize) {}
    std::string Name() const override { return "P poll{sock,event}+clear"; }
    int Start(int recvBuffer, Tally* tally) override {
        int port = 0;
        s = OpenUdp(0, &port, recvBuffer);
        if (s == kNoSock) return 0;
        stopFd = eventfd(0, EFD_CLOEXEC);
        thread = std::thread([this, tally] {
            std::uint32_t from;
            int fromPort;
            for (;;) {
                pollfd fds[2] = {{s, POLLIN, 0}, {stopFd, POLLIN, 0}};
                if (poll(fds, 2, -1) < 0 || fds[1].revents) break;
                if (!(fds[0].revents & POLLIN)) continue;
                std::memset(buffer.data(), 0, kBufferSize);
                const int n = RecvFrom(s, buffer.data(), kBufferSize, &from, &fromPort);
                if (n >= 0) tally->Deliver(n);
            }
        });
        return port;
    }
    int KernelBuffer() const override { return RecvBuffer(s); }
    void Stop() override {
        const std::uint64_t one = 1;
        if (write(stopFd, &one, sizeof one) != sizeof one) std::perror("eventfd");
        thread.join();
        CloseSock(s);
        close(stopFd);
    }

private:
    std::vector<char> buffer;
    Sock s = kNoSock;
    int stopFd = -1;
    std::thread thread;
};
#endif

#if defined(VEKLINK_BENCH_LIBUV)
// --- libuv: uv_udp_recv_start on a loop of its own ------------------------------

class UvReceiver : public Receiver {
public:
    UvReceiver() : buffer(kBufferSize) {}
    std::string Name() const override { return "libuv uv_udp_recv_start"; }
    int Start(int recvBuffer, Tally* startTally) override {
        tally = startTally;
        uv_loop_init(&loop);
        uv_udp_init(&loop, &udp);
        udp.data = this;
        sockaddr_in local;
        uv_ip4_addr("127.0.0.1", 0, &local);
        if (uv_udp_bind(&udp, reinterpret_cast<const sockaddr*>(&local), 0) != 0) return 0;
        uv_os_fd_t fd;
        uv_fileno(reinterpret_cast<uv_handle_t*>(&udp), &fd);
        SetRecvBuffer(fd, recvBuffer);
        kernelBuffer = RecvBuffer(fd);
        sockaddr_in bound;
        int length = sizeof bound;
        uv_udp_getsockname(&udp, reinterpret_cast<sockaddr*>(&bound), &length);
        uv_udp_recv_start(&udp, Allocate, Received);
        uv_async_init(&loop, &stopper, Stopped);
        stopper.data = this;
        thread = std::thread([this] { uv_run(&loop, UV_RUN_DEFAULT); });
        return ntohs(bound.sin_port);
    }
    int KernelBuffer() const override { return kernelBuffer; }
    void Stop() override {
        uv_async_send(&stopper);
        thread.join();
        uv_loop_close(&loop);
    }

private:
    static void Allocate(uv_handle_t* handle, size_t, uv_buf_t* out) {
        UvReceiver* self = static_cast<UvReceiver*>(handle->data);
        *out = uv_buf_init(self->buffer.data(), kBufferSize);
    }
    static void Received(uv_udp_t* handle, ssize_t n, const uv_buf_t*, const sockaddr* from, unsigned) {
        if (n < 0 || (n == 0 && !from)) return;
        static_cast<UvReceiver*>(handle->data)->tally->Deliver(static_cast<int>(n));
    }
    static void Stopped(uv_async_t* async) {
        UvReceiver* self = static_cast<UvReceiver*>(async->data);
        uv_udp_recv_stop(&self->udp);
        uv_close(reinterpret_cast<uv_handle_t*>(&self->udp), nullptr);
        uv_close(reinterpret_cast<uv_handle_t*>(async), nullptr);
    }

    std::vector<char> buffer;
    Tally* tally = nullptr;
    uv_loop_t loop;
    uv_udp_t udp;
    uv_async_t stopper;
    int kernelBuffer = 0;
    std::thread thread;
};
#endif

#if defined(VEKLINK_BENCH_ASIO)
// --- Boost.Asio: async_receive_from re-armed from its own handler ---------------

class AsioReceiver : public Receiver {
public:
    AsioReceiver() : socket(io), buffer(kBufferSize) {}
    std::string Name() const override { return "Boost.Asio async_receive_from"; }
    int Start(int recvBuffer, Tally* startTally) override {
        using boost::asio::ip::udp;
        tally = startTally;
        socket.open(udp::v4());
        SetRecvBuffer(socket.native_handle(), recvBuffer);
        socket.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        // As the kernel reports it, like the other rows (Asio halves it on Linux).
        kernelBuffer = RecvBuffer(socket.native_handle());
        Arm();
        thread = std::thread([this] { io.run(); });
        return socket.local_endpoint().port();
    }
    int KernelBuffer() const override { return kernelBuffer; }
    void Stop() override {
        io.stop();
        thread.join();
        socket.close();
    }

private:
    void Arm() {
        socket.async_receive_from(boost::asio::buffer(buffer.data(), kBufferSize), from,
                                  [this](const boost::system::error_code& error, std::size_t n) {
                                      if (error) return;
                                      tally->Deliver(static_cast<int>(n));
                                      Arm();
                                  });
    }

    boost::asio::io_context io;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::udp::endpoint from;
    std::vector<char> buffer;
    Tally* tally = nullptr;
    int kernelBuffer = 0;
    std::thread thread;
};
#endif

struct Result {
    std::string name;
    long sent = 0, delivered = 0;
    double rate = 0;       // datagrams per second delivered
    double cpuNs = 0;      // receive-thread CPU per delivered datagram
    int kernelBuffer = 0;
    bool ok = false;
};

Result Measure(Receiver& receiver, int size, long count, double seconds, int recvBuffer,
               bool prefill) {
    Result result;
    result.name = receiver.Name();
    Tally tally;
    tally.expectedLength = size;
    tally.gated = prefill;
    const int port = receiver.Start(recvBuffer, &tally);
    if (!port) {
        std::printf("  %s: could not start\n", result.name.c_str());
        return result;
    }
    result.kernelBuffer = receiver.KernelBuffer();
    SleepMs(50);

    // Blast from a thread of its own, bounded in count and time.
    std::thread sender([&] {
        int ignored;
        Sock s = OpenUdp(0, &ignored);
        std::vector<char> payload(size, 'x');
        const double end = Now() + seconds;
        long sent = 0;
        for (; sent < count; ++sent) {
            if ((sent & 1023) == 0 && Now() > end) break;
            if (SendTo(s, payload.data(), size, port) != size) break;
        }
        result.sent = sent;
        CloseSock(s);
    });
    sender.join();
    if (prefill) {
        for (int i = 0; i < 2000 && !tally.holding.load(); ++i) SleepMs(1);
        tally.open = true;
    }

    // Quiet: the count has not moved for 200 ms natively, 1 s under Wine,
    // whose receive thread can stall that long behind the wineserver (at
    // most 10 s in all).
    const int quietMs = UnderWine() ? 1000 : 200;
    const double limit = Now() + 10;
    long seen = -1;
    for (;;) {
        const long now = tally.count.load(std::memory_order_acquire);
        if (now == seen || Now() > limit) break;
        seen = now;
        SleepMs(quietMs);
    }
    const double lastCpu = tally.started ? CpuSeconds(tally.clock) : 0;
    receiver.Stop();
    ReleaseCpuClock(tally.clock);

    result.delivered = tally.count.load(std::memory_order_acquire);
    if (result.delivered > 1) {
        result.rate = static_cast<double>(result.delivered - 1) / (tally.lastWall - tally.firstWall);
        result.cpuNs = (lastCpu - tally.firstCpu) * 1e9 / static_cast<double>(result.delivered - 1);
        result.ok = true;
    }
    return result;
}

void PrintTable(int size, long count, int recvBuffer, bool prefill,
                const std::vector<Result>& results, const std::vector<std::string>& missing) {
    std::printf("\nReceive, %d-byte datagrams, %ld sent per receiver, socket buffer %d requested, %s\n",
                size, count, recvBuffer,
                prefill ? "drained from a full buffer (no waits)" : "live blast");
    std::printf("%-31s %8s %9s %6s %11s %9s %8s | %-21s\n", "receiver", "sent", "delivered",
                "loss", "dgram/s", "CPU ns/dg", "kbuf", "listener / this: rate, CPU");
    const Result& listener = results.front();
    for (const Result& r : results) {
        const double loss = r.sent ? 100.0 * (1.0 - double(r.delivered) / double(r.sent)) : 0;
        std::printf("%-31s %8ld %9ld %5.1f%% %11.0f %9.0f %8d", r.name.c_str(), r.sent, r.delivered,
                    loss, r.rate, r.cpuNs, r.kernelBuffer);
        if (&r != &listener && r.ok && listener.ok)
            std::printf(" | %5.2fx  %5.2fx", listener.rate / r.rate, listener.cpuNs / r.cpuNs);
        std::printf("\n");
    }
    for (const std::string& m : missing) std::printf("%-31s (not built: %s)\n", "", m.c_str());
}

const Result* Find(const std::vector<Result>& results, const char* prefix) {
    for (const Result& r : results)
        if (r.name.compare(0, std::strlen(prefix), prefix) == 0) return r.ok ? &r : nullptr;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const long count = Option(argc, argv, "--count", UnderWine() ? 40000 : 200000);
    const double seconds = static_cast<double>(Option(argc, argv, "--seconds", UnderWine() ? 2 : 3));
    const int recvBuffer = static_cast<int>(Option(argc, argv, "--recv-buffer", kSpecSocketBuffer));
    const bool prefill = Option(argc, argv, "--prefill", 0) != 0;
    const char* only = nullptr;  // --only LETTERS: first letters of the baselines to run
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    StartSockets();

    std::vector<std::string> missing;
#if !defined(_WIN32) && !defined(VEKLINK_BENCH_LIBUV)
    missing.push_back("libuv baseline, libuv not found at configure time");
#endif
#if !defined(_WIN32) && !defined(VEKLINK_BENCH_ASIO)
    missing.push_back("Boost.Asio baseline, Boost headers not found at configure time");
#endif

    std::vector<std::string> verdicts;
    for (int size : {64, 1400}) {
        std::vector<std::unique_ptr<Receiver>> receivers;
        receivers.emplace_back(new ListenerReceiver);
        receivers.emplace_back(new PlainReceiver(false));
        receivers.emplace_back(new PlainReceiver(true));
#if defined(_WIN32)
        receivers.emplace_back(new EventSelectReceiver);
#else
        receivers.emplace_back(new PollReceiver);
#endif
#if defined(VEKLINK_BENCH_LIBUV)
        receivers.emplace_back(new UvReceiver);
#endif
#if defined(VEKLINK_BENCH_ASIO)
        receivers.emplace_back(new AsioReceiver);
#endif
        if (only) {
            // Keep the listener and the receivers whose name starts with one of
            // the letters given.
            for (std::size_t i = receivers.size(); i-- > 1;)
                if (!std::strchr(only, receivers[i]->Name()[0])) receivers.erase(receivers.begin() + i);
        }
        std::vector<Result> results;
        for (auto& receiver : receivers) results.push_back(Measure(*receiver, size, count, seconds, recvBuffer, prefill));
        PrintTable(size, count, recvBuffer, prefill, results, missing);

        const Result* listener = Find(results, "VekLink");
        char line[200];
#if defined(_WIN32)
        const Result* loop = Find(results, "W ");
        if (listener && loop) {
            const double ratio = listener->rate / loop->rate;
            std::snprintf(line, sizeof line,
                          "%4d B: listener dgram/s vs WSAEventSelect loop %.2fx (target >= 0.80x): %s",
                          size, ratio, ratio >= 0.8 ? "MET" : "NOT MET");
            verdicts.push_back(line);
        }
#else
        const Result* b = Find(results, "B ");
        if (listener && b) {
            const double ratio = listener->cpuNs / b->cpuNs;
            std::snprintf(line, sizeof line,
                          "%4d B: listener CPU/dgram vs B %.2fx (target <= 1.25x): %s", size,
                          ratio, ratio <= 1.25 ? "MET" : "NOT MET");
            verdicts.push_back(line);
        }
#endif
    }
    std::printf("\nTargets (socket buffer %d, %s):\n", recvBuffer, prefill ? "drained" : "live blast");
    for (const std::string& v : verdicts) std::printf("  %s\n", v.c_str());

    StopSockets();
    VekExitInstance();
    return 0;
}
