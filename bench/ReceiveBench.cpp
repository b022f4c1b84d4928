// Receive benchmark: a CVekListen and the baseline receivers take turns on
// 127.0.0.1 in interleaved rounds (each round starts one receiver later), a
// sender thread sending each a bounded number of equal-sized datagrams. For
// each receiver it prints the median over the rounds, with the range, of the
// receive thread's CPU time per delivered datagram (that thread's own CPU
// clock: GetThreadTimes on Windows), the listener's ratio to it per round,
// the loss and the delivery rate.
//
// Modes (--mode):
//   paced    all receivers run at once on one CPU, the sender on another
//            dealing the datagrams out in rotating order, each only once the
//            one before has been taken and its receiver has had --gap-us to
//            get back to its wait: far below any receiver's drain rate, every
//            datagram finds its receiver waiting, and every receiver meets
//            the machine at the same moments. The CPU per datagram of a
//            receiver that keeps up; loss decides nothing.
//   drained  one receiver after the other is held at its first datagram
//            until the whole count sits in its socket buffer (made large
//            enough), then drains it without ever waiting: the pure receive
//            cost.
//   blast    one receiver after the other, the sender sends as fast as it
//            can, bounded by --seconds: what is lost when a receiver cannot
//            keep up. No target.
// The Targets lines compare the listener with B natively (paced and drained)
// and with W under Wine (paced).
//
// Every receiver hands each datagram to the same Tally::Deliver, so the
// bookkeeping costs all of them the same. The CPU clock is read on the
// receive thread at the first delivery and from the main thread once every
// datagram has arrived, or the receiver has gone quiet.
//
// Options: --mode, --count N (datagrams per receiver and round), --rounds R,
// --seconds S (a bound on each round's sending), --gap-us G and --run N
// (paced: datagrams to one receiver before the next), --recv-buffer B (socket
// buffer of every receiver; raised, never lowered), --only LETTERS (first
// letters of the baselines to run besides the listener), --pin 0|1 (drained
// on one CPU, the default).
#include "BaselineLoops.h"
#include "BenchSupport.h"
#include "VekLink.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(VEKLINK_BENCH_LIBUV)
#  include <uv.h>
#endif
#if defined(VEKLINK_BENCH_ASIO)
#  include <boost/asio.hpp>
#endif

using namespace bench;

