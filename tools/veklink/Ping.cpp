// veklink ping: numbered probes out through a CVekSend, their replies back
// through a CVekListen on a port of the prober's own, and per responder the
// loss, duplicates, reordering, corruption and round-trip times.
#include "Cli.h"
#include "Commands.h"
#include "Diagnose.h"
#include "Inbox.h"
#include "Probe.h"
#include "Status.h"
#include "support.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "usage: veklink ping [OPTIONS] ADDRESS PORT\n"
    "Sends numbered probes to ADDRESS:PORT, where 'veklink echo' (or any program that\n"
    "answers probes) returns them, and listens for the replies on a free port of its\n"
    "own. Prints one line per reply (size, responder, sequence number, round-trip\n"
    "time, DUP! for a duplicate, CORRUPT for a reply whose bytes differ from the\n"
    "probe), then for each responder: probes sent, replies, loss, duplicates,\n"
    "replies that came after a later probe's (reordered), corrupted replies, and the\n"
    "round-trip time's min/avg/p50/p90/p99/max in ms. ADDRESS, like G and A below, is\n"
    "a dotted IPv4 address or a host name.\n"
    "\n"
    "options:\n"
    "  --count N      send N probes (1..1000000, default 10)\n"
    "  --interval MS  wait MS milliseconds between probes (0..3600000, default 1000;\n"
    "                 0: as fast as the sender goes)\n"
    "  --size N       probes of N bytes (20..65507, default 64)\n"
    "  --wait S       wait S seconds for replies after the last probe (0..86400,\n"
    "                 default 1, decimals allowed); unicast ends sooner once every\n"
    "                 probe is answered\n"
    "  --group G      probe multicast group G (224.0.0.0/4); ADDRESS must then be G.\n"
    "                 Every responder joined to G answers and is listed by address\n"
    "  --interface A  send from the interface with address A (for a group: the\n"
    "                 outgoing interface, which a host with several needs)\n"
    "  --histogram    also a histogram of round-trip times per responder\n"
    "  --json         one JSON object per reply and per responder on standard output;\n"
    "                 the other lines go to standard error\n"
    "  --quiet        only the summaries (on a terminal, a live status line)\n"
    "\n"
    "A probe, all fields big-endian, answered by returning it unchanged to its source\n"
    "address at its reply port:\n"
    "  bytes 0-3    VKP1\n"
    "  bytes 4-7    sequence number, counting from 1\n"
    "  bytes 8-15   the prober's send time in ns of its monotonic clock (opaque)\n"
    "  bytes 16-17  reply port, where the prober listens\n"
    "  bytes 18-19  zero\n"
    "  bytes 20-    filler up to --size (the letters a..z repeated)\n"
    "Multicast leaves with the platform's time-to-live of 1: it does not cross a\n"
    "router. A firewall must let replies in to the prober's port.\n"
    "\n"
    "exit status: 0 a reply came back, 1 none did, 2 bad usage, 3 set-up failed\n";

using Clock = std::chrono::steady_clock;

// A run's probes are numbered and timed in memory: 8 bytes each.
const unsigned long kMaxProbes = 1000000;

