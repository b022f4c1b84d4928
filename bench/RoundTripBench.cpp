// Round-trip benchmark: 64-byte ping-pong on 127.0.0.1 with the whole process
// pinned to one CPU, so every round trip is two wake-ups on that CPU.
//   plain <-> plain        two plain blocking sockets, one echoing on a thread
//   plain -> W/P echo      the echo is a loop of the listener's own shape
//                          without the library: WSAEventSelect on Windows,
//                          poll on {socket, eventfd} natively; both clear
//                          the 64 KiB buffer before each receive
//   plain -> CVekListen    the echo is sent from inside the listener's callback
//                          with a CVekSend, back to the plain socket
//   W/P <-> W/P            both ends are such loops, each sending the next
//                          datagram from its handler
//   CVekListen <-> CVekListen
//                          both ends are a listener whose callback sends the
//                          next datagram with a CVekSend
// Every case is set up once; then, in each round, the cases take turns in
// short bursts (each burst starting with the next case), so a change in the
// machine's load lands on all of them alike. The table gives, over the
// rounds, the median of each round's median round trip with the range, the
// median 99th percentile, and the median of the per-round ratios to
// plain <-> plain and to the loop case of the same shape. The targets judge
// the listener's cases against plain <-> plain natively, and under Wine
// against the W case: the floor there, where every Winsock call is a trip
// to the Wine server and the listener's loop makes four per datagram.
// Options: --rounds R, --bursts B (per case and round), --burst N (round
// trips), --seconds S (no round starts after S).
#include "BaselineLoops.h"
#include "BenchSupport.h"
#include "VekLink.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr int kSize = 64;
constexpr double kStallSeconds = 0.2;  // a burst waits this long for a lost datagram

typedef std::vector<double> Samples;  // round trips in seconds

// One case, set up for the whole run: each Burst adds n round trips (fewer
// if datagrams were lost) to samples.
class Case {
public:
    virtual ~Case() {}
    virtual bool Ready() const = 0;
    virtual void Burst(long n, Samples& samples) = 0;
};

// --- A plain blocking client against an echo ----------------------------------

class PlainClient {
public:
    PlainClient() : s(OpenLoopback(&port)) {
        support::SetRecvTimeout(s, static_cast<int>(kStallSeconds * 1000));
    }
    ~PlainClient() { support::Close(s); }
    void Burst(int echoPort, long n, Samples& samples) {
        char payload[kSize] = {1}, reply[kBufferSize];
        for (long i = 0; i < n; ++i) {
            const double start = Now();
            if (!support::SendTo(s, payload, kSize, kLoopback, echoPort)) return;
            if (support::RecvFrom(s, reply, sizeof reply, nullptr, nullptr) == kSize)
                samples.push_back(Now() - start);
        }
    }

private:
    int port = 0;
    support::Socket s;
};

// A baseline loop that sends every datagram back to its source.
class PlainToLoop : public Case {
public:
    explicit PlainToLoop(std::unique_ptr<Loop> echoLoop)
        : loop(std::move(echoLoop)), echo(OpenLoopback(&port)) {
        const support::Socket s = echo;
        running = loop->Start(s, [s](char* data, int n, unsigned long from, int fromPort) {
            support::SendTo(s, data, n, from, fromPort);
        });
    }
    ~PlainToLoop() override {
        if (running) loop->Stop();
        support::Close(echo);
    }
    bool Ready() const override { return running; }
    void Burst(long n, Samples& samples) override { client.Burst(port, n, samples); }

private:
    std::unique_ptr<Loop> loop;
    int port = 0;
    support::Socket echo;
    bool running = false;
    PlainClient client;
};

// A listener that echoes every datagram with its own sender: to replyPort,
// or back to the source port when replyPort is 0.
struct Echo {
    CVekSend sender;
    int replyPort = 0;
};

void OnEcho(void* data, int length, void* context, unsigned long sourceAddress, int sourcePort) {
    Echo* echo = static_cast<Echo*>(context);
    echo->sender.Send(data, static_cast<unsigned long>(length),
                      echo->replyPort ? echo->replyPort : sourcePort, sourceAddress);
}

int RunListener(CVekListen& listener, ReceiveCallback callback, void* context) {
    static int nextPort = 43000;
    return RunListenerOnFreePort(listener, callback, context, &nextPort);
}

class PlainToListener : public Case {
public:
    PlainToListener() {
        if (echo.sender.InitInstance(VEK_MODE_UNICAST, 0, 0))
            port = RunListener(listener, OnEcho, &echo);
    }
    bool Ready() const override { return port != 0; }
    void Burst(long n, Samples& samples) override { client.Burst(port, n, samples); }

private:
    Echo echo;
    CVekListen listener;
    int port = 0;
    PlainClient client;
};

// --- Pairs: the two ends drive the exchange themselves ------------------------

// The originating end of a pair: each arrival is one sample and sends the
// next ping until the burst's quota is reached. Only the last arrival of a
// burst takes the lock, to wake the waiting burst.
class Pinger {
public:
    std::function<void(char* data, int length)> sendNext;

