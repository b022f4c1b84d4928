// veklink listen: a CVekListen whose callback only queues what arrives; the
// main thread prints, counts and decides when to stop.
#include "Common.h"
#include "Pcap.h"
#include "Platform.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace {

const char kHelp[] =
    "usage: veklink listen [OPTIONS] PORT\n"
    "Prints one line per datagram arriving on PORT: time, source address:port, length\n"
    "and payload (as text, non-printable bytes escaped), then a summary. PORT 0 listens\n"
    "on a free port, which is shown.\n"
    "Ends on Ctrl-C, after --count datagrams or after --timeout seconds.\n"
    "\n"
    "options:\n"
    "  --group G      also receive multicast to group G (224.0.0.0/4; an address or a\n"
    "                 host name)\n"
    "  --interface A  listen on the interface with address A only (Linux, also under\n"
    "                 Wine, then delivers no multicast: leave it out with --group)\n"
    "  --count N      stop after N datagrams\n"
    "  --timeout S    stop after S seconds (decimals allowed)\n"
    "  --pcap FILE    also write what arrives to FILE as a pcap capture (IPv4/UDP\n"
    "                 headers made up: destination --group, else --interface, else\n"
    "                 0.0.0.0) for Wireshark or tcpdump -r\n"
    "payload view, one of:\n"
    "  --hex          payloads as hex bytes\n"
    "  --quiet        only the summary (on a terminal, a live status line)\n"
    "  --raw          payloads only, byte for byte, on standard output\n"
    "  --json         one JSON object per datagram on standard output: time (UTC),\n"
    "                 source, port, length, hex, and text when printable UTF-8\n"
    "With --raw and --json the other lines go to standard error.\n"
    "\n"
    "exit status: 0 ended normally, 2 bad usage, 3 could not listen (port in use...)\n"
    "or could not write the capture\n";

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

enum class View { kText, kHex, kQuiet, kRaw, kJson };

struct Options {
    unsigned long mode = VEK_MODE_UNICAST;
    IPv4Address group = 0;
    IPv4Address interfaceAddress = 0;
    PortNumber port = 0;
    unsigned long count = 0;  // 0: no limit
    double timeout = 0;       // seconds; 0: no limit
    View view = View::kText;
    std::string pcapPath;  // empty: no capture
};

View ReadView(const Arguments& args) {
    const int given = args.Has("hex") + args.Has("quiet") + args.Has("raw") + args.Has("json");
    if (given > 1) throw UsageError("give only one of --hex, --quiet, --raw or --json");
    if (args.Has("hex")) return View::kHex;
    if (args.Has("quiet")) return View::kQuiet;
    if (args.Has("raw")) return View::kRaw;
    return args.Has("json") ? View::kJson : View::kText;
}

Options ReadOptions(const Arguments& args) {
    const std::vector<std::string>& operands = args.Operands();
    if (operands.empty()) throw UsageError("missing PORT");
    if (operands.size() > 1) throw UsageError("too many operands");
    Options options;
    options.view = ReadView(args);
    options.port = ParsePort(operands[0]);
    if (args.Has("count")) options.count = ParseNumber(args.Value("count"), "--count", 1, 1000000000);
    if (args.Has("timeout")) options.timeout = ParseSeconds(args.Value("timeout"), "--timeout");
    if (args.Has("pcap")) {
        options.pcapPath = args.Value("pcap");
        if (options.pcapPath.empty()) throw UsageError("--pcap needs a file name");
    }
    if (args.Has("group")) {
        options.mode = VEK_MODE_MULTICAST;
        options.group = ResolveGroup(args.Value("group"));
    }
    if (args.Has("interface")) options.interfaceAddress = ResolveAddress(args.Value("interface"), "interface");
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

std::string HexDump(const std::string& bytes, const char* separator) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty()) text += separator;
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

