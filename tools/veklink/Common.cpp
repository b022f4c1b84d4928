#include "Common.h"

#include "Platform.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

Arguments::Arguments(int argc, char** argv, std::initializer_list<OptionSpec> options) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool looksNegative = arg.size() > 1 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-' || looksNegative) {
            operands_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help_ = true;  // help wins over whatever else is wrong
            return;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionSpec* known = nullptr;
        for (const OptionSpec& candidate : options)
            if (name == std::string("--") + candidate.name) known = &candidate;
        if (!known) throw UsageError("unknown option '" + name + "'");
        if (values_.count(known->name)) throw UsageError("option '" + name + "' given twice");
        if (!known->takesValue) {
            if (equals != std::string::npos) throw UsageError("option '" + name + "' takes no value");
            values_[known->name] = "";
        } else if (equals != std::string::npos) {
            values_[known->name] = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            values_[known->name] = argv[++i];
        } else {
            throw UsageError("option '" + name + "' needs a value");
        }
    }
}

namespace {

// Reads an optionally negative decimal integer; values too large for any
// check here saturate instead of overflowing.
bool ReadInteger(const std::string& text, long long* value) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::size_t first = negative ? 1 : 0;
    if (text.size() == first) return false;
    long long result = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        if (result < 1000000000000LL) result = result * 10 + (text[i] - '0');
    }
    *value = negative ? -result : result;
    return true;
}

}  // namespace

PortNumber ParsePort(const std::string& text) {
    long long value;
    if (!ReadInteger(text, &value)) throw UsageError("port '" + text + "' is not a number");
    if (value < 0 || value > 65535) throw UsageError("port '" + text + "' is outside 0..65535");
    return static_cast<PortNumber>(value);
}

// Strictly four decimal numbers 0..255: the looser forms the C library
// accepts ("10.1", "0x7f.1") are more often typos than intent.
IPv4Address ParseAddress(const std::string& text, const char* what) {
    unsigned char bytes[4];
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
            ++digits;
        }
        const bool separatorOk = part == 3 ? at == text.size() : at < text.size() && text[at++] == '.';
        if (digits == 0 || digits > 3 || value > 255 || !separatorOk)
            throw UsageError(std::string(what) + " '" + text + "' is not an IPv4 address (a.b.c.d)");
        bytes[part] = static_cast<unsigned char>(value);
    }
    // Network byte order is the order of the bytes in memory.
    std::uint32_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

