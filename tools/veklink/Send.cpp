// veklink send: one datagram, a counted series, or one datagram per line of
// standard input, through one CVekSend.
#include "Cli.h"
#include "Commands.h"
#include "Diagnose.h"
#include "Status.h"
#include "support.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

const char kHelp[] =
    "usage: veklink send [OPTIONS] [MESSAGE | -] ADDRESS PORT\n"
    "Sends datagrams to ADDRESS:PORT, or to a multicast group. ADDRESS, like G and A\n"
    "below, is a dotted IPv4 address or a host name.\n"
    "\n"
    "payload, one of (an empty datagram when none is given):\n"
    "  MESSAGE          the text, as given\n"
    "  -                each line of standard input as one datagram, without its line end\n"
    "  --size N         N bytes (0..65507) of the letters a..z repeated\n"
    "  --hex HEX        the bytes written as pairs of hex digits, e.g. 68690a (a Windows\n"
    "                   command line holds 32767 characters: use --file for more)\n"
    "  --file PATH      the whole file as one datagram (at most 65507 bytes)\n"
    "  --stdin-binary   all of standard input, bytes as they are, as one datagram\n"
    "options:\n"
    "  --group G        multicast to group G (224.0.0.0/4); ADDRESS must then be G\n"
    "  --interface A    send from the interface with address A (for a group: the\n"
    "                   outgoing interface)\n"
    "  --count N        send N datagrams (with -: at most N lines), showing progress and\n"
    "                   a summary (on a terminal, one live status line)\n"
    "  --interval MS    wait MS milliseconds between datagrams (default 0)\n"
    "\n"
    "exit status: 0 all sent, 2 bad usage, 3 set-up failed or a datagram was refused\n";

std::string HexBytes(const std::string& hex) {
    std::string bytes;
    if (!support::ParseHex(hex, &bytes))
        throw UsageError("--hex '" + hex + "' is not pairs of hex digits");
    return bytes;
}

// "what holds N bytes, above 65507, ..."; size -1 when it is not known.
std::string TooLarge(const std::string& what, long long size) {
    const std::string most = std::to_string(kMaxDatagram);
    const std::string held =
        size < 0 ? "more than " + most + " bytes" : std::to_string(size) + " bytes, above " + most;
    return what + " holds " + held + ", the most one IPv4 datagram holds";
}

// Up to one byte more than a datagram holds, so that a larger input is seen
// without reading all of it; its size then comes from the file's end where
// it has one.
std::string ReadDatagram(std::FILE* file, const std::string& what) {
    std::string bytes(kMaxDatagram + 1, '\0');
    const std::size_t got = std::fread(&bytes[0], 1, bytes.size(), file);
    bytes.resize(got);
    if (got <= kMaxDatagram) return bytes;
    const long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    throw UsageError(TooLarge(what, size > static_cast<long>(kMaxDatagram) ? size : -1));
}

std::string ReadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw UsageError("could not read file '" + path + "': " + support::ErrnoText(errno));
    try {
        std::string bytes = ReadDatagram(file, "file '" + path + "'");
        std::fclose(file);
        return bytes;
    } catch (...) {
        std::fclose(file);
        throw;
    }
}

const char kOnePayload[] = "give only one of --size, --hex, --file, --stdin-binary, MESSAGE or -";

// The payload the arguments give, or where the run is to read it from.
void ReadPayload(const Arguments& args, const std::vector<std::string>& operands, SendPlan* plan) {
    const int given = (operands.size() == 3) + args.Has("size") + args.Has("hex") +
                      args.Has("file") + args.Has("stdin-binary");
    if (given > 1) throw UsageError(kOnePayload);
    if (args.Has("size")) {
        const unsigned long size = ParseNumber(args.Value("size"), "--size", 0, kMaxDatagram);
        for (unsigned long i = 0; i < size; ++i) plan->payload += static_cast<char>('a' + i % 26);
    } else if (args.Has("hex")) {
        plan->payload = HexBytes(args.Value("hex"));
    } else if (args.Has("file")) {
        plan->source = PayloadSource::kFile;
        plan->file = args.Value("file");
    } else if (args.Has("stdin-binary")) {
        plan->source = PayloadSource::kBinaryInput;
    } else if (operands.size() == 3) {
        plan->payload = operands[0];
    }
    if (plan->payload.size() > kMaxDatagram)
        throw UsageError("a payload of " + std::to_string(plan->payload.size()) +
                         " bytes is above " + std::to_string(kMaxDatagram) +
                         ", the most one IPv4 datagram holds");
}

}  // namespace

const OptionTable kSendOptions = {{"group", true},    {"interface", true},    {"count", true},
                                  {"interval", true}, {"size", true},         {"hex", true},
                                  {"file", true},     {"stdin-binary", false}};

