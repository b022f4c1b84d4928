#include "BenchSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#if !defined(_WIN32)
#  include <pthread.h>
#  include <sched.h>
#endif

namespace bench {

#if defined(_WIN32)
typedef int AddressLength;
void StartSockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}
void StopSockets() { WSACleanup(); }
void CloseSock(Sock s) { closesocket(s); }
void SetRecvTimeout(Sock s, int milliseconds) {
    DWORD limit = static_cast<DWORD>(milliseconds);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}
#else
typedef socklen_t AddressLength;
void StartSockets() {}
void StopSockets() {}
void CloseSock(Sock s) { close(s); }
void SetRecvTimeout(Sock s, int milliseconds) {
    timeval limit = {milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}
#endif

namespace {
sockaddr_in Address(std::uint32_t address, int port) {
    sockaddr_in result;
    std::memset(&result, 0, sizeof result);
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<unsigned short>(port));
    result.sin_addr.s_addr = address;
    return result;
}

int BoundPort(Sock s) {
    sockaddr_in bound;
    AddressLength length = sizeof bound;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
        bound.sin_family != AF_INET)
        return -1;
    return ntohs(bound.sin_port);
}
}  // namespace

void SetRecvBuffer(Sock s, int bytes) {
#if defined(SO_RCVBUFFORCE)
    // Past the system's maximum where the namespace grants it.
    if (setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return;
#endif
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

int RecvBuffer(Sock s) {
    int bytes = 0;
    AddressLength length = sizeof bytes;
    getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &length);
    return bytes;
}

Sock OpenUdp(int port, int* boundPort, int recvBuffer, int sendBuffer, std::uint32_t address) {
    Sock s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == kNoSock) return kNoSock;
    if (recvBuffer > 0) SetRecvBuffer(s, recvBuffer);
    if (sendBuffer > 0)
        setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                   sizeof sendBuffer);
    const sockaddr_in local = Address(address, port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        CloseSock(s);
        return kNoSock;
    }
    if (boundPort) *boundPort = BoundPort(s);
    return s;
}

int SendTo(Sock s, const void* data, int length, int port, std::uint32_t address) {
    const sockaddr_in to = Address(address, port);
    return static_cast<int>(sendto(s, static_cast<const char*>(data), length, 0,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

int RecvFrom(Sock s, void* buffer, int capacity, std::uint32_t* address, int* port) {
    sockaddr_in from;
    AddressLength length = sizeof from;
    const int received = static_cast<int>(recvfrom(s, static_cast<char*>(buffer), capacity, 0,
                                                   reinterpret_cast<sockaddr*>(&from), &length));
    if (received >= 0) {
        *address = from.sin_addr.s_addr;
        *port = ntohs(from.sin_port);
    }
    return received;
}

int SetRecvBufferOfPort(int port, int bytes) {
#if defined(_WIN32)
    // Socket handles are small multiples of 4.
    for (std::uintptr_t value = 4; value < 8192; value += 4) {
        const Sock s = static_cast<Sock>(value);
#else
    for (int s = 0; s < 4096; ++s) {
#endif
        sockaddr_in bound;
        AddressLength length = sizeof bound;
        if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) != 0) continue;
        if (bound.sin_family != AF_INET || ntohs(bound.sin_port) != port) continue;
        if (bytes > 0) SetRecvBuffer(s, bytes);
        return RecvBuffer(s);
    }
    return 0;
}

void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

#if defined(_WIN32)
CpuClock CurrentThreadCpuClock() {
    CpuClock clock;
    clock.thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    return clock;
}

double CpuSeconds(const CpuClock& clock) {
    FILETIME created, exited, kernel, user;
    if (!clock.thread || !GetThreadTimes(clock.thread, &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 100e-9;
}

void ReleaseCpuClock(CpuClock& clock) {
    if (clock.thread) CloseHandle(clock.thread);
    clock.thread = nullptr;
}

bool PinToOneCpu() { return SetProcessAffinityMask(GetCurrentProcess(), 1) != 0; }

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
CpuClock CurrentThreadCpuClock() {
    CpuClock clock;
    pthread_getcpuclockid(pthread_self(), &clock.id);
    return clock;
}

double CpuSeconds(const CpuClock& clock) {
    timespec t;
    if (clock_gettime(clock.id, &t) != 0) return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void ReleaseCpuClock(CpuClock&) {}

bool PinToOneCpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

bool UnderWine() { return false; }
#endif

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

long Option(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
    return fallback;
}

}  // namespace bench
