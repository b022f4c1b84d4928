// Plain sockets, clocks and CPU pinning shared by the benchmarks, for both
// targets. Everything here talks to the platform directly, never through
// VekLink, so the baselines measure the platform alone.
#ifndef VEKLINK_BENCH_SUPPORT_H
#define VEKLINK_BENCH_SUPPORT_H

#if defined(_WIN32)
#  include <winsock2.h>
#  include <ws2tcpip.h>
#  include <windows.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/socket.h>
#  include <time.h>
#  include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

#if defined(_WIN32)
typedef SOCKET Sock;
const Sock kNoSock = INVALID_SOCKET;
#else
typedef int Sock;
const Sock kNoSock = -1;
#endif

constexpr int kBufferSize = 65536;          // the listener's receive buffer
constexpr int kSpecSocketBuffer = 65536;    // the socket buffer the listener asks for
const std::uint32_t kLoopback = htonl(0x7f000001);

// Starts the platform's socket layer for the benchmark's own plain sockets.
void StartSockets();
void StopSockets();

// A UDP socket bound to 127.0.0.1:port (0 = any free port); the bound port is
// stored in *boundPort. recvBuffer > 0 sets SO_RCVBUF, sendBuffer > 0 SO_SNDBUF.
Sock OpenUdp(int port, int* boundPort, int recvBuffer = 0, int sendBuffer = 0,
             std::uint32_t address = kLoopback);
void CloseSock(Sock s);
void SetRecvTimeout(Sock s, int milliseconds);
void SetRecvBuffer(Sock s, int bytes);
int RecvBuffer(Sock s);  // as the kernel reports it
int SendTo(Sock s, const void* data, int length, int port, std::uint32_t address = kLoopback);
// Receives into buffer; returns the length or -1, with the source filled in.
int RecvFrom(Sock s, void* buffer, int capacity, std::uint32_t* address, int* port);
// Sets the receive buffer of whatever socket of this process is bound to
// port: the large-buffer runs use it on a listener, whose socket the public
// interface does not show. bytes 0 only reads it. Returns the buffer the
// kernel reports, or 0 when no such socket was found.
int SetRecvBufferOfPort(int port, int bytes);

// Wall clock in seconds.
inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
void SleepMs(int milliseconds);

// One thread's CPU clock: taken on the thread, read from any thread while
// that thread exists.
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

// True under Wine (always false natively).
bool UnderWine();

// Median and percentile of a sample (sorted in place).
double Percentile(std::vector<double>& values, double fraction);

// Command-line option "--name value" as an integer, or fallback.
long Option(int argc, char** argv, const char* name, long fallback);

}  // namespace bench

#endif