    void Arrived(char* data, int length) {
        const double now = Now();
        const long i = done.load(std::memory_order_relaxed);
        if (i >= quota.load(std::memory_order_acquire)) return;
        rtt[i] = now - sentAt.load(std::memory_order_relaxed);
        done.store(i + 1, std::memory_order_release);
        if (i + 1 < quota.load(std::memory_order_relaxed)) {
            sentAt.store(Now(), std::memory_order_relaxed);
            sendNext(data, length);
        } else {
            std::lock_guard<std::mutex> lock(mutex);
            over.notify_one();
        }
    }

    // Kicks off n round trips and waits for them; a lost datagram ends the
    // burst after kStallSeconds without progress.
    void Burst(long n, Samples& samples, const std::function<void()>& kick) {
        rtt.resize(static_cast<std::size_t>(n));
        done.store(0);
        quota.store(n);
        sentAt.store(Now());
        kick();
        std::unique_lock<std::mutex> lock(mutex);
        for (long seen = -1; done.load() < n && done.load() != seen;) {
            seen = done.load();
            over.wait_for(lock, std::chrono::duration<double>(kStallSeconds),
                          [&] { return done.load() >= n; });
        }
        quota.store(0);
        samples.insert(samples.end(), rtt.begin(), rtt.begin() + done.load());
    }

private:
    std::mutex mutex;
    std::condition_variable over;
    Samples rtt;
    std::atomic<long> done{0}, quota{0};
    std::atomic<double> sentAt{0};
};

void OnPong(void* data, int length, void* context, unsigned long, int) {
    static_cast<Pinger*>(context)->Arrived(static_cast<char*>(data), length);
}

class ListenerPair : public Case {
public:
    ListenerPair() {
        if (!echo.sender.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
            !pingSender.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
            !kicker.InitInstance(VEK_MODE_UNICAST, 0, 0) ||
            !(echoPort = RunListener(echoEnd, OnEcho, &echo)) ||
            !(echo.replyPort = RunListener(pingEnd, OnPong, &pinger)))
            return;
        pinger.sendNext = [this](char* data, int length) {
            pingSender.Send(data, static_cast<unsigned long>(length), echoPort, kLoopback);
        };
        ready = true;
    }
    ~ListenerPair() override {
        echoEnd.Stop();
        pingEnd.Stop();
    }
    bool Ready() const override { return ready; }
    void Burst(long n, Samples& samples) override {
        char payload[kSize] = {1};
        pinger.Burst(n, samples, [&] { kicker.Send(payload, kSize, echoPort, kLoopback); });
    }

private:
    Echo echo;
    Pinger pinger;
    CVekSend pingSender, kicker;
    CVekListen echoEnd, pingEnd;
    int echoPort = 0;
    bool ready = false;
};

// Two baseline loops, each sending from the socket it receives on.
class LoopPair : public Case {
public:
    explicit LoopPair(const std::function<std::unique_ptr<Loop>()>& make)
        : echoEnd(make()), pingEnd(make()), echo(OpenLoopback(&echoPort)),
          ping(OpenLoopback(&pingPort)) {
        const support::Socket e = echo, p = ping;
        const int to = echoPort;
        pinger.sendNext = [p, to](char* data, int length) {
            support::SendTo(p, data, length, kLoopback, to);
        };
        echoRunning = echoEnd->Start(e, [e](char* data, int n, unsigned long from, int fromPort) {
            support::SendTo(e, data, n, from, fromPort);
        });
        pingRunning = pingEnd->Start(
            p, [this](char* data, int n, unsigned long, int) { pinger.Arrived(data, n); });
    }
    ~LoopPair() override {
        if (pingRunning) pingEnd->Stop();
        if (echoRunning) echoEnd->Stop();
        support::Close(echo);
        support::Close(ping);
    }
    bool Ready() const override { return echoRunning && pingRunning; }
    void Burst(long n, Samples& samples) override {
        char payload[kSize] = {1};
        pinger.Burst(n, samples,
                     [&] { support::SendTo(ping, payload, kSize, kLoopback, echoPort); });
    }

private:
    Pinger pinger;
    std::unique_ptr<Loop> echoEnd, pingEnd;
    int echoPort = 0, pingPort = 0;
    support::Socket echo, ping;
    bool echoRunning = false, pingRunning = false;
};

// --- Rounds --------------------------------------------------------------------

struct Row {
    std::string name;
    std::unique_ptr<Case> c;
    int shape;  // the listener's rows: index of the loop row of the same shape; else -1
    std::vector<double> medians, p99s;  // microseconds, per round
};