namespace {

bool IsDottedForm(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

// Letters, digits, '-', '_' and dots: what a host name can be made of.
bool IsHostNameForm(const std::string& text) {
    for (char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.'))
            return false;
    return !text.empty() && text.size() <= 253 && text[0] != '-';
}

}  // namespace

IPv4Address ResolveAddress(const std::string& text, const char* what) {
    // The resolver's numeric shorthands get the strict parser's refusal.
    if (IsDottedForm(text) || platform::IsNumericAddress(text)) return ParseAddress(text, what);
    const std::string named = std::string(what) + " '" + text + "'";
    if (!IsHostNameForm(text)) throw UsageError(named + " is not an IPv4 address (a.b.c.d) or a host name");
    IPv4Address address = 0;
    std::string reason;
    switch (platform::LookUpIPv4(text, &address, &reason)) {
        case platform::Lookup::kFound: return address;
        case platform::Lookup::kUnknown:
            throw UsageError(named + " is not an IPv4 address or a known host name (" + reason + ")");
        case platform::Lookup::kFailed: break;
    }
    throw NetworkError("could not look up " + named + ": " + reason);
}

IPv4Address ResolveGroup(const std::string& text) {
    const IPv4Address group = ResolveAddress(text, "group");
    unsigned char bytes[4];
    const std::uint32_t network = static_cast<std::uint32_t>(group);
    std::memcpy(bytes, &network, sizeof bytes);
    if ((bytes[0] & 0xF0) != 224) {
        const std::string resolved = FormatAddress(group) == text ? "" : " (" + FormatAddress(group) + ")";
        throw UsageError("group '" + text + "'" + resolved + " is outside 224.0.0.0/4");
    }
    return group;
}

unsigned long ParseNumber(const std::string& text, const char* what, unsigned long low,
                          unsigned long high) {
    long long value;
    if (!ReadInteger(text, &value)) throw UsageError(std::string(what) + " '" + text + "' is not a number");
    if (value < static_cast<long long>(low) || value > static_cast<long long>(high))
        throw UsageError(std::string(what) + " " + text + " is outside " + std::to_string(low) + ".." +
                         std::to_string(high));
    return static_cast<unsigned long>(value);
}

// Decimal seconds ("2", "0.5"), at most a day, so that deadlines computed
// from them stay well inside the clocks' range.
double ParseSeconds(const std::string& text, const char* what) {
    const std::size_t dot = text.find('.');
    long long whole = 0, fraction = 0;
    const std::string wholeText = text.substr(0, dot);
    const std::string fractionText = dot == std::string::npos ? "" : text.substr(dot + 1);
    const bool ok = (!wholeText.empty() || !fractionText.empty()) &&
                    (wholeText.empty() || ReadInteger(wholeText, &whole)) &&
                    (fractionText.empty() || ReadInteger(fractionText, &fraction)) &&
                    wholeText.find('-') == std::string::npos && fractionText.find('-') == std::string::npos;
    if (!ok) throw UsageError(std::string(what) + " '" + text + "' is not a number of seconds");
    double seconds = static_cast<double>(whole);
    double scale = 0.1;
    for (char c : fractionText) {
        seconds += (c - '0') * scale;
        scale /= 10;
    }
    if (seconds <= 0 || seconds > 86400)
        throw UsageError(std::string(what) + " " + text + " is outside (0, 86400] seconds");
    return seconds;
}

std::string FormatAddress(IPv4Address address) {
    unsigned char bytes[4];
    const std::uint32_t network = static_cast<std::uint32_t>(address);
    std::memcpy(bytes, &network, sizeof bytes);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string FormatEndpoint(IPv4Address address, int port) {
    return FormatAddress(address) + ":" + std::to_string(port);
}

std::string Counted(unsigned long long n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string FormatBytes(unsigned long long bytes) { return Counted(bytes, "byte"); }

namespace {

// A run too short to time still gets a finite rate.
double Span(double seconds) { return seconds > 1e-6 ? seconds : 1e-6; }

}  // namespace

std::string FormatRate(unsigned long datagrams, double seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f datagrams/s", datagrams / Span(seconds));
    return text;
}

std::string FormatTotals(unsigned long datagrams, unsigned long long bytes, double seconds) {
    char bytesRate[48];
    std::snprintf(bytesRate, sizeof bytesRate, "%.0f bytes/s", bytes / Span(seconds));
    char span[32];
    std::snprintf(span, sizeof span, "%.3f s", seconds);
    return Counted(datagrams, "datagram") + ", " + FormatBytes(bytes) + " in " + span + " (" +
           FormatRate(datagrams, seconds) + ", " + bytesRate + ")";
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

namespace {

std::string DescribeFailedStep(const platform::SetupFailure& failure, IPv4Address interfaceAddress, int port,
                               IPv4Address group) {
    const std::string text = platform::ErrorText(failure.error);
    const std::string where = interfaceAddress ? " on " + FormatAddress(interfaceAddress) : std::string();
    switch (failure.step) {
        case platform::SetupStep::kNone: break;
        case platform::SetupStep::kSocket: return "could not open a UDP socket: " + text;
        case platform::SetupStep::kRoute:
            return "no multicast route to group " + FormatAddress(group) + ": " + text +
                   " (add a route to 224.0.0.0/4, e.g. 'ip route add 224.0.0.0/4 dev eth0', or give --interface "
                   "the address of the interface to use)";
        case platform::SetupStep::kJoin:
            return "could not join group " + FormatAddress(group) + where + ": " + text +
                   " (give --interface the address of an interface that carries multicast; 'veklink info' lists "
                   "them)";
        case platform::SetupStep::kBind:
            switch (platform::KindOf(failure.error)) {
                case platform::ErrorKind::kInUse:
                    return "port " + std::to_string(port) + " is in use: " + text +
                           " (another socket holds it; choose another port, or 0 for a free one)";
                case platform::ErrorKind::kNotLocal:
                    return FormatAddress(interfaceAddress) + " is not an address of this host: " + text +
                           " (give --interface an address that 'veklink info' lists)";
                case platform::ErrorKind::kDenied:
                    return "binding port " + std::to_string(port) + where + " was refused: " + text +
                           " (ports below 1024 need privileges)";
                default: return "could not bind " + FormatEndpoint(interfaceAddress, port) + ": " + text;
            }
    }
    return std::string();
}

}  // namespace

NetworkError SetupError(const std::string& context, const platform::SetupFailure& failure,
                        IPv4Address interfaceAddress, int port, IPv4Address group, int libraryError) {
    std::string step = DescribeFailedStep(failure, interfaceAddress, port, group);
    // Every step went through with a plain socket: what failed is something
    // the library does besides (its events, its thread), or passed meanwhile.
    if (step.empty()) step = libraryError ? platform::ErrorText(libraryError) : "the library refused";
    return NetworkError(context + ": " + step);
}

StatusLine::StatusLine() : live_(platform::OutputIsTerminal()) {}

void StatusLine::Show(const std::string& full) {
    if (!live_) return;
    // A line that wraps could not be rewritten by going back to its start;
    // every terminal has 80 columns at least.
    const std::string text = full.substr(0, 79);
    // Spaces cover what is left of a longer line shown before.
    const std::string cover(shown_ > text.size() ? shown_ - text.size() : 0, ' ');
    std::printf("\r%s%s", text.c_str(), cover.c_str());
    std::fflush(stdout);
    shown_ = text.size();
}

void StatusLine::Clear() {
    if (!live_ || !shown_) return;
    std::printf("\r%s\r", std::string(shown_, ' ').c_str());
    shown_ = 0;
}

SocketLayer::SocketLayer() {
    if (!VekInitInstance()) throw NetworkError("could not start the socket layer" + platform::LastErrorText());
}

SocketLayer::~SocketLayer() { VekExitInstance(); }
