// Receive loops on plain sockets alone, the floors the listener is measured
// against; the receive and round-trip benchmarks share them. Each runs one
// thread over a socket it does not own and hands every datagram to a handler
// on that thread.
//   BlockingLoop(false)  A: blocking recvfrom, nothing else
//   BlockingLoop(true)   B: recvfrom after clearing the whole 64 KiB buffer,
//                        as the listener clears it for every datagram
//   ShapeLoop            the listener's own shape, support::SocketWait:
//                        W on Windows (wait on {network, stop}, enumerate,
//                        reset), P natively (poll {socket, eventfd}); then
//                        clear and receive one datagram
#ifndef VEKLINK_BENCH_BASELINE_LOOPS_H
#define VEKLINK_BENCH_BASELINE_LOOPS_H

#include <functional>
#include <memory>

#include "support.h"

namespace bench {

// Called on the loop's thread with each datagram and its source.
typedef std::function<void(char* data, int length, unsigned long from, int fromPort)> Handler;

class Loop {
public:
    virtual ~Loop() {}
    // Starts the thread on s; false when it could not.
    virtual bool Start(support::Socket s, Handler handler) = 0;
    // Ends the thread (at once: it is woken, not polled); s stays open.
    virtual void Stop() = 0;
};

std::unique_ptr<Loop> BlockingLoop(bool clear);
// The loop of the listener's own shape on this platform: W on Windows, P
// natively; and its name in the tables, whose first letter is W or P.
std::unique_ptr<Loop> ShapeLoop();
const char* ShapeName();

}  // namespace bench

#endif
