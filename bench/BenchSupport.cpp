#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#  include <pthread.h>
#  include <sched.h>
#  include <sys/prctl.h>
#  include <sys/socket.h>
#  include <unistd.h>
#  if defined(VEKLINK_BENCH_CALLGRIND)
#    include <valgrind/callgrind.h>
#  endif
#endif

namespace bench {

const std::uint32_t kLoopback = plain::Ipv4("127.0.0.1");

int RunBenchmark(int argc, char** argv, int (*body)(int argc, char** argv)) {
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    plain::Start();
    const int status = body(argc, argv);
    plain::Stop();
    VekExitInstance();
    return status;
}

namespace {

std::string CountMarkText(bool begin, const std::string& label) {
    return std::string("veklink-count ") + (begin ? "begin " : "end ") + label;
}

}  // namespace

plain::Socket OpenLoopback(int* port) {
    const plain::Socket s = plain::OpenUdp(kLoopback, 0);
    if (s != plain::kNoSocket) *port = plain::BoundPort(s);
    return s;
}

int RaiseRecvBuffer(plain::Socket s, int bytes) {
    if (plain::BufferSize(s, true) < bytes) {
#if defined(SO_RCVBUFFORCE)
        // Past net.core.rmem_max, which the namespace may not let us raise.
        if (setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
#endif
            plain::SetBufferSize(s, true, bytes);
    }
    return plain::BufferSize(s, true);
}

int RaiseRecvBufferOfPort(int port, int bytes) {
#if defined(_WIN32)
    // Socket handles are small multiples of 4.
    for (plain::Socket s = 4; s < 8192; s += 4) {
#else
    for (plain::Socket s = 0; s < 4096; ++s) {
#endif
        if (plain::BoundPort(s) != port) continue;
        return bytes > 0 ? RaiseRecvBuffer(s, bytes) : plain::BufferSize(s, true);
    }
    return 0;
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

void MarkCountWindow(bool begin, const std::string& label) {
    const HANDLE none = OpenEventA(SYNCHRONIZE, FALSE, CountMarkText(begin, label).c_str());
    if (none) CloseHandle(none);
}
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

void MarkCountWindow(bool begin, const std::string& label) {
    const std::string text = CountMarkText(begin, label);
#  if defined(VEKLINK_BENCH_CALLGRIND)
    if (begin) CALLGRIND_TOGGLE_COLLECT;
#  endif
    if (write(-1, text.data(), text.size()) >= 0) std::printf("(descriptor -1 took a write)\n");
#  if defined(VEKLINK_BENCH_CALLGRIND)
    // Off before the dump, so that nothing after the window is counted in it.
    if (!begin) {
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_DUMP_STATS_AT(label.c_str());
    }
#  endif
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

std::string Verdict(const std::string& what, const Spread& value, double limit,
                    const std::string& note, const char* unit) {
    char line[400];
    const bool met = value.median <= limit;
    const bool straddles = value.low <= limit && value.high > limit;
    std::snprintf(line, sizeof line, "%s %.2f%s (rounds %.2f-%.2f%s) (target <= %.2f%s): %s",
                  what.c_str(), value.median, unit, value.low, value.high, note.c_str(), limit,
                  unit,
                  straddles ? "STRADDLED"
                  : met     ? "MET"
                            : "NOT MET");
    return line;
}

std::string CountVerdict(const std::string& what, double value, double limit,
                         const std::string& note, const char* format) {
    char figure[32], bound[32], line[400];
    std::snprintf(figure, sizeof figure, format, value);
    std::snprintf(bound, sizeof bound, format, limit);
    std::snprintf(line, sizeof line, "%s %s (%s = %s): %s", what.c_str(), figure, note.c_str(),
                  bound, value <= limit ? "MET" : "NOT MET");
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