namespace {

enum class Mode { kPaced, kDrained, kBlast };

struct Settings {
    Mode mode = Mode::kPaced;
    long count = 0;
    int rounds = 0;
    int gapUs = 0;
    long run = 0;
    double seconds = 0;
    int recvBuffer = 0;
};

// What one receiver saw. Written by the receive thread; the count is read by
// the sender and the main thread.
struct Tally {
    int expectedLength = 0;
    bool gated = false;              // hold the first delivery until opened
    int cpu = -1;                    // the CPU to move to at the first delivery
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
                for (int i = 0; i < 20000 && !open.load(); ++i) support::SleepMs(1);
            }
            if (cpu >= 0) PinThread(cpu);
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
    int Start(int recvBuffer, Tally* tally) override {
        static int nextPort = 41000;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int port = nextPort++;
            if (listener.Run(VEK_MODE_UNICAST, OnDatagram, port, kLoopback, 0, tally)) {
                kernelBuffer = RaiseRecvBufferOfPort(port, recvBuffer);
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

// --- A baseline loop on a plain socket ---------------------------------------

class LoopReceiver : public Receiver {
public:
    explicit LoopReceiver(std::unique_ptr<Loop> loop) : loop(std::move(loop)) {}
    int Start(int recvBuffer, Tally* tally) override {
        int port = 0;
        s = OpenLoopback(&port);
        if (s == support::kNoSocket) return 0;
        kernelBuffer = RaiseRecvBuffer(s, recvBuffer);
        if (!loop->Start(s, [tally](char*, int length, unsigned long, int) { tally->Deliver(length); })) {
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
// --- libuv: uv_udp_recv_start on a loop of its own ------------------------------

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
        kernelBuffer = RaiseRecvBuffer(static_cast<support::Socket>(fd), recvBuffer);
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
    int Start(int recvBuffer, Tally* startTally) override {
        using boost::asio::ip::udp;
        tally = startTally;
        socket.open(udp::v4());
        kernelBuffer = RaiseRecvBuffer(static_cast<support::Socket>(socket.native_handle()), recvBuffer);
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

// One receiver of the table: a name (its first letter picks it for --only)
// and a way to make a fresh one for every round.
struct Entry {
    std::string name;
    std::function<std::unique_ptr<Receiver>()> make;
};

template <typename T>
std::function<std::unique_ptr<Receiver>()> Make() {
    return [] { return std::unique_ptr<Receiver>(new T); };
}

std::function<std::unique_ptr<Receiver>()> MakeLoop(std::function<std::unique_ptr<Loop>()> loop) {
    return [loop] { return std::unique_ptr<Receiver>(new LoopReceiver(loop())); };
}

std::vector<Entry> Receivers(const char* only) {
    std::vector<Entry> all = {
        {"VekLink CVekListen", Make<ListenerReceiver>()},
        {"A plain blocking recvfrom", MakeLoop([] { return BlockingLoop(false); })},
        {"B recvfrom + 64 KiB clear", MakeLoop([] { return BlockingLoop(true); })},
#if defined(_WIN32)
        {"W WSAEventSelect + clear", MakeLoop(EventSelectLoop)},
#else
        {"P poll{sock,event}+clear", MakeLoop(PollLoop)},
#endif
#if defined(VEKLINK_BENCH_LIBUV)
        {"libuv uv_udp_recv_start", Make<UvReceiver>()},
#endif
#if defined(VEKLINK_BENCH_ASIO)
        {"asio (Boost) async_receive_from", Make<AsioReceiver>()},
#endif
    };
    std::vector<Entry> chosen;
    for (const Entry& entry : all)
        if (chosen.empty() || !only || std::strchr(only, entry.name[0])) chosen.push_back(entry);
    return chosen;
}

struct Result {
    long sent = 0, delivered = 0;
    double rate = 0;       // datagrams per second delivered
    double cpuNs = 0;      // receive-thread CPU per delivered datagram
    int kernelBuffer = 0;
    bool ok = false;
};

// One receiver during one measurement.
struct Run {
    std::unique_ptr<Receiver> receiver;
    Tally tally;
    int port = 0;
    Result result;

    Run(const Entry& entry, int size, const Settings& settings) : receiver(entry.make()) {
        tally.expectedLength = size;
        tally.gated = settings.mode == Mode::kDrained;
        if (settings.mode == Mode::kPaced) tally.cpu = 0;
        port = receiver->Start(settings.recvBuffer, &tally);
        if (port) result.kernelBuffer = receiver->KernelBuffer();
    }

    // Waits until every datagram sent has arrived or the count has stopped
    // moving (for 200 ms natively, 1 s under Wine, whose receive thread can
    // stall that long behind the wineserver), at most 10 s; then stops the
    // receiver and works out the result.
    void Finish() {
        if (!port) return;
        const int quietMs = support::UnderWine() ? 1000 : 200;
        const double limit = Now() + 10;
        long seen = -1;
        double changed = Now();
        for (long now; (now = tally.count.load(std::memory_order_acquire)) < result.sent && Now() < limit;) {
            if (now != seen) {
                seen = now;
                changed = Now();
            } else if (Now() - changed > quietMs / 1000.0) {
                break;
            }
            support::SleepMs(5);
        }
        // The last delivery's own tail (clear, back to the wait) belongs to it.
        support::SleepMs(support::UnderWine() ? 50 : 10);
        const double lastCpu = tally.started ? CpuSeconds(tally.clock) : 0;
        receiver->Stop();
        ReleaseCpuClock(tally.clock);
        result.delivered = tally.count.load(std::memory_order_acquire);
        if (result.delivered > 1) {
            result.rate = static_cast<double>(result.delivered - 1) / (tally.lastWall - tally.firstWall);
            result.cpuNs = (lastCpu - tally.firstCpu) * 1e9 / static_cast<double>(result.delivered - 1);
            result.ok = true;
        }
    }
};

// Sends count datagrams of size bytes to run's port as fast as it can,
// bounded by seconds.
void Blast(Run& run, int size, const Settings& settings) {
    int ignored;
    const support::Socket s = OpenLoopback(&ignored);
    const std::vector<char> payload(size, 'x');
    const double end = Now() + settings.seconds;
    long& sent = run.result.sent;
    for (; sent < settings.count; ++sent) {
        if ((sent & 1023) == 0 && Now() > end) break;
        if (!support::SendTo(s, payload.data(), payload.size(), kLoopback, run.port)) break;
    }
    support::Close(s);
}

// Drained and blast: the receivers take their turns one after the other.
std::vector<Result> MeasureInTurn(const std::vector<Entry>& receivers, int size, const Settings& settings,
                                  int round) {
    std::vector<Result> results(receivers.size());
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        const std::size_t which = Rotated(i, round, receivers.size());
        Run run(receivers[which], size, settings);
        if (!run.port) continue;
        support::SleepMs(20);
        std::thread sender([&] { Blast(run, size, settings); });
        sender.join();
        if (run.tally.gated) {
            for (int ms = 0; ms < 2000 && !run.tally.holding.load(); ++ms) support::SleepMs(1);
            run.tally.open = true;
        }
        run.Finish();
        results[which] = run.result;
    }
    return results;
}

// Paced: all receivers run at once, and the sender deals the datagrams out
// in rotating order, --run to one receiver, then as many to the next, so
// that every receiver meets the same machine at the same moments, with its
// cache as warm as a stream of its own would keep it. Each datagram goes only
// once the one before has been taken and its receiver has had --gap-us to get
// back to its wait: only one receiver is ever busy, and each datagram finds
// its receiver waiting. One not taken within 200 gaps counts as lost.
//
// The receivers run on CPU 0 (each moves there at its first datagram,
// before its clock is read) and the sender on CPU 1: every datagram wakes a
// receiver waiting on a CPU of its own, as traffic from elsewhere does, and
// the sender's short sleeps never run between a receiver's steps. Measured:
// under Wine, with everything on one CPU, those sleeps (each a yield there)
// ran between the receiver's calls to the wineserver, and the listener's
// ratio to W went from 0.72x to 1.44x with the order of dealing; apart it
// stays within 1.00-1.08x either way. Natively, a wake-up on an idle CPU
// makes a receiver's datagram cost about 10 us (3 us with everything on one
// CPU); the listener's difference to B is 600-900 ns either way, 1.08x B
// apart and 1.25x on one CPU. The drained table holds the receive cost
// without any wake-up.
std::vector<Result> MeasurePaced(const std::vector<Entry>& receivers, int size, const Settings& settings,
                                 int round) {
    std::vector<std::unique_ptr<Run>> runs;
    for (const Entry& entry : receivers) runs.emplace_back(new Run(entry, size, settings));
    support::SleepMs(20);
    std::thread sender([&] {
        PinThread(1);
        int ignored;
        const support::Socket s = OpenLoopback(&ignored);
        const std::vector<char> payload(size, 'x');
        std::vector<long> lost(runs.size(), 0);
        const double end = Now() + settings.seconds;
        for (long k = 0; k < settings.count && Now() < end; k += settings.run)
            for (std::size_t i = 0; i < runs.size(); ++i) {
                const std::size_t which = Rotated(i, round, runs.size());
                Run& run = *runs[which];
                for (long j = k; j < k + settings.run && j < settings.count; ++j) {
                    if (!run.port || !support::SendTo(s, payload.data(), payload.size(), kLoopback, run.port))
                        break;
                    const long expected = ++run.result.sent - lost[which];
                    int waits = 0;
                    while (run.tally.count.load(std::memory_order_acquire) < expected && ++waits < 200)
                        SleepUs(settings.gapUs);
                    if (waits == 200) ++lost[which];
                    SleepUs(settings.gapUs);
                }
            }
        support::Close(s);
    });
    sender.join();
    std::vector<Result> results;
    for (auto& run : runs) {
        run->Finish();
        results.push_back(run->result);
    }
    return results;
}

// Every receiver's result in every round: [receiver][round].
typedef std::vector<std::vector<Result>> Rounds;

Rounds RunRounds(const std::vector<Entry>& receivers, int size, const Settings& settings) {
    Rounds rounds(receivers.size());
    for (int round = 0; round < settings.rounds; ++round) {
        const std::vector<Result> results = settings.mode == Mode::kPaced
                                                ? MeasurePaced(receivers, size, settings, round)
                                                : MeasureInTurn(receivers, size, settings, round);
        for (std::size_t i = 0; i < receivers.size(); ++i) rounds[i].push_back(results[i]);
    }
    return rounds;
}

// Per round, the listener's CPU per datagram over this receiver's.
Spread CpuRatio(const std::vector<Result>& listener, const std::vector<Result>& other) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < listener.size() && r < other.size(); ++r)
        if (listener[r].ok && other[r].ok) ratios.push_back(listener[r].cpuNs / other[r].cpuNs);
    return SpreadOf(ratios);
}

template <typename F>
Spread Over(const std::vector<Result>& results, F figure) {
    std::vector<double> values;
    for (const Result& r : results)
        if (r.ok) values.push_back(figure(r));
    return SpreadOf(values);
}

const char* ModeName(Mode mode) {
    return mode == Mode::kPaced ? "paced, each datagram waited for"
         : mode == Mode::kDrained ? "drained from a full buffer (no waits)"
                                  : "live blast";
}

void PrintTable(int size, const Settings& settings, const std::vector<Entry>& receivers,
                const Rounds& rounds) {
    std::printf("\nReceive, %d-byte datagrams, %s: %ld per receiver in each of %d interleaved rounds, "
                "socket buffer %d requested\n",
                size, ModeName(settings.mode), settings.count, settings.rounds, settings.recvBuffer);
    std::printf("medians of the rounds (min-max)\n");
    std::printf("%-31s %10s %9s %-18s %-22s | %s\n", "receiver", "kbuf", "dgram/s", "loss %",
                "CPU ns/dgram", "listener/this CPU");
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        const std::vector<Result>& results = rounds[i];
        const Spread loss = Over(results, [](const Result& r) {
            return 100.0 * (1.0 - double(r.delivered) / double(r.sent));
        });
        std::printf("%-31s %10d %9.0f %-18s %-22s", receivers[i].name.c_str(),
                    results.empty() ? 0 : results.front().kernelBuffer,
                    Over(results, [](const Result& r) { return r.rate; }).median,
                    Format(loss, "%.1f").c_str(),
                    Format(Over(results, [](const Result& r) { return r.cpuNs; }), "%.0f").c_str());
        if (i > 0) std::printf(" | %s", Format(CpuRatio(rounds[0], results), "%.2f").c_str());
        std::printf("\n");
    }
}

// The Targets line of one table, if it has one.
void AddVerdict(int size, const Settings& settings, const std::vector<Entry>& receivers,
                const Rounds& rounds, std::vector<std::string>& verdicts) {
    if (settings.mode == Mode::kBlast) return;
    const bool wine = support::UnderWine();
    if (wine && settings.mode != Mode::kPaced) return;
    const char floor = wine ? 'W' : 'B';
    const double limit = wine ? 1.25 : 1.15;
    for (std::size_t i = 1; i < receivers.size(); ++i) {
        if (receivers[i].name[0] != floor) continue;
        const Spread ratio = CpuRatio(rounds[0], rounds[i]);
        if (!ratio.known) return;
        char what[120];
        std::snprintf(what, sizeof what, "%s %4d B, %s: listener CPU/dgram vs %c",
                      wine ? "Wine" : "native", size,
                      settings.mode == Mode::kPaced ? "paced" : "drained", floor);
        verdicts.push_back(Verdict(what, ratio, limit));
    }
}

Settings ReadSettings(int argc, char** argv) {
    Settings s;
    const bool wine = support::UnderWine();
    const std::string mode = TextOption(argc, argv, "--mode", "paced");
    s.mode = mode == "drained" ? Mode::kDrained : mode == "blast" ? Mode::kBlast : Mode::kPaced;
    // Under Wine the thread clock moves in 10 ms steps: a paced round there
    // gives each receiver about a third of a second of CPU.
    const long count = s.mode == Mode::kPaced ? (wine ? 10000 : 5000)
                     : s.mode == Mode::kDrained ? (wine ? 5000 : 40000)
                                                : (wine ? 20000 : 50000);
    s.count = Option(argc, argv, "--count", count);
    s.rounds = static_cast<int>(Option(argc, argv, "--rounds", s.mode == Mode::kPaced ? 7
                                                                 : s.mode == Mode::kDrained ? 9 : 3));
    s.gapUs = static_cast<int>(Option(argc, argv, "--gap-us", wine ? 10 : 20));
    s.run = std::max(1L, Option(argc, argv, "--run", 50));
    s.seconds = static_cast<double>(Option(argc, argv, "--seconds", s.mode == Mode::kPaced ? 20 : 2));
    // Drained: room for the whole count (Linux charges 832 bytes of buffer
    // for a queued 64-byte datagram, 2304 for 1400 bytes: 92 MB for 40000).
    s.recvBuffer = static_cast<int>(Option(argc, argv, "--recv-buffer",
                                           s.mode == Mode::kDrained ? 256 << 20 : kSocketBuffer));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = ReadSettings(argc, argv);
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    support::StartSockets();
    const std::vector<Entry> receivers = Receivers(TextOption(argc, argv, "--only", nullptr));
    // Drained, the receivers (one at a time) and everything else run on one
    // CPU: no receiver gets a CPU of its own for a round while another does
    // not. Measured natively, it narrows the rounds' range of the ratio to B
    // from 1.08-1.39x to 1.20-1.26x (64 B). A blast is a race between sender
    // and receiver, left to the scheduler; paced places its threads itself.
    if (Option(argc, argv, "--pin", settings.mode == Mode::kDrained) && !PinToOneCpu())
        std::printf("(could not pin to one CPU)\n");

    std::vector<std::string> verdicts;
    for (int size : {64, 1400}) {
        const Rounds rounds = RunRounds(receivers, size, settings);
        PrintTable(size, settings, receivers, rounds);
        AddVerdict(size, settings, receivers, rounds, verdicts);
    }
#if !defined(_WIN32) && !defined(VEKLINK_BENCH_LIBUV)
    std::printf("(libuv baseline not built: libuv not found at configure time)\n");
#endif
#if !defined(_WIN32) && !defined(VEKLINK_BENCH_ASIO)
    std::printf("(Boost.Asio baseline not built: Boost headers not found at configure time)\n");
#endif
    if (!verdicts.empty()) {
        std::printf("\nTargets (%s):\n", ModeName(settings.mode));
        for (const std::string& v : verdicts) std::printf("  %s\n", v.c_str());
    }
    support::StopSockets();
    VekExitInstance();
    return 0;
}