// Valid UTF-8 (no overlong forms, surrogates or code points past U+10FFFF)
// with no control characters other than tab and line ends.
bool IsText(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            if ((lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r') || lead == 0x7F) return false;
            ++i;
            continue;
        }
        const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (extra == 0 || lead >= 0xF8 || i + extra >= bytes.size()) return false;
        unsigned long point = lead & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        static const unsigned long kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string JsonLine(const Delivery& d) {
    const std::string time = "{\"time\":" + JsonString(platform::UtcTimestamp(d.time));
    if (d.length < 0) return time + ",\"error\":\"receive failed\"}";
    return time + ",\"source\":" + JsonString(FormatAddress(d.source)) + ",\"port\":" + std::to_string(d.port) +
           ",\"length\":" + std::to_string(d.bytes.size()) + ",\"hex\":\"" + HexDump(d.bytes, "") + "\"" +
           (IsText(d.bytes) ? ",\"text\":" + JsonString(d.bytes) : std::string()) + "}";
}

void Print(const Delivery& d, View view) {
    if (view == View::kQuiet) return;
    if (view == View::kRaw) {
        std::fwrite(d.bytes.data(), 1, d.bytes.size(), stdout);
        return;
    }
    if (view == View::kJson) {
        std::printf("%s\n", JsonLine(d).c_str());
        return;
    }
    const std::string time = platform::TimeOfDay(d.time);
    if (d.length < 0) {
        std::printf("%s  receive failed\n", time.c_str());
        return;
    }
    std::printf("%s  %-21s %-11s %s\n", time.c_str(), FormatEndpoint(d.source, d.port).c_str(),
                FormatBytes(d.bytes.size()).c_str(),
                view == View::kHex ? HexDump(d.bytes, " ").c_str() : Printable(d.bytes).c_str());
}

struct Totals {
    unsigned long datagrams = 0;
    unsigned long failures = 0;
    unsigned long long bytes = 0;
};

// Where each datagram goes besides the totals: the view on standard output,
// the capture file, the live status line.
struct Sinks {
    View view;
    std::unique_ptr<PcapWriter> capture;
    IPv4Address captureDestination;
    int port;
    StatusLine status;
    Clock::time_point start;

    void Take(const Delivery& d, Totals& totals) {
        if (d.length < 0) {
            ++totals.failures;
        } else {
            ++totals.datagrams;
            totals.bytes += d.bytes.size();
            if (capture) capture->Write(d.time, d.source, d.port, captureDestination, port, d.bytes);
        }
        Print(d, view);
    }

    void EndBatch(const Totals& totals) {
        if (view == View::kQuiet) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            status.Show("received " + Counted(totals.datagrams, "datagram") + ", " + FormatBytes(totals.bytes) + ", " +
                        FormatRate(totals.datagrams, seconds) + ", " + Counted(totals.failures, "receive failure"));
        }
        std::fflush(stdout);
        if (capture) capture->Flush();
    }
};

// Waits for deliveries until a stop, the count or the deadline; returns why
// it ended.
const char* Receive(Inbox& inbox, const Options& options, Sinks& sinks, Totals& totals) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeout));
    std::deque<Delivery> batch;
    for (;;) {
        sinks.EndBatch(totals);
        if (platform::StopRequested()) return "interrupted";
        if (options.count && totals.datagrams >= options.count) return "--count reached";
        const Clock::time_point now = Clock::now();
        if (options.timeout > 0 && now >= deadline) return "--timeout reached";
        // Short waits keep Ctrl-C, the deadline and the status line responsive.
        Clock::duration wait = std::chrono::milliseconds(100);
        if (options.timeout > 0 && deadline - now < wait) wait = deadline - now;
        {
            std::unique_lock<std::mutex> guard(inbox.lock);
            inbox.arrived.wait_for(guard, wait, [&] { return !inbox.queue.empty(); });
            batch.swap(inbox.queue);
            inbox.queuedBytes = 0;
        }
        for (; !batch.empty() && !(options.count && totals.datagrams >= options.count); batch.pop_front())
            sinks.Take(batch.front(), totals);
        batch.clear();
    }
}

