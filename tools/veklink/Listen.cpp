// veklink listen: a CVekListen whose callback only queues what arrives; the
// main thread prints, counts and decides when to stop.
#include "Common.h"
#include "Platform.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace {

const char kHelp[] =
    "usage: veklink listen [OPTIONS] PORT\n"
    "Prints one line per datagram arriving on PORT: time, source address:port, length\n"
    "and payload (as text, non-printable bytes escaped), then a summary.\n"
    "Ends on Ctrl-C, after --count datagrams or after --timeout seconds.\n"
    "\n"
    "options:\n"
    "  --group G      also receive multicast to group G (224.0.0.0/4)\n"
    "  --interface A  listen on the interface with address A only (Linux, also under\n"
    "                 Wine, then delivers no multicast: leave it out with --group)\n"
    "  --count N      stop after N datagrams\n"
    "  --timeout S    stop after S seconds (decimals allowed)\n"
    "  --hex          show payloads as hex bytes\n"
    "  --quiet        print only the summary\n"
    "\n"
    "exit status: 0 ended normally, 2 bad usage, 3 could not listen (port in use...)\n";

using Clock = std::chrono::steady_clock;

struct Delivery {
    std::chrono::system_clock::time_point time;
    IPv4Address source;
    int port;
    int length;  // -1 for a failed receive
    std::string bytes;
};

// Filled on the receive thread, emptied on the main thread.
struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Delivery> queue;
    std::size_t queuedBytes = 0;
    unsigned long dropped = 0;
};

// A flood can outrun a terminal; past this much waiting payload the callback
// drops datagrams rather than let memory grow without bound.
const std::size_t kMaxQueuedBytes = 32u << 20;

// Runs on the listener's receive thread: no printing here, and nothing may
// throw back into the library.
void OnDatagram(void* data, int length, void* context, unsigned long source, int sourcePort) {
    Inbox* inbox = static_cast<Inbox*>(context);
    const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
    std::lock_guard<std::mutex> guard(inbox->lock);
    bool kept = false;
    if (inbox->queuedBytes + size <= kMaxQueuedBytes) {
        try {
            inbox->queue.push_back(Delivery{std::chrono::system_clock::now(), source, sourcePort, length,
                                            std::string(static_cast<const char*>(data), size)});
            kept = true;
        } catch (...) {
        }
    }
    if (kept)
        inbox->queuedBytes += size;
    else
        ++inbox->dropped;
    inbox->arrived.notify_one();
}

struct Options {
    unsigned long mode = VEK_MODE_UNICAST;
    IPv4Address group = 0;
    IPv4Address interfaceAddress = 0;
    PortNumber port = 0;
    unsigned long count = 0;  // 0: no limit
    double timeout = 0;       // seconds; 0: no limit
    bool hex = false;
    bool quiet = false;
};

Options ReadOptions(const Arguments& args) {
    const std::vector<std::string>& operands = args.Operands();
    if (operands.empty()) throw UsageError("missing PORT");
    if (operands.size() > 1) throw UsageError("too many operands");
    if (args.Has("hex") && args.Has("quiet")) throw UsageError("give only one of --hex or --quiet");
    Options options;
    options.port = ParsePort(operands[0]);
    if (args.Has("group")) {
        options.mode = VEK_MODE_MULTICAST;
        options.group = ParseGroup(args.Value("group"));
    }
    if (args.Has("interface")) options.interfaceAddress = ParseAddress(args.Value("interface"), "interface");
    if (args.Has("count")) options.count = ParseNumber(args.Value("count"), "--count", 1, 1000000000);
    if (args.Has("timeout")) options.timeout = ParseSeconds(args.Value("timeout"), "--timeout");
    options.hex = args.Has("hex");
    options.quiet = args.Has("quiet");
    return options;
}

// Text with anything that would break the one-line layout escaped.
std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        char escaped[8];
        if (c == '\\') text += "\\\\";
        else if (c == '\n') text += "\\n";
        else if (c == '\r') text += "\\r";
        else if (c == '\t') text += "\\t";
        else if (c >= 0x20 && c < 0x7F) text += static_cast<char>(c);
        else {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

std::string HexDump(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

void Print(const Delivery& d, const Options& options) {
    const std::string time = platform::TimeOfDay(d.time);
    if (d.length < 0) {
        std::printf("%s  receive failed\n", time.c_str());
        return;
    }
    std::printf("%s  %-21s %-11s %s\n", time.c_str(), FormatEndpoint(d.source, d.port).c_str(),
                FormatBytes(d.bytes.size()).c_str(), options.hex ? HexDump(d.bytes).c_str() : Printable(d.bytes).c_str());
}

struct Totals {
    unsigned long datagrams = 0;
    unsigned long failures = 0;
    unsigned long long bytes = 0;
};

// Waits for deliveries until a stop, the count or the deadline; returns why
// it ended.
const char* Receive(Inbox& inbox, const Options& options, Totals& totals) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeout));
    std::deque<Delivery> batch;
    for (;;) {
        if (platform::StopRequested()) return "interrupted";
        if (options.count && totals.datagrams >= options.count) return "--count reached";
        const Clock::time_point now = Clock::now();
        if (options.timeout > 0 && now >= deadline) return "--timeout reached";
        // Short waits keep Ctrl-C and the deadline responsive.
        Clock::duration wait = std::chrono::milliseconds(100);
        if (options.timeout > 0 && deadline - now < wait) wait = deadline - now;
        {
            std::unique_lock<std::mutex> guard(inbox.lock);
            inbox.arrived.wait_for(guard, wait, [&] { return !inbox.queue.empty(); });
            batch.swap(inbox.queue);
            inbox.queuedBytes = 0;
        }
        for (; !batch.empty() && !(options.count && totals.datagrams >= options.count); batch.pop_front()) {
            const Delivery& d = batch.front();
            if (d.length < 0) {
                ++totals.failures;
            } else {
                ++totals.datagrams;
                totals.bytes += d.bytes.size();
            }
            if (!options.quiet) Print(d, options);
        }
        batch.clear();
        std::fflush(stdout);
    }
}

}  // namespace

int RunListen(int argc, char** argv) {
    const Arguments args(argc, argv,
                         {{"group", true}, {"interface", true}, {"count", true}, {"timeout", true},
                          {"hex", false}, {"quiet", false}});
    if (args.WantsHelp()) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    const Options options = ReadOptions(args);
    platform::InstallStopHandler();
    SocketLayer sockets;
    Inbox inbox;
    CVekListen listener;
    if (!listener.Run(options.mode, OnDatagram, options.port, options.interfaceAddress, options.group, &inbox))
        throw NetworkError("could not listen on port " + std::to_string(options.port) +
                           " (in use, or no such interface?)" + platform::LastErrorText());
    std::printf("listening on %s%s%s\n", FormatEndpoint(options.interfaceAddress, options.port).c_str(),
                options.group ? ", group " : "", options.group ? FormatAddress(options.group).c_str() : "");
    std::fflush(stdout);

    const Clock::time_point start = Clock::now();
    Totals totals;
    const char* reason = Receive(inbox, options, totals);
    // After Stop the receive thread touches nothing of ours, so inbox can go.
    listener.Stop();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("--- received %s, %lu receive failure%s; %s\n", FormatTotals(totals.datagrams, totals.bytes, seconds).c_str(),
                totals.failures, totals.failures == 1 ? "" : "s", reason);
    if (inbox.dropped)
        std::printf("--- %lu more datagrams arrived faster than they could be shown and were dropped\n",
                    inbox.dropped);
    return kExitOk;
}
