// What the benchmarks need beyond plain sockets (support/support.h, which
// they share with the tests): thread CPU clocks, CPU pinning, fine sleeps for
// pacing, medians of interleaved rounds with their spread, the Targets lines,
// options, and reaching a listener's socket by its port. Nothing here goes
// through VekLink, so the baselines measure the platform alone.
#ifndef VEKLINK_BENCH_SUPPORT_H
#define VEKLINK_BENCH_SUPPORT_H

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <time.h>
#endif

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VekLink.h"
#include "support.h"

namespace bench {

constexpr int kBufferSize = VEK_RECEIVE_BUFFER_SIZE;  // the listener's receive buffer
constexpr int kSocketBuffer = 65536;           // the socket buffers VekLink asks for
extern const std::uint32_t kLoopback;          // 127.0.0.1, network order

// A UDP socket bound to 127.0.0.1 on a port of the platform's choice, stored
// in *port; support::kNoSocket on failure.
support::Socket OpenLoopback(int* port);

// Raises s's receive buffer to bytes, never lowers it (as the listener
// does), natively past the system's maximum where the namespace grants it.
// Returns the buffer the platform reports.
int RaiseRecvBuffer(support::Socket s, int bytes);

// The same for whatever socket of this process is bound to port: the
// listener's socket, which the public interface does not show. bytes 0 only
// reads the buffer. Returns 0 when no such socket was found.
int RaiseRecvBufferOfPort(int port, int bytes);

// Wall clock in seconds.
inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
// A sleep of microseconds, not rounded up to whole milliseconds (Windows'
// Sleep is): what a paced sender waits between datagrams.
void SleepUs(int microseconds);

// One thread's CPU clock: taken on the thread, read from any thread while
// that thread exists. Under Wine it is GetThreadTimes, which moves in 10 ms
// steps: measure spans of a second or so there.
struct CpuClock {
#if defined(_WIN32)
    HANDLE thread = nullptr;
#else
    clockid_t id = 0;
#endif
};
CpuClock CurrentThreadCpuClock();
double CpuSeconds(const CpuClock& clock);
void ReleaseCpuClock(CpuClock& clock);

// Keeps this process on CPU 0 (threads created afterwards inherit it).
bool PinToOneCpu();
// Keeps the calling thread on one CPU; false where there is no such CPU.
bool PinThread(int cpu);

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
inline std::size_t Rotated(std::size_t i, std::size_t round, std::size_t n) { return (i + round) % n; }

// One Targets line: the median ratio of the rounds against limit (at most
// limit is met), the rounds' range and any note beside it, and a warning when
// that range straddles the limit. Ends in "MET" or "NOT MET".
std::string Verdict(const std::string& what, const Spread& ratio, double limit,
                    const std::string& note = "");

// Command-line option "--name value" as text or an integer, or fallback.
const char* TextOption(int argc, char** argv, const char* name, const char* fallback);
long Option(int argc, char** argv, const char* name, long fallback);

}  // namespace bench

#endif
