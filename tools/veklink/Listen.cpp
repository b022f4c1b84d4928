// veklink listen: a CVekListen whose callback only queues what arrives; the
// main thread prints, counts and decides when to stop.
#include "Cli.h"
#include "Diagnose.h"
#include "Pcap.h"
#include "Seams.h"
#include "Status.h"
#include "Views.h"
#include "support.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
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

// Filled on the receive thread, emptied on the main thread.
struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    bool waiting = false;  // the main thread waits for arrived
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
            inbox->queue.push_back(Delivery{std::chrono::system_clock::now(), source, sourcePort,
                                            length,
                                            std::string(static_cast<const char*>(data), size)});
            kept = true;
        } catch (...) {}
    }
    if (kept)
        inbox->queuedBytes += size;
    else
        ++inbox->dropped;
    // One wake-up per wait: under a flood a notification per datagram would
    // cost the receive thread a system call (under Wine a server request) each.
    if (inbox->waiting) {
        inbox->waiting = false;
        inbox->arrived.notify_one();
    }
}

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

Options ReadOptions(const Arguments& args) {
    const std::vector<std::string>& operands = args.Operands();
    if (operands.empty()) throw UsageError("missing PORT");
    if (operands.size() > 1) throw UsageError("too many operands");
    Options options;
    options.view = ReadView(args);
    options.port = ParsePort(operands[0]);
    if (args.Has("count"))
        options.count = ParseNumber(args.Value("count"), "--count", 1, 1000000000);
    if (args.Has("timeout")) options.timeout = ParseSeconds(args.Value("timeout"), "--timeout");
    if (args.Has("pcap")) {
        options.pcapPath = args.Value("pcap");
        if (options.pcapPath.empty()) throw UsageError("--pcap needs a file name");
    }
    if (args.Has("group")) {
        options.mode = VEK_MODE_MULTICAST;
        options.group = ResolveGroup(args.Value("group"));
    }
    if (args.Has("interface"))
        options.interfaceAddress = ResolveAddress(args.Value("interface"), "interface");
    return options;
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
            if (capture)
                capture->Write(d.time, d.source, d.port, captureDestination, port, d.bytes);
        }
        Print(d, view);
    }

    void EndBatch(const Totals& totals) {
        if (view == View::kQuiet) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            status.Show("received " + Counted(totals.datagrams, "datagram") + ", " +
                        FormatBytes(totals.bytes) + ", " + FormatRate(totals.datagrams, seconds) +
                        ", " + Counted(totals.failures, "receive failure"));
        }
        std::fflush(stdout);
        if (capture) capture->Flush();
    }
};

// Waits for deliveries until a stop, the count or the deadline; returns why
// it ended.
const char* Receive(Inbox& inbox, const Options& options, Sinks& sinks, Totals& totals) {
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeout));
    std::deque<Delivery> batch;
    for (;;) {
        sinks.EndBatch(totals);
        if (support::StopRequested()) return "interrupted";
        if (options.count && totals.datagrams >= options.count) return "--count reached";
        const Clock::time_point now = Clock::now();
        if (options.timeout > 0 && now >= deadline) return "--timeout reached";
        // Short waits keep Ctrl-C, the deadline and the status line responsive.
        Clock::duration wait = std::chrono::milliseconds(100);
        if (options.timeout > 0 && deadline - now < wait) wait = deadline - now;
        {
            std::unique_lock<std::mutex> guard(inbox.lock);
            if (inbox.queue.empty()) {
                inbox.waiting = true;
                inbox.arrived.wait_for(guard, wait, [&] { return !inbox.queue.empty(); });
                inbox.waiting = false;
            }
            batch.swap(inbox.queue);
            inbox.queuedBytes = 0;
        }
        if (batch.empty()) continue;
        for (; !batch.empty() && !(options.count && totals.datagrams >= options.count);
             batch.pop_front())
            sinks.Take(batch.front(), totals);
        batch.clear();
        // Under a flood, taking each datagram as it comes would make the
        // receive thread wait for the lock and wake this thread for nearly
        // every one; a short pause lets the next batch gather instead.
        support::SleepMs(1);
    }
}