std::int64_t Nanoseconds(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

// Round-trip times in ms: min, avg, p50, p90, p99 and max (nearest rank).
std::vector<double> RttFigures(std::vector<double> rtts) {
    std::sort(rtts.begin(), rtts.end());
    double sum = 0;
    for (double rtt : rtts) sum += rtt;
    const std::size_t n = rtts.size();
    const auto rank = [&](std::size_t percent) { return rtts[(percent * n + 99) / 100 - 1]; };
    return {rtts.front(), sum / static_cast<double>(n), rank(50), rank(90), rank(99), rtts.back()};
}

// One line per power-of-two bucket of microseconds, from the lowest bucket
// in use to the highest, each with a bar of '#' scaled to the fullest.
std::string Histogram(const std::vector<double>& rtts) {
    std::vector<unsigned long> buckets(48, 0);
    for (double rtt : rtts) {
        std::size_t k = 0;
        while (k + 1 < buckets.size() && rtt * 1000 >= static_cast<double>(2ull << k)) ++k;
        ++buckets[k];
    }
    std::size_t low = buckets.size(), high = 0;
    unsigned long most = 0;
    for (std::size_t k = 0; k < buckets.size(); ++k) {
        if (!buckets[k]) continue;
        low = std::min(low, k);
        high = k;
        most = std::max(most, buckets[k]);
    }
    const unsigned long kWidth = 40;
    std::string text;
    for (std::size_t k = low; k <= high; ++k) {
        const double from = k ? static_cast<double>(1ull << k) / 1000.0 : 0,
                     to = static_cast<double>(2ull << k) / 1000.0;
        const unsigned long bar = buckets[k] ? std::max(1ul, buckets[k] * kWidth / most) : 0;
        char line[128];
        std::snprintf(line, sizeof line, "    %9.3f - %9.3f ms |%-40s| %lu\n", from, to,
                      std::string(bar, '#').c_str(), buckets[k]);
        text += line;
    }
    return text;
}

// What one responder answered.
struct Responder {
    IPv4Address address = 0;
    std::vector<bool> answered;  // by sequence number
    std::uint32_t highest = 0;   // the highest sequence number answered
    unsigned long replies = 0, duplicates = 0, reordered = 0, corrupted = 0;
    std::vector<double> rtts;  // ms, of each probe's first intact reply
};

// Host order, so that responders sort as their dotted forms read.
std::uint32_t SortKey(IPv4Address address) {
    const std::uint32_t network = static_cast<std::uint32_t>(address);
    unsigned char b[4];
    std::memcpy(b, &network, sizeof b);
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

class Prober : public DeliverySink {
public:
    Prober(const PingPlan& plan, int replyPort)
        : plan_(plan), replyPort_(replyPort), probe_(MakeProbe(ProbeHeader(), plan.size)),
          sentNs_(plan.count + 1, 0), anyAnswered_(plan.count + 1, false),
          report_(plan.json ? stderr : stdout), live_(status_.Live() && !plan.json) {}

    // Stamps the next probe with its number and the time, and sends it.
    void SendNext(CVekSend& sender) {
        const std::uint32_t sequence = static_cast<std::uint32_t>(++sent_);
        const std::int64_t now = Nanoseconds(Clock::now());
        sentNs_[sequence] = now;
        WriteProbeHeader(Header(sequence), &probe_);
        if (sender.Send(&probe_[0], static_cast<unsigned long>(probe_.size()), plan_.port,
                        plan_.target.destination))
            return;
        ++sendFailures_;
        const std::string reason = LastErrorText();
        if (plan_.json || plan_.quiet) return;
        status_.Clear();
        std::fprintf(report_, "probe %u could not be sent%s\n", sequence, reason.c_str());
    }

    bool Take(const Delivery& d) override {
        std::uint32_t sequence = 0;
        if (d.length < 0) {
            ++receiveFailures_;
        } else if (!Answers(d.bytes, &sequence)) {
            ++strays_;
        } else {
            TakeReply(d, sequence);
        }
        return true;
    }

    void EndBatch() override {
        if (!live_) return;
        const Clock::time_point now = Clock::now();
        if (now - shown_ < std::chrono::milliseconds(100) && sent_ != plan_.count) return;
        shown_ = now;
        status_.Show("[" + std::to_string(sent_) + "/" + std::to_string(plan_.count) + "] sent " +
                     std::to_string(sent_) + ", " + Counted(answeredCount_, "probe") +
                     " answered, " + Counted(responders_.size(), "responder"));
    }

    bool AllAnswered() const { return answeredCount_ == sent_; }

    // The summaries; returns the exit status.
    int Finish(unsigned long dropped) {
        status_.Clear();
        std::fflush(stdout);
        bool replied = false;
        for (const auto& entry : responders_) {
            Summarize(entry.second);
            replied = replied || entry.second.replies > 0;
        }
        if (responders_.empty()) {
            if (plan_.json)
                std::printf(
                    "{\"type\":\"summary\",\"responder\":null,\"sent\":%lu,\"replies\":0,"
                    "\"loss_percent\":100.0}\n",
                    sent_);
            std::fprintf(report_, "--- no replies from %s: sent %lu, loss 100.0%%\n",
                         support::Endpoint(plan_.target.destination, plan_.port).c_str(), sent_);
        }
        Note("probes that could not be sent", sendFailures_);
        Note("datagrams on port " + std::to_string(replyPort_) +
                 " that answered no probe of this run",
             strays_);
        Note("failed receives", receiveFailures_);
        Note("replies that arrived faster than they could be taken, dropped", dropped);
        std::fflush(stdout);
        return replied ? kExitOk : kExitNoReply;
    }

private:
    ProbeHeader Header(std::uint32_t sequence) const {
        ProbeHeader header;
        header.sequence = sequence;
        header.sentNs = static_cast<std::uint64_t>(sentNs_[sequence]);
        header.replyPort = static_cast<std::uint16_t>(replyPort_);
        return header;
    }

    // The probe that bytes answer: the one its sequence number names, or,
    // where that is damaged, the one whose send time it holds (send times
    // only grow), so that a reply damaged in its header still counts as
    // corrupted rather than as a stranger's.
    bool Answers(const std::string& bytes, std::uint32_t* sequence) const {
        if (ReadSequence(bytes, sequence) && *sequence >= 1 && *sequence <= sent_) return true;
        std::uint64_t sentNs = 0;
        if (!ReadSentTime(bytes, &sentNs)) return false;
        const auto first = sentNs_.begin() + 1, last = first + static_cast<long>(sent_);
        const auto found = std::lower_bound(first, last, static_cast<std::int64_t>(sentNs));
        if (found == last || *found != static_cast<std::int64_t>(sentNs)) return false;
        *sequence = static_cast<std::uint32_t>(found - sentNs_.begin());
        return true;
    }

    // Intact when it holds exactly the probe of that sequence number: the
    // header as sent, the filler of every probe.
    bool Intact(const std::string& bytes, std::uint32_t sequence) const {
        if (bytes.size() != probe_.size()) return false;
        std::string header = probe_.substr(0, kProbeHeaderSize);
        WriteProbeHeader(Header(sequence), &header);
        return bytes.compare(0, kProbeHeaderSize, header) == 0 &&
               bytes.compare(kProbeHeaderSize, std::string::npos, probe_, kProbeHeaderSize,
                             std::string::npos) == 0;
    }

    void TakeReply(const Delivery& d, std::uint32_t sequence) {
        Responder& r = responders_[SortKey(d.source)];
        if (r.answered.empty()) {
            r.address = d.source;
            r.answered.assign(plan_.count + 1, false);
        }
        const double rtt = static_cast<double>(Nanoseconds(d.arrived) - sentNs_[sequence]) / 1e6;
        const char* mark = "";
        bool duplicate = false, reordered = false, corrupted = false;
        if (!Intact(d.bytes, sequence)) {
            ++r.corrupted;
            corrupted = true;
            mark = " CORRUPT";
        } else if (r.answered[sequence]) {
            ++r.duplicates;
            duplicate = true;
            mark = " DUP!";
        } else {
            r.answered[sequence] = true;
            ++r.replies;
            r.rtts.push_back(rtt);
            reordered = sequence < r.highest;
            r.reordered += reordered;
            r.highest = std::max(r.highest, sequence);
            if (!anyAnswered_[sequence]) {
                anyAnswered_[sequence] = true;
                ++answeredCount_;
            }
        }
        if (plan_.json) {
            std::printf(
                "{\"type\":\"reply\",\"responder\":%s,\"port\":%d,\"seq\":%u,\"length\":%lu,"
                "\"rtt_ms\":%s,\"duplicate\":%s,\"reordered\":%s,\"corrupted\":%s}\n",
                support::JsonString(support::Dotted(d.source)).c_str(), d.port, sequence,
                static_cast<unsigned long>(d.bytes.size()), Milliseconds(rtt).c_str(),
                duplicate ? "true" : "false", reordered ? "true" : "false",
                corrupted ? "true" : "false");
        } else if (!plan_.quiet) {
            status_.Clear();
            std::printf("%s from %s: seq=%u time=%s ms%s\n", FormatBytes(d.bytes.size()).c_str(),
                        support::Dotted(d.source).c_str(), sequence, Milliseconds(rtt).c_str(),
                        mark);
        }
    }

    void Summarize(const Responder& r) {
        const double loss =
            sent_ ? 100.0 * static_cast<double>(sent_ - r.replies) / static_cast<double>(sent_) : 0;
        char counts[256];
        std::snprintf(counts, sizeof counts,
                      "sent %lu, replies %lu, loss %.1f%%, duplicates %lu, reordered %lu, "
                      "corrupted %lu",
                      sent_, r.replies, loss, r.duplicates, r.reordered, r.corrupted);
        std::vector<double> figures;
        if (!r.rtts.empty()) figures = RttFigures(r.rtts);
        std::string rtt;
        for (double figure : figures) rtt += (rtt.empty() ? "" : "/") + Milliseconds(figure);
        const std::string who = support::Dotted(r.address);
        std::fprintf(report_, "--- %s: %s\n", who.c_str(), counts);
        if (!figures.empty())
            std::fprintf(report_, "    rtt min/avg/p50/p90/p99/max %s ms\n", rtt.c_str());
        if (plan_.histogram && !r.rtts.empty())
            std::fprintf(report_, "    rtt histogram (ms):\n%s", Histogram(r.rtts).c_str());
        if (!plan_.json) return;
        std::string json = "null";
        if (!figures.empty()) {
            const char* names[] = {"min", "avg", "p50", "p90", "p99", "max"};
            json.clear();
            for (std::size_t i = 0; i < figures.size(); ++i)
                json +=
                    std::string(i ? "," : "{") + "\"" + names[i] + "\":" + Milliseconds(figures[i]);
            json += "}";
        }
        std::printf(
            "{\"type\":\"summary\",\"responder\":%s,\"sent\":%lu,\"replies\":%lu,"
            "\"loss_percent\":%.1f,\"duplicates\":%lu,\"reordered\":%lu,"
            "\"corrupted\":%lu,\"rtt_ms\":%s}\n",
            support::JsonString(who).c_str(), sent_, r.replies, loss, r.duplicates, r.reordered,
            r.corrupted, json.c_str());
    }

    // "--- what: n", when there are any.
    void Note(const std::string& what, unsigned long n) {
        if (n) std::fprintf(report_, "--- %s: %lu\n", what.c_str(), n);
    }

    const PingPlan& plan_;
    const int replyPort_;
    std::string probe_;                 // the probe last sent; the filler of all
    std::vector<std::int64_t> sentNs_;  // by sequence number
    std::vector<bool> anyAnswered_;     // by sequence number, by any responder
    unsigned long answeredCount_ = 0;
    std::map<std::uint32_t, Responder> responders_;
    unsigned long sent_ = 0, sendFailures_ = 0, strays_ = 0, receiveFailures_ = 0;
    std::FILE* const report_;
    StatusLine status_;
    const bool live_;
    Clock::time_point shown_;
};

// Takes what arrives until deadline: in short waits, so that Ctrl-C and the
// status line stay responsive.
void TakeUntil(Inbox& inbox, Prober& prober, Clock::time_point deadline) {
    std::deque<Delivery> batch;
    do {
        inbox.TakeUntil(std::min(deadline, Clock::now() + std::chrono::milliseconds(100)), &batch);
        for (const Delivery& d : batch) prober.Take(d);
        batch.clear();
        prober.EndBatch();
    } while (Clock::now() < deadline && !support::StopRequested());
}

}  // namespace

const OptionTable kPingOptions = {{"count", true},      {"interval", true}, {"size", true},
                                  {"wait", true},       {"group", true},    {"interface", true},
                                  {"histogram", false}, {"json", false},    {"quiet", false}};

PingPlan ReadPingPlan(const Arguments& args) {
    const std::vector<std::string>& operands = args.Operands();
    if (operands.size() < 2)
        throw UsageError(operands.empty() ? "missing ADDRESS and PORT" : "missing PORT");
    if (operands.size() > 2) throw UsageError("too many operands");
    PingPlan plan;
    plan.port = ParsePort(operands[1]);
    if (args.Has("count")) plan.count = ParseNumber(args.Value("count"), "--count", 1, kMaxProbes);
    if (args.Has("interval"))
        plan.interval = ParseNumber(args.Value("interval"), "--interval", 0, 3600000);
    if (args.Has("size"))
        plan.size = ParseNumber(args.Value("size"), "--size", kProbeHeaderSize, kMaxDatagram);
    if (args.Has("wait")) plan.wait = ParseSeconds(args.Value("wait"), "--wait", true);
    plan.json = args.Has("json");
    plan.quiet = args.Has("quiet");
    plan.histogram = args.Has("histogram");
    if (plan.json && plan.quiet) throw UsageError("give only one of --json or --quiet");
    plan.target = ReadTarget(args, operands[0]);
    return plan;
}

int RunPing(int argc, char** argv) {
    const Arguments args(argc, argv, kPingOptions);
    if (ShowHelp(args, kHelp)) return kExitOk;
    SocketLayer sockets;  // names are looked up with the socket layer started
    const PingPlan plan = ReadPingPlan(args);
    support::InstallStopHandler();
    Inbox& inbox = KeptToTheEnd<Inbox>();
    CVekListen listener;
    // Replies come back unicast: a listener on a free port of all interfaces.
    const int replyPort = SetUpListener(listener, ListenSpec(), QueueDatagram, &inbox);
    CVekSend sender;
    SetUpSender(sender, plan.target);
    std::FILE* const report = plan.json ? stderr : stdout;
    std::fprintf(report, "pinging %s%s with %s of %s, one every %lu ms; replies to port %d\n",
                 plan.target.mode == VEK_MODE_MULTICAST ? "group " : "",
                 support::Endpoint(plan.target.destination, plan.port).c_str(),
                 Counted(plan.count, "probe").c_str(), FormatBytes(plan.size).c_str(),
                 plan.interval, replyPort);
    std::fflush(report);

    Prober prober(plan, replyPort);
    const Clock::time_point start = Clock::now();
    const std::chrono::milliseconds interval(plan.interval);
    for (unsigned long n = 1; n <= plan.count && !support::StopRequested(); ++n) {
        TakeUntil(inbox, prober, start + interval * static_cast<long>(n - 1));
        if (!support::StopRequested()) prober.SendNext(sender);
    }
    // A group's responders are not known: its wait always runs to the end.
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(plan.wait));
    while (Clock::now() < end && !support::StopRequested() &&
           !(plan.target.mode != VEK_MODE_MULTICAST && prober.AllAnswered()))
        TakeUntil(inbox, prober, std::min(end, Clock::now() + std::chrono::milliseconds(100)));
    listener.Stop();
    sender.ExitInstance();
    TakeUntil(inbox, prober, Clock::now());  // what arrived before Stop
    return prober.Finish(inbox.Dropped());
}
