// The receivers the receive benchmark compares, each on 127.0.0.1: a
// CVekListen, the baseline loops on plain sockets (BaselineLoops.h), and,
// natively where they were found at configure time, libuv and Boost.Asio
// receivers that clear the 64 KiB buffer after every datagram, as the
// listener does. Every receiver hands each datagram to the same
// Tally::Deliver, so the bookkeeping costs all of them the same.
#ifndef VEKLINK_BENCH_RECEIVERS_H
#define VEKLINK_BENCH_RECEIVERS_H

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace bench {

// What one receiver saw. Written by the receive thread; the count is read by
// the sender and the main thread.
struct Tally {
    int expectedLength = 0;
    bool gated = false;  // hold the first delivery until opened
    int cpu = -1;        // the CPU to move to at the first delivery
    // When not empty, the deliveries from the first (once the gate has
    // opened) to number markLast are a counted window of this name.
    std::string markLabel;
    long markLast = 0;
    std::atomic<bool> open{false};
    std::atomic<bool> holding{false};
    std::atomic<long> count{0};
    bool started = false;
    support::CpuClock clock;
    double firstCpu = 0, firstWall = 0, lastWall = 0;

    void Deliver(int length);

private:
    void Begin(double now);
};

class Receiver {
public:
    virtual ~Receiver() {}
    // Starts receiving on 127.0.0.1 with the socket buffer raised to
    // recvBuffer; returns the port, or 0.
    virtual int Start(int recvBuffer, Tally* tally) = 0;
    virtual int KernelBuffer() const = 0;
    virtual void Stop() = 0;
};

// One receiver of the tables: a name, whose first letter is its key (--only
// picks by it, and the count figures are filed under it), and a way to make
// a fresh one for every round.
struct Entry {
    std::string name;
    std::function<std::unique_ptr<Receiver>()> make;
    char Key() const { return name[0]; }
};

// The listener first, then the baselines whose keys are in only (all when
// only is null).
std::vector<Entry> Receivers(const char* only);

// A line for each baseline this build left out, for the foot of a table.
void NoteMissingReceivers();

}  // namespace bench

#endif