// Another program can take a picked port before the listener binds it; each
// time that happens the tool picks again, this many times in all.
const int kPicks = 10;

// Starts the listener and returns its port: the one asked for, or for port
// 0 one that the tool picks, so that it can show which.
int Start(CVekListen& listener, const Options& options, Inbox& inbox) {
    const IPv4Address local = options.interfaceAddress;
    for (int pick = 1;; ++pick) {
        int port = options.port;
        if (options.port == 0) {
            SetupFailure failure;
            port = PickFreePort(local, &failure);
            if (port < 0)
                throw SetupError("could not find a free port on " + support::Dotted(local), failure,
                                 local, 0, options.group, failure.error);
            HoldPickedPort(port);
        }
        if (listener.Run(options.mode, OnDatagram, port, local, options.group, &inbox)) return port;
        const int libraryError = support::LastError();
        const SetupFailure failure = RetrySetup(local, port, options.group);
        if (options.port != 0 || !PortTaken(failure) || pick == kPicks)
            throw SetupError("could not listen on " + support::Endpoint(local, port), failure,
                             local, port, options.group, libraryError);
    }
}

// The closing lines, on report: the totals, why it ended, what was dropped.
void Summarize(std::FILE* report, const Sinks& sinks, const Totals& totals, const Inbox& inbox,
               const char* reason) {
    const double seconds = std::chrono::duration<double>(Clock::now() - sinks.start).count();
    std::fprintf(report, "--- received %s, %s; %s\n",
                 FormatTotals(totals.datagrams, totals.bytes, seconds).c_str(),
                 Counted(totals.failures, "receive failure").c_str(), reason);
    if (inbox.dropped)
        std::fprintf(
            report,
            "--- %lu more datagrams arrived faster than they could be shown and were dropped\n",
            inbox.dropped);
}

}  // namespace

int RunListen(int argc, char** argv) {
    const Arguments args(argc, argv,
                         {{"group", true},
                          {"interface", true},
                          {"count", true},
                          {"timeout", true},
                          {"pcap", true},
                          {"hex", false},
                          {"quiet", false},
                          {"raw", false},
                          {"json", false}});
    if (ShowHelp(args, kHelp)) return kExitOk;
    SocketLayer sockets;  // names are looked up with the socket layer started
    const Options options = ReadOptions(args);
    // Standard output carries only the data with --raw and --json.
    std::FILE* const report =
        options.view == View::kRaw || options.view == View::kJson ? stderr : stdout;
    if (options.view == View::kRaw) support::UseBinaryOutput();
    Sinks sinks{
        options.view, nullptr,     options.group ? options.group : options.interfaceAddress, 0,
        StatusLine(), Clock::now()};
    if (!options.pcapPath.empty()) sinks.capture.reset(new PcapWriter(options.pcapPath));
    support::InstallStopHandler();
    Inbox inbox;
    CVekListen listener;
    sinks.port = Start(listener, options, inbox);
    std::fprintf(report, "listening on %s%s%s\n",
                 support::Endpoint(options.interfaceAddress, sinks.port).c_str(),
                 options.group ? ", group " : "",
                 options.group ? support::Dotted(options.group).c_str() : "");
    std::fflush(report);

    sinks.start = Clock::now();
    Totals totals;
    const char* reason = Receive(inbox, options, sinks, totals);
    // After Stop the receive thread touches nothing of ours, so inbox can go.
    listener.Stop();
    sinks.status.Clear();
    std::fflush(stdout);
    Summarize(report, sinks, totals, inbox, reason);
    std::string failure;
    if (sinks.capture && !sinks.capture->Close(&failure)) throw NetworkError(failure);
    return kExitOk;
}
