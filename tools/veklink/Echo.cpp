// veklink echo: a responder. The listener's callback returns each datagram
// at once through a CVekSend, so that the main thread's pace never adds to a
// prober's round trip, and queues what it did for the main thread to print.
#include "Cli.h"
#include "Commands.h"
#include "Diagnose.h"
#include "Inbox.h"
#include "Probe.h"
#include "Status.h"
#include "support.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

const char kHelp[] =
    "usage: veklink echo [OPTIONS] PORT\n"
    "Returns every datagram arriving on PORT, byte for byte, and prints one line per\n"
    "datagram, then a summary. PORT 0 listens on a free port, which is shown.\n"
    "A probe of 'veklink ping' (at least 20 bytes, starting with VKP1, with a reply\n"
    "port other than 0; 'veklink ping --help' gives its format) goes back to its\n"
    "source address at the reply port it names; any other datagram goes back to its\n"
    "source address and port, as a UDP echo service (RFC 862) does. Replies leave\n"
    "from a port the platform chooses.\n"
    "Ends on Ctrl-C, after --count datagrams or after --timeout seconds.\n"
    "\n"
    "options:\n"
    "  --group G      also answer multicast to group G (224.0.0.0/4; an address or a\n"
    "                 host name)\n"
    "  --interface A  listen on, and answer from, the interface with address A\n"
    "                 (Linux, also under Wine, then delivers no multicast: leave it out\n"
    "                 with --group)\n"
    "  --count N      stop after N datagrams\n"
    "  --timeout S    stop after S seconds (decimals allowed)\n"
    "  --quiet        only the summary (on a terminal, a live status line)\n"
    "\n"
    "exit status: 0 ended normally, 2 bad usage, 3 could not listen or set up the\n"
    "sender (port in use...)\n";

using Clock = std::chrono::steady_clock;

// What the callback shares with the main thread. The lock covers the sender
// and the count, and is held across each reply, so that once the main thread
// has closed the sender under it no callback still sends.
struct Echoer {
    std::mutex lock;
    CVekSend sender;
    bool open = true;
    unsigned long limit = 0;  // --count; 0: no limit
    unsigned long echoed = 0;
    Inbox inbox;

    void Close() {
        std::lock_guard<std::mutex> guard(lock);
        open = false;
        sender.ExitInstance();
    }
};

// Runs on the listener's receive thread: nothing here may throw back into
// the library.
void EchoDatagram(void* data, int length, void* context, unsigned long source, int sourcePort) {
    Echoer* echoer = static_cast<Echoer*>(context);
    int replyError = 0;
    if (length >= 0) {
        std::lock_guard<std::mutex> guard(echoer->lock);
        if (!echoer->open || (echoer->limit && echoer->echoed == echoer->limit)) return;
        ++echoer->echoed;
        const std::size_t size = static_cast<std::size_t>(length);
        const int port = ReplyPort(data, size, sourcePort);
        if (!echoer->sender.Send(data, static_cast<unsigned long>(length), port, source)) {
            const int error = support::LastError();
            replyError = error ? error : -1;
        }
    }
    echoer->inbox.Put(data, length, source, sourcePort, replyError);
}

struct Totals {
    unsigned long datagrams = 0;
    unsigned long long bytes = 0;
    unsigned long failures = 0;  // replies that failed, and receives
};

// The lines: one per datagram, or with --quiet the live status line.
struct EchoLog : DeliverySink {
    explicit EchoLog(bool quiet) : quiet(quiet) {}

    bool Take(const Delivery& d) override {
        const std::string time = support::TimeOfDay(d.time);
        if (d.length < 0) {
            ++totals.failures;
            if (!quiet) std::printf("%s  receive failed\n", time.c_str());
            return false;
        }
        ++totals.datagrams;
        totals.bytes += d.bytes.size();
        totals.failures += d.replyError != 0;
        if (quiet) return true;
        std::uint32_t sequence = 0;
        const std::string probe =
            IsProbe(d.bytes.data(), d.bytes.size()) && ReadSequence(d.bytes, &sequence)
                ? "probe " + std::to_string(sequence) + " "
                : std::string();
        const int port = ReplyPort(d.bytes.data(), d.bytes.size(), d.port);
        std::printf("%s  %-21s %-11s %s-> %s%s\n", time.c_str(),
                    support::Endpoint(d.source, d.port).c_str(),
                    FormatBytes(d.bytes.size()).c_str(), probe.c_str(),
                    support::Endpoint(d.source, port).c_str(), Failure(d.replyError).c_str());
        return true;
    }

    void EndBatch() override {
        if (quiet) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            status.Show("echoed " + Counted(totals.datagrams, "datagram") + ", " +
                        FormatBytes(totals.bytes) + ", " + FormatRate(totals.datagrams, seconds) +
                        ", " + Counted(totals.failures, "failure"));
        }
        std::fflush(stdout);
    }

    static std::string Failure(int error) {
        if (error == 0) return std::string();
        return " failed" + (error > 0 ? ": " + support::ErrorText(error) : std::string());
    }

    const bool quiet;
    StatusLine status;
    Clock::time_point start = Clock::now();
    Totals totals;
};

}  // namespace

const OptionTable kEchoOptions = {
    {"group", true}, {"interface", true}, {"count", true}, {"timeout", true}, {"quiet", false}};

EchoPlan ReadEchoPlan(const Arguments& args) {
    EchoPlan plan;
    static_cast<ListenSpec&>(plan) = ReadListenSpec(args);
    plan.quiet = args.Has("quiet");
    return plan;
}

int RunEcho(int argc, char** argv) {
    const Arguments args(argc, argv, kEchoOptions);
    if (ShowHelp(args, kHelp)) return kExitOk;
    SocketLayer sockets;  // names are looked up with the socket layer started
    const EchoPlan listening = ReadEchoPlan(args);
    support::InstallStopHandler();
    Echoer& echoer = KeptToTheEnd<Echoer>();
    echoer.limit = listening.count;
    Target from;
    from.interfaceAddress = listening.interfaceAddress;
    SetUpSender(echoer.sender, from);
    CVekListen listener;
    const int port = SetUpListener(listener, listening, EchoDatagram, &echoer);
    std::printf("echoing on %s%s%s\n", support::Endpoint(listening.interfaceAddress, port).c_str(),
                listening.group ? ", group " : "",
                listening.group ? support::Dotted(listening.group).c_str() : "");
    std::fflush(stdout);

    EchoLog log(listening.quiet);
    const char* reason = Receive(echoer.inbox, listening, log);
    listener.Stop();
    echoer.Close();
    log.status.Clear();
    const double seconds = std::chrono::duration<double>(Clock::now() - log.start).count();
    std::printf("--- echoed %s, %s; %s\n",
                FormatTotals(log.totals.datagrams, log.totals.bytes, seconds).c_str(),
                Counted(log.totals.failures, "failure").c_str(), reason);
    if (const unsigned long dropped = echoer.inbox.Dropped())
        std::printf("--- %lu more datagrams were echoed faster than they could be shown\n",
                    dropped);
    return kExitOk;
}
