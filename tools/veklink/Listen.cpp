// veklink listen: a CVekListen whose callback only queues what arrives; the
// main thread prints, counts and decides when to stop.
#include "Cli.h"
#include "Commands.h"
#include "Diagnose.h"
#include "Inbox.h"
#include "Pcap.h"
#include "Status.h"
#include "Views.h"
#include "support.h"

#include <chrono>
#include <cstdio>
#include <memory>
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

struct Totals {
    unsigned long datagrams = 0;
    unsigned long failures = 0;
    unsigned long long bytes = 0;
};

// Where each datagram goes besides the totals: the view on standard output,
// the capture file, the live status line.
struct Sinks : DeliverySink {
    Sinks(View view, IPv4Address captureDestination)
        : view(view), captureDestination(captureDestination) {}

    bool Take(const Delivery& d) override {
        if (d.length < 0) {
            ++totals.failures;
        } else {
            ++totals.datagrams;
            totals.bytes += d.bytes.size();
            if (capture)
                capture->Write(d.time, d.source, d.port, captureDestination, port, d.bytes);
        }
        Print(d, view);
        return d.length >= 0;
    }

    void EndBatch() override {
        if (view == View::kQuiet) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            status.Show("received " + Counted(totals.datagrams, "datagram") + ", " +
                        FormatBytes(totals.bytes) + ", " + FormatRate(totals.datagrams, seconds) +
                        ", " + Counted(totals.failures, "receive failure"));
        }
        std::fflush(stdout);
        if (capture) capture->Flush();
    }

    const View view;
    const IPv4Address captureDestination;
    std::unique_ptr<PcapWriter> capture;
    int port = 0;
    StatusLine status;
    Clock::time_point start = Clock::now();
    Totals totals;
};

// The closing lines, on report: the totals, why it ended, what was dropped.
void Summarize(std::FILE* report, const Sinks& sinks, unsigned long dropped, const char* reason) {
    const Totals& totals = sinks.totals;
    const double seconds = std::chrono::duration<double>(Clock::now() - sinks.start).count();
    std::fprintf(report, "--- received %s, %s; %s\n",
                 FormatTotals(totals.datagrams, totals.bytes, seconds).c_str(),
                 Counted(totals.failures, "receive failure").c_str(), reason);
    if (dropped)
        std::fprintf(
            report,
            "--- %lu more datagrams arrived faster than they could be shown and were dropped\n",
            dropped);
}

}  // namespace

const OptionTable kListenOptions = {{"group", true},   {"interface", true}, {"count", true},
                                    {"timeout", true}, {"pcap", true},      {"hex", false},
                                    {"quiet", false},  {"raw", false},      {"json", false}};

ListenPlan ReadListenPlan(const Arguments& args) {
    ListenPlan plan;
    static_cast<ListenSpec&>(plan) = ReadListenSpec(args);
    plan.view = ReadView(args);
    if (args.Has("pcap")) {
        plan.pcapPath = args.Value("pcap");
        if (plan.pcapPath.empty()) throw UsageError("--pcap needs a file name");
    }
    return plan;
}

int RunListen(int argc, char** argv) {
    const Arguments args(argc, argv, kListenOptions);
    if (ShowHelp(args, kHelp)) return kExitOk;
    SocketLayer sockets;  // names are looked up with the socket layer started
    const ListenPlan options = ReadListenPlan(args);
    // Standard output carries only the data with --raw and --json.
    std::FILE* const report =
        options.view == View::kRaw || options.view == View::kJson ? stderr : stdout;
    if (options.view == View::kRaw) support::UseBinaryOutput();
    Sinks sinks(options.view, options.group ? options.group : options.interfaceAddress);
    if (!options.pcapPath.empty()) sinks.capture.reset(new PcapWriter(options.pcapPath));
    support::InstallStopHandler();
    Inbox& inbox = KeptToTheEnd<Inbox>();
    CVekListen listener;
    sinks.port = SetUpListener(listener, options, QueueDatagram, &inbox);
    std::fprintf(report, "listening on %s%s%s\n",
                 support::Endpoint(options.interfaceAddress, sinks.port).c_str(),
                 options.group ? ", group " : "",
                 options.group ? support::Dotted(options.group).c_str() : "");
    std::fflush(report);

    sinks.start = Clock::now();
    const char* reason = Receive(inbox, options, sinks);
    listener.Stop();
    sinks.status.Clear();
    std::fflush(stdout);
    Summarize(report, sinks, inbox.Dropped(), reason);
    std::string failure;
    if (sinks.capture && !sinks.capture->Close(&failure)) throw NetworkError(failure);
    return kExitOk;
}