// With VEKLINK_HOLD_PICKED_PORT naming a file, a picked port is written to
// that file and the listener waits (at most 10 s) until the file is gone:
// the tests take the port in that moment, which no timing could arrange.
void HoldPickedPort(int port) {
    const char* path = std::getenv("VEKLINK_HOLD_PICKED_PORT");
    if (!path || !*path) return;
    const std::string written = std::string(path) + ".new";
    std::FILE* file = std::fopen(written.c_str(), "w");
    if (!file) return;
    std::fprintf(file, "%d\n", port);
    std::fclose(file);
    // Renamed into place, so that a reader never sees half of it.
    if (std::rename(written.c_str(), path) != 0) return;
    for (int polls = 0; polls < 500; ++polls) {
        file = std::fopen(path, "r");
        if (!file) return;
        std::fclose(file);
        platform::SleepUnlessStopped(20);
    }
}

// Another program can take a picked port before the listener binds it; each
// time that happens the tool picks again, this many times in all.
const int kPicks = 10;

// Starts the listener and returns its port: the one asked for, or for port
// 0 one that the tool picks, so that it can show which.
int Start(CVekListen& listener, const Options& options, Inbox& inbox) {
    for (int pick = 1;; ++pick) {
        int port = options.port;
        if (options.port == 0) {
            platform::SetupFailure failure;
            port = platform::PickFreePort(options.interfaceAddress, &failure);
            if (port < 0)
                throw SetupError("could not find a free port on " + FormatAddress(options.interfaceAddress), failure,
                                 options.interfaceAddress, 0, options.group, failure.error);
            HoldPickedPort(port);
        }
        if (listener.Run(options.mode, OnDatagram, port, options.interfaceAddress, options.group, &inbox)) return port;
        const int libraryError = platform::LastError();
        const platform::SetupFailure failure = platform::RetrySetup(options.interfaceAddress, port, options.group);
        const bool taken =
            failure.step == platform::SetupStep::kBind && platform::KindOf(failure.error) == platform::ErrorKind::kInUse;
        if (options.port != 0 || !taken || pick == kPicks)
            throw SetupError("could not listen on " + FormatEndpoint(options.interfaceAddress, port), failure,
                             options.interfaceAddress, port, options.group, libraryError);
    }
}

}  // namespace

int RunListen(int argc, char** argv) {
    const Arguments args(argc, argv,
                         {{"group", true}, {"interface", true}, {"count", true}, {"timeout", true}, {"pcap", true},
                          {"hex", false}, {"quiet", false}, {"raw", false}, {"json", false}});
    if (args.WantsHelp()) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    SocketLayer sockets;  // names are looked up with the socket layer started
    const Options options = ReadOptions(args);
    // Standard output carries only the data with --raw and --json.
    std::FILE* const report = options.view == View::kRaw || options.view == View::kJson ? stderr : stdout;
    if (options.view == View::kRaw) platform::UseBinaryOutput();
    Sinks sinks{options.view, nullptr, options.group ? options.group : options.interfaceAddress, 0, StatusLine(),
                Clock::now()};
    if (!options.pcapPath.empty()) sinks.capture.reset(new PcapWriter(options.pcapPath));
    platform::InstallStopHandler();
    Inbox inbox;
    CVekListen listener;
    sinks.port = Start(listener, options, inbox);
    std::fprintf(report, "listening on %s%s%s\n", FormatEndpoint(options.interfaceAddress, sinks.port).c_str(),
                 options.group ? ", group " : "", options.group ? FormatAddress(options.group).c_str() : "");
    std::fflush(report);

    sinks.start = Clock::now();
    Totals totals;
    const char* reason = Receive(inbox, options, sinks, totals);
    // After Stop the receive thread touches nothing of ours, so inbox can go.
    listener.Stop();
    const double seconds = std::chrono::duration<double>(Clock::now() - sinks.start).count();
    sinks.status.Clear();
    std::fflush(stdout);
    std::fprintf(report, "--- received %s, %s; %s\n", FormatTotals(totals.datagrams, totals.bytes, seconds).c_str(),
                 Counted(totals.failures, "receive failure").c_str(), reason);
    if (inbox.dropped)
        std::fprintf(report, "--- %lu more datagrams arrived faster than they could be shown and were dropped\n",
                     inbox.dropped);
    std::string failure;
    if (sinks.capture && !sinks.capture->Close(&failure)) throw NetworkError(failure);
    return kExitOk;
}
