// What the benchmarks need beyond the support layer (support.h, whose calls
// they make for every operating-system service): the start-up bracket of
// every benchmark, a listener on a free port, the marks of a counted window,
// medians of interleaved rounds with their spread, the Targets lines,
// options, and reaching a listener's socket by its port. Apart from the
// bracket and the listener nothing here goes through VekLink, so the
// baselines measure the platform alone.
#ifndef VEKLINK_BENCH_SUPPORT_H
#define VEKLINK_BENCH_SUPPORT_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VekLink.h"
#include "support.h"

namespace bench {

// Runs body(argc, argv) between VekInitInstance with the plain socket layer's
// start and their ends; its result, or 1 when VekInitInstance fails.
int RunBenchmark(int argc, char** argv, int (*body)(int argc, char** argv));

constexpr int kBufferSize = VEK_RECEIVE_BUFFER_SIZE;  // the listener's receive buffer
constexpr int kSocketBuffer = 65536;                  // the socket buffers VekLink asks for
extern const std::uint32_t kLoopback;                 // 127.0.0.1, network order

// A UDP socket bound to 127.0.0.1 on a port of the platform's choice, stored
// in *port; support::kNoSocket on failure.
support::Socket OpenLoopback(int* port);

// Raises the receive buffer of whatever socket of this process is bound to
// port (support::RaiseRecvBuffer): the listener's socket, which the public
// interface does not show. bytes 0 only reads the buffer. Returns 0 when no
// such socket was found.
int RaiseRecvBufferOfPort(int port, int bytes);

// Wall clock in seconds.
inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
// Runs listener on 127.0.0.1 with callback and context on the first port
// from *nextPort on that it can bind (at most 100 tried), and moves *nextPort
// past it; the port, or 0.
int RunListenerOnFreePort(CVekListen& listener, ReceiveCallback callback, void* context,
                          int* nextPort);

// Marks where a counted window begins (begin true) or ends on the calling
// thread, for the counting tools scripts/bench runs a benchmark under; label
// names the window. The traces (strace, the wineserver's) show the text
// "veklink-count begin LABEL" (or end) through support::MarkInTrace; under
// callgrind the thread's instruction count is switched on at the beginning,
// and at the end switched off and written out as LABEL. A mark costs one
// failing system call natively, one server request under Wine.
void MarkCountWindow(bool begin, const std::string& label);

// A percentile of a sample (sorted in place).
double Percentile(std::vector<double>& values, double fraction);

// The median of one figure over the rounds, and its range.
struct Spread {
    double median = 0, low = 0, high = 0;
    bool known = false;
};
Spread SpreadOf(std::vector<double> values);
std::string Format(const Spread& spread, const char* format);  // "m (lo-hi)"

// Which of n cases runs at position i of round r: each round starts one
// case later, so no case always runs first or right after the same one.
inline std::size_t Rotated(std::size_t i, std::size_t round, std::size_t n) {
    return (i + round) % n;
}

// One Targets line on a timing: the median of the rounds against limit (at
// most limit is met), the rounds' range and any note beside it, in unit ("x"
// for ratios). Ends in "MET" or "NOT MET", or in "STRADDLED" when the rounds'
// range straddles the limit: such a timing decides nothing.
std::string Verdict(const std::string& what, const Spread& value, double limit,
                    const std::string& note = "", const char* unit = "x");

// One Targets line on a count, which no load moves: value against limit
// (both printed with format), the note saying how the limit was set. Ends in
// "MET" or "NOT MET".
std::string CountVerdict(const std::string& what, double value, double limit,
                         const std::string& note, const char* format);

// Command-line option "--name value" as text or an integer, or fallback.
const char* TextOption(int argc, char** argv, const char* name, const char* fallback);
long Option(int argc, char** argv, const char* name, long fallback);

}  // namespace bench

#endif
