#include "Receivers.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "BaselineLoops.h"
#include "VekLink.h"

#if defined(VEKLINK_BENCH_LIBUV)
#  include <uv.h>
#endif
#if defined(VEKLINK_BENCH_ASIO)
#  include <boost/asio.hpp>
#endif

namespace bench {

void Tally::Deliver(int length) {
    if (length != expectedLength) return;
    const double now = Now();
    if (!started) Begin(now);
    lastWall = now;
    const long n = count.load(std::memory_order_relaxed) + 1;
    count.store(n, std::memory_order_release);
    if (!markLabel.empty() && (n == 1 || n == markLast)) MarkCountWindow(n == 1, markLabel);
}

void Tally::Begin(double now) {
    if (gated) {
        holding = true;
        for (int i = 0; i < 20000 && !open.load(); ++i) support::SleepMs(1);
    }
    if (cpu >= 0) support::PinThread(cpu);
    started = true;
    clock = support::ThreadCpuClock();
    firstCpu = support::CpuSeconds(clock);
    firstWall = now;
}

namespace {

// --- CVekListen -------------------------------------------------------------

void OnDatagram(void*, int length, void* context, unsigned long, int) {
    static_cast<Tally*>(context)->Deliver(length);
}

class ListenerReceiver : public Receiver {
public:
    int Start(int recvBuffer, Tally* tally) override {
        static int nextPort = 41000;
        const int port = RunListenerOnFreePort(listener, OnDatagram, tally, &nextPort);
        if (port) kernelBuffer = RaiseRecvBufferOfPort(port, recvBuffer);
        return port;
    }
    int KernelBuffer() const override { return kernelBuffer; }
    void Stop() override { listener.Stop(); }

private:
    CVekListen listener;
    int kernelBuffer = 0;
};

// --- A baseline loop on a plain socket ---------------------------------------

class LoopReceiver : public Receiver {
public:
    explicit LoopReceiver(std::unique_ptr<Loop> loop) : loop(std::move(loop)) {}
    int Start(int recvBuffer, Tally* tally) override {
        int port = 0;
        s = OpenLoopback(&port);
        if (s == support::kNoSocket) return 0;
        kernelBuffer = support::RaiseRecvBuffer(s, recvBuffer);
        const Handler deliver = [tally](char*, int length, unsigned long, int) {
            tally->Deliver(length);
        };
        if (!loop->Start(s, deliver)) {
            support::Close(s);
            return 0;
        }
        return port;
    }
    int KernelBuffer() const override { return kernelBuffer; }
    void Stop() override {
        loop->Stop();
        support::Close(s);
    }

private:
    std::unique_ptr<Loop> loop;
    support::Socket s = support::kNoSocket;
    int kernelBuffer = 0;
};

#if defined(VEKLINK_BENCH_LIBUV)
// --- libuv: uv_udp_recv_start on a loop of its own ---------------------------

class UvReceiver : public Receiver {
public:
    UvReceiver() : buffer(kBufferSize) {}
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
        kernelBuffer = support::RaiseRecvBuffer(static_cast<support::Socket>(fd), recvBuffer);
        uv_udp_recv_start(&udp, Allocate, Received);
        uv_async_init(&loop, &stopper, Stopped);
        stopper.data = this;
        thread = std::thread([this] { uv_run(&loop, UV_RUN_DEFAULT); });
        return support::BoundPort(static_cast<support::Socket>(fd));
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
    static void Received(uv_udp_t* handle, ssize_t n, const uv_buf_t*, const sockaddr* from,
                         unsigned) {
        if (n < 0 || (n == 0 && !from)) return;
        UvReceiver* self = static_cast<UvReceiver*>(handle->data);
        self->tally->Deliver(static_cast<int>(n));
        std::memset(self->buffer.data(), 0, self->buffer.size());
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
// --- Boost.Asio: async_receive_from re-armed from its own handler ------------

class AsioReceiver : public Receiver {
public:
    AsioReceiver() : socket(io), buffer(kBufferSize) {}
    int Start(int recvBuffer, Tally* startTally) override {
        using boost::asio::ip::udp;
        tally = startTally;
        socket.open(udp::v4());
        const support::Socket s = static_cast<support::Socket>(socket.native_handle());
        kernelBuffer = support::RaiseRecvBuffer(s, recvBuffer);
        socket.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
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
                                      std::memset(buffer.data(), 0, buffer.size());
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

template <typename T>
std::function<std::unique_ptr<Receiver>()> Make() {
    return [] { return std::unique_ptr<Receiver>(new T); };
}

std::function<std::unique_ptr<Receiver>()> MakeLoop(std::function<std::unique_ptr<Loop>()> loop) {
    return [loop] { return std::unique_ptr<Receiver>(new LoopReceiver(loop())); };
}

}  // namespace

std::vector<Entry> Receivers(const char* only) {
    const std::vector<Entry> all = {
        {"VekLink CVekListen", Make<ListenerReceiver>()},
        {"A plain blocking recvfrom", MakeLoop([] { return BlockingLoop(false); })},
        {"B recvfrom + 64 KiB clear", MakeLoop([] { return BlockingLoop(true); })},
        {ShapeName(), MakeLoop(ShapeLoop)},
#if defined(VEKLINK_BENCH_LIBUV)
        {"libuv uv_udp_recv_start+clear", Make<UvReceiver>()},
#endif
#if defined(VEKLINK_BENCH_ASIO)
        {"asio async_receive_from+clear", Make<AsioReceiver>()},
#endif
    };
    std::vector<Entry> chosen;
    for (const Entry& entry : all)
        if (chosen.empty() || !only || std::strchr(only, entry.Key())) chosen.push_back(entry);
    return chosen;
}

void NoteMissingReceivers() {
#if defined(VEKLINK_BENCH_LIBUV_MISSING)
    std::printf("(libuv baseline not built: libuv not found at configure time)\n");
#endif
#if defined(VEKLINK_BENCH_ASIO_MISSING)
    std::printf("(Boost.Asio baseline not built: Boost headers not found at configure time)\n");
#endif
}

}  // namespace bench
