#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(VEKLINK_BENCH_CALLGRIND)
#  include <valgrind/callgrind.h>
#endif

namespace bench {

const std::uint32_t kLoopback = support::Ipv4("127.0.0.1");

int RunBenchmark(int argc, char** argv, int (*body)(int argc, char** argv)) {
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    support::StartSockets();
    const int status = body(argc, argv);
    support::StopSockets();
    VekExitInstance();
    return status;
}

support::Socket OpenLoopback(int* port) {
    const support::Socket s = support::OpenUdp(kLoopback, 0);
    if (s != support::kNoSocket) *port = support::BoundPort(s);
    return s;
}

int RaiseRecvBufferOfPort(int port, int bytes) {
    const support::Socket s = support::FindSocketOfPort(port);
    if (s == support::kNoSocket) return 0;
    return bytes > 0 ? support::RaiseRecvBuffer(s, bytes) : support::BufferSize(s, true);
}

int RunListenerOnFreePort(CVekListen& listener, ReceiveCallback callback, void* context,
                          int* nextPort) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = (*nextPort)++;
        if (listener.Run(VEK_MODE_UNICAST, callback, port, kLoopback, 0, context)) return port;
    }
    return 0;
}

void MarkCountWindow(bool begin, const std::string& label) {
#if defined(VEKLINK_BENCH_CALLGRIND)
    if (begin) CALLGRIND_TOGGLE_COLLECT;
#endif
    support::MarkInTrace(std::string("veklink-count ") + (begin ? "begin " : "end ") + label);
#if defined(VEKLINK_BENCH_CALLGRIND)
    // Off before the dump, so that nothing after the window is counted in it.
    if (!begin) {
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_DUMP_STATS_AT(label.c_str());
    }
#endif
}

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