SendPlan ReadSendPlan(const Arguments& args) {
    const std::vector<std::string>& operands = args.Operands();
    if (operands.size() < 2)
        throw UsageError(operands.empty() ? "missing ADDRESS and PORT" : "missing PORT");
    if (operands.size() > 3)
        throw UsageError("too many operands (a MESSAGE with spaces needs quotes)");
    SendPlan plan;
    plan.port = ParsePort(operands.back());
    const bool fromLines = operands.size() == 3 && operands[0] == "-";
    if (fromLines &&
        (args.Has("size") || args.Has("hex") || args.Has("file") || args.Has("stdin-binary")))
        throw UsageError(kOnePayload);
    plan.series = fromLines || args.Has("count");
    plan.count = args.Has("count") ? ParseNumber(args.Value("count"), "--count", 1, 1000000000)
                                   : (fromLines ? ULONG_MAX : 1);
    if (args.Has("interval"))
        plan.interval = ParseNumber(args.Value("interval"), "--interval", 0, 3600000);
    plan.target = ReadTarget(args, operands[operands.size() - 2]);
    if (fromLines)
        plan.source = PayloadSource::kLines;
    else
        ReadPayload(args, operands, &plan);
    return plan;
}

namespace {

// The next line of standard input without its line end; false at the end
// (or when Ctrl-C interrupts the read).
bool NextLine(std::string* line) {
    if (!std::getline(std::cin, *line)) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// What a series has sent so far, and how it shows that.
struct Series {
    using Clock = std::chrono::steady_clock;

    explicit Series(const SendPlan& plan)
        : plan(plan), live(status.Live() && plan.series && plan.source != PayloadSource::kLines) {}

    // A line per datagram, or on a terminal one status line, rewritten at
    // most ten times a second.
    void Report(unsigned long n, bool ok, std::size_t size, const std::string& reason) {
        if (ok) {
            ++sent;
            bytes += size;
        } else {
            ++failures;
            lastFailure = reason;
        }
        // Lines of standard input have no known total.
        const std::string progress = plan.count == ULONG_MAX
                                         ? std::to_string(n)
                                         : std::to_string(n) + "/" + std::to_string(plan.count);
        if (!live) {
            std::printf("[%s] %s %s%s\n", progress.c_str(), ok ? "sent" : "failed to send",
                        line.c_str(), reason.c_str());
            std::fflush(stdout);
        } else if (n == 1 || n == plan.count ||
                   Clock::now() - shown >= std::chrono::milliseconds(100)) {
            shown = Clock::now();
            status.Show("[" + progress + "] sent " + std::to_string(sent) + ", " +
                        FormatRate(sent, Seconds()) + ", " + Counted(failures, "failure") +
                        (failures ? " (last" + lastFailure + ")" : std::string()));
        }
    }

    int Finish() {
        status.Clear();
        std::printf("--- sent %s, %s\n", FormatTotals(sent, bytes, Seconds()).c_str(),
                    Counted(failures, "failure").c_str());
        return failures ? kExitNetwork : kExitOk;
    }

    double Seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

    const SendPlan& plan;
    StatusLine status;
    const bool live;
    const Clock::time_point start = Clock::now();
    Clock::time_point shown;
    std::string line;  // "N bytes to a.b.c.d:port" of the datagram reported
    std::string lastFailure;
    unsigned long sent = 0, failures = 0;
    unsigned long long bytes = 0;
};

int SendAll(CVekSend& sender, const SendPlan& plan) {
    const std::string target = support::Endpoint(plan.target.destination, plan.port);
    Series series(plan);
    std::string payload = plan.payload;  // Send takes a non-const pointer
    for (unsigned long n = 1; n <= plan.count; ++n) {
        if (n > 1) support::SleepUnlessStopped(plan.interval);
        if (support::StopRequested() ||
            (plan.source == PayloadSource::kLines && !NextLine(&payload)))
            break;
        const bool ok = sender.Send(&payload[0], static_cast<unsigned long>(payload.size()),
                                    plan.port, plan.target.destination) == 1;
        const std::string reason = ok ? std::string() : LastErrorText();
        series.line = FormatBytes(payload.size()) + " to " + target;
        if (!plan.series) {
            if (!ok) throw NetworkError("failed to send " + series.line + reason);
            std::printf("sent %s\n", series.line.c_str());
            return kExitOk;
        }
        series.Report(n, ok, payload.size(), reason);
    }
    return series.Finish();
}

}  // namespace

int RunSend(int argc, char** argv) {
    const Arguments args(argc, argv, kSendOptions);
    if (ShowHelp(args, kHelp)) return kExitOk;
    support::UseBinaryInput();
    SocketLayer sockets;  // names are looked up with the socket layer started
    SendPlan plan = ReadSendPlan(args);
    if (plan.source == PayloadSource::kFile) plan.payload = ReadFile(plan.file);
    if (plan.source == PayloadSource::kBinaryInput)
        plan.payload = ReadDatagram(stdin, "standard input");
    support::InstallStopHandler();
    CVekSend sender;
    SetUpSender(sender, plan.target);
    const int status = SendAll(sender, plan);
    sender.ExitInstance();
    return status;
}