// Rounds end early once seconds have passed (lost datagrams stall bursts).
void RunRounds(std::vector<Row>& rows, int rounds, int bursts, long burst, double seconds) {
    const std::size_t n = rows.size();
    const double end = Now() + seconds;
    std::vector<Samples> samples(n);
    for (Row& row : rows) row.c->Burst(burst, samples[0]);  // warm-up, not counted
    for (int round = 0; round < rounds && Now() < end; ++round) {
        for (Samples& s : samples) s.clear();
        for (int b = 0; b < bursts; ++b)
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t which =
                    Rotated(i, static_cast<std::size_t>(round * bursts + b), n);
                rows[which].c->Burst(burst, samples[which]);
            }
        for (std::size_t i = 0; i < n; ++i) {
            if (samples[i].empty()) continue;
            rows[i].medians.push_back(Percentile(samples[i], 0.5) * 1e6);
            rows[i].p99s.push_back(Percentile(samples[i], 0.99) * 1e6);
        }
    }
}

// Per round, a's median over b's.
Spread Ratio(const Row& a, const Row& b) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < a.medians.size() && r < b.medians.size(); ++r)
        ratios.push_back(a.medians[r] / b.medians[r]);
    return SpreadOf(ratios);
}

// The cases, each set up once; false when one could not be.
bool SetUpRows(std::vector<Row>& rows) {
    const std::string shape(1, ShapeName()[0]);
    rows.push_back({"plain <-> plain",
                    std::unique_ptr<Case>(new PlainToLoop(BlockingLoop(false))),
                    -1,
                    {},
                    {}});
    rows.push_back({"plain -> " + shape + " echo",
                    std::unique_ptr<Case>(new PlainToLoop(ShapeLoop())),
                    -1,
                    {},
                    {}});
    rows.push_back(
        {"plain -> CVekListen echo", std::unique_ptr<Case>(new PlainToListener), 1, {}, {}});
    rows.push_back(
        {shape + " <-> " + shape, std::unique_ptr<Case>(new LoopPair(ShapeLoop)), -1, {}, {}});
    rows.push_back(
        {"CVekListen <-> CVekListen", std::unique_ptr<Case>(new ListenerPair), 3, {}, {}});
    for (const Row& row : rows)
        if (!row.c->Ready()) {
            std::printf("%s: could not set up\n", row.name.c_str());
            return false;
        }
    return true;
}

void PrintTable(const std::vector<Row>& rows, bool pinned, int rounds, int bursts, long burst) {
    const std::string shape(1, ShapeName()[0]);
    std::printf(
        "\nRound trip, %d-byte datagrams, %s: %d interleaved rounds, each %d bursts of %ld "
        "round trips per case\n",
        kSize, pinned ? "whole process pinned to CPU 0" : "NOT pinned (affinity refused)", rounds,
        bursts, burst);
    std::printf("medians of the rounds (min-max)\n");
    std::printf("%-27s %-24s %9s | %-20s | %s\n", "case", "median us", "p99 us",
                "vs plain <-> plain", ("vs " + shape + " of the same shape").c_str());
    for (const Row& row : rows) {
        std::printf("%-27s %-24s %9.1f", row.name.c_str(),
                    Format(SpreadOf(row.medians), "%.2f").c_str(), SpreadOf(row.p99s).median);
        if (&row != &rows[0]) std::printf(" | %-20s", Format(Ratio(row, rows[0]), "%.2f").c_str());
        if (row.shape >= 0)
            std::printf(" | %s", Format(Ratio(row, rows[row.shape]), "%.2f").c_str());
        std::printf("\n");
    }
}

// The listener's rows natively against plain <-> plain, under Wine against
// the loop of the same shape (the floor there), with the other beside.
void PrintTargets(const std::vector<Row>& rows) {
    const bool wine = support::UnderWine();
    std::printf("\nTargets:\n");
    for (const Row& row : rows) {
        if (row.shape < 0) continue;
        const Row& floor = wine ? rows[row.shape] : rows[0];
        const Row& other = wine ? rows[0] : rows[row.shape];
        if (row.medians.empty() || floor.medians.empty()) continue;
        char beside[64];
        std::snprintf(beside, sizeof beside, "; %.2fx %s", Ratio(row, other).median,
                      other.name.c_str());
        std::printf("  %s\n", Verdict(std::string(wine ? "Wine" : "native") + " round trip, " +
                                          row.name + ": median vs " + floor.name,
                                      Ratio(row, floor), 1.3, beside)
                                  .c_str());
    }
}

int Measure(int argc, char** argv) {
    const bool wine = support::UnderWine();
    const int rounds = static_cast<int>(Option(argc, argv, "--rounds", 9));
    const int bursts = static_cast<int>(Option(argc, argv, "--bursts", wine ? 15 : 40));
    const long burst = Option(argc, argv, "--burst", wine ? 20 : 100);
    const bool pinned = support::PinToOneCpu();
    std::vector<Row> rows;
    if (!SetUpRows(rows)) return 1;
    RunRounds(rows, rounds, bursts, burst,
              static_cast<double>(Option(argc, argv, "--seconds", 120)));
    PrintTable(rows, pinned, rounds, bursts, burst);
    PrintTargets(rows);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return RunBenchmark(argc, argv, Measure); }
