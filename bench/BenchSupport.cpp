#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#  include <pthread.h>
#  include <sched.h>
#  include <sys/prctl.h>
#endif

namespace bench {

const std::uint32_t kLoopback = support::Ipv4("127.0.0.1");

support::Socket OpenLoopback(int* port) {
    const support::Socket s = support::OpenUdp(kLoopback, 0);
    if (s != support::kNoSocket) *port = support::BoundPort(s);
    return s;
}

int RaiseRecvBuffer(support::Socket s, int bytes) { return support::RaiseRecvBuffer(s, bytes); }

int RaiseRecvBufferOfPort(int port, int bytes) {
    const support::Socket s = support::FindSocketOfPort(port);
    if (s == support::kNoSocket) return 0;
    return bytes > 0 ? RaiseRecvBuffer(s, bytes) : support::BufferSize(s, true);
}

#if defined(_WIN32)
void SleepUs(int microseconds) {
    // NtDelayExecution takes 100 ns units (negative: relative); under Wine it
    // sleeps that long, where Sleep would round up to a millisecond.
    typedef LONG(WINAPI * Delay)(BOOLEAN, const LARGE_INTEGER*);
    typedef void (*AnyFunction)();
    static const Delay delay = reinterpret_cast<Delay>(reinterpret_cast<AnyFunction>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDelayExecution")));
    LARGE_INTEGER interval;
    interval.QuadPart = -10LL * microseconds;
    if (delay)
        delay(FALSE, &interval);
    else
        Sleep(static_cast<DWORD>((microseconds + 999) / 1000));
}

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

bool PinThread(int cpu) { return SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR(1) << cpu) != 0; }
#else
void SleepUs(int microseconds) {
    // Timer slack (50 us by default) would stretch every short sleep.
    static thread_local const bool fine = prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
    (void)fine;
    const timespec interval = {microseconds / 1000000, (microseconds % 1000000) * 1000L};
    nanosleep(&interval, nullptr);
}

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

bool PinThread(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}
#endif

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index =
        static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

Spread SpreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty()) return spread;
    spread.median = Percentile(values, 0.5);
    spread.low = values.front();
    spread.high = values.back();
    spread.known = true;
    return spread;
}

std::string Format(const Spread& spread, const char* format) {
    if (!spread.known) return "-";
    char median[32], low[32], high[32];
    std::snprintf(median, sizeof median, format, spread.median);
    std::snprintf(low, sizeof low, format, spread.low);
    std::snprintf(high, sizeof high, format, spread.high);
    return std::string(median) + " (" + low + "-" + high + ")";
}

std::string Verdict(const std::string& what, const Spread& ratio, double limit,
                    const std::string& note) {
    char line[400];
    const bool met = ratio.median <= limit;
    const bool straddles = ratio.low <= limit && ratio.high > limit;
    std::snprintf(line, sizeof line, "%s %.2fx (rounds %.2f-%.2f%s) (target <= %.2fx%s): %s",
                  what.c_str(), ratio.median, ratio.low, ratio.high, note.c_str(), limit,
                  straddles ? ", the rounds straddle it" : "", met ? "MET" : "NOT MET");
    return line;
}

const char* TextOption(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return fallback;
}

long Option(int argc, char** argv, const char* name, long fallback) {
    const char* text = TextOption(argc, argv, name, nullptr);
    return text ? std::strtol(text, nullptr, 10) : fallback;
}

}  // namespace bench
