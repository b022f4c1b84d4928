#include "Cli.h"

#include "support.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

Arguments::Arguments(int argc, char** argv, const OptionTable& options) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool looksNegative =
            arg.size() > 1 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-' || looksNegative) {
            operands_.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            help_ = true;  // help wins over whatever else is wrong
            return;
        } else {
            TakeOption(argc, argv, &i, options);
        }
    }
}

void Arguments::TakeOption(int argc, char** argv, int* i, const OptionTable& options) {
    const std::string arg = argv[*i];
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
    } else if (*i + 1 < argc) {
        values_[known->name] = argv[++*i];
    } else {
        throw UsageError("option '" + name + "' needs a value");
    }
}

std::string LastErrorText() {
    const int error = support::LastError();
    return error ? ": " + support::ErrorText(error) : std::string();
}

bool ShowHelp(const Arguments& args, const char* help) {
    if (args.WantsHelp()) std::fputs(help, stdout);
    return args.WantsHelp();
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

bool IsDottedForm(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

// Letters, digits, '-', '_' and dots: what a host name can be made of.
bool IsHostNameForm(const std::string& text) {
    for (char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.'))
            return false;
    return !text.empty() && text.size() <= 253 && text[0] != '-';
}

// Decimal seconds ("2", "0.5") without a sign; false for anything else.
bool ReadSeconds(const std::string& text, double* seconds) {
    const std::size_t dot = text.find('.');
    long long whole = 0, fraction = 0;
    const std::string wholeText = text.substr(0, dot);
    const std::string fractionText = dot == std::string::npos ? "" : text.substr(dot + 1);
    const bool ok = (!wholeText.empty() || !fractionText.empty()) &&
                    (wholeText.empty() || ReadInteger(wholeText, &whole)) &&
                    (fractionText.empty() || ReadInteger(fractionText, &fraction)) &&
                    wholeText.find('-') == std::string::npos &&
                    fractionText.find('-') == std::string::npos;
    *seconds = static_cast<double>(whole);
    double scale = 0.1;
    for (char c : fractionText) {
        *seconds += (c - '0') * scale;
        scale /= 10;
    }
    return ok;
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
    unsigned long address = 0;
    if (!support::ParseIpv4(text, &address))
        throw UsageError(std::string(what) + " '" + text + "' is not an IPv4 address (a.b.c.d)");
    return address;
}

IPv4Address ResolveAddress(const std::string& text, const char* what) {
    // The resolver's numeric shorthands get the strict parser's refusal.
    if (IsDottedForm(text) || support::IsNumericAddress(text)) return ParseAddress(text, what);
    const std::string named = std::string(what) + " '" + text + "'";
    if (!IsHostNameForm(text))
        throw UsageError(named + " is not an IPv4 address (a.b.c.d) or a host name");
    unsigned long address = 0;
    std::string reason;
    switch (support::LookUpIpv4(text, &address, &reason)) {
    case support::Lookup::kFound: return address;
    case support::Lookup::kUnknown:
        throw UsageError(named + " is not an IPv4 address or a known host name (" + reason + ")");
    case support::Lookup::kFailed: break;
    }
    throw NetworkError("could not look up " + named + ": " + reason);
}

IPv4Address ResolveGroup(const std::string& text) {
    const IPv4Address group = ResolveAddress(text, "group");
    unsigned char bytes[4];
    const std::uint32_t network = static_cast<std::uint32_t>(group);
    std::memcpy(bytes, &network, sizeof bytes);
    if ((bytes[0] & 0xF0) != 224) {
        const std::string dotted = support::Dotted(group);
        const std::string resolved = dotted == text ? "" : " (" + dotted + ")";
        throw UsageError("group '" + text + "'" + resolved + " is outside 224.0.0.0/4");
    }
    return group;
}

unsigned long ParseNumber(const std::string& text, const char* what, unsigned long low,
                          unsigned long high) {
    long long value;
    if (!ReadInteger(text, &value))
        throw UsageError(std::string(what) + " '" + text + "' is not a number");
    if (value < static_cast<long long>(low) || value > static_cast<long long>(high))
        throw UsageError(std::string(what) + " " + text + " is outside " + std::to_string(low) +
                         ".." + std::to_string(high));
    return static_cast<unsigned long>(value);
}

// At most a day, so that deadlines computed from it stay well inside the
// clocks' range.
double ParseSeconds(const std::string& text, const char* what, bool zeroAllowed) {
    double seconds = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!ReadSeconds(negative ? text.substr(1) : text, &seconds))
        throw UsageError(std::string(what) + " '" + text + "' is not a number of seconds");
    if (negative) seconds = -seconds;
    if (seconds < 0 || (seconds == 0 && !zeroAllowed) || seconds > 86400)
        throw UsageError(std::string(what) + " " + text + " is outside " +
                         (zeroAllowed ? "[0" : "(0") + ", 86400] seconds");
    return seconds;
}

Target ReadTarget(const Arguments& args, const std::string& address) {
    Target target;
    target.destination = ResolveAddress(address, "address");
    if (args.Has("group")) {
        target.mode = VEK_MODE_MULTICAST;
        if (ResolveGroup(args.Value("group")) != target.destination)
            throw UsageError("address '" + address + "' is not the group given to --group");
    }
    if (args.Has("interface"))
        target.interfaceAddress = ResolveAddress(args.Value("interface"), "interface");
    return target;
}

ListenSpec ReadListenSpec(const Arguments& args) {
    const std::vector<std::string>& operands = args.Operands();
    if (operands.empty()) throw UsageError("missing PORT");
    if (operands.size() > 1) throw UsageError("too many operands");
    ListenSpec listening;
    listening.port = ParsePort(operands[0]);
    if (args.Has("count"))
        listening.count = ParseNumber(args.Value("count"), "--count", 1, 1000000000);
    if (args.Has("timeout")) listening.timeout = ParseSeconds(args.Value("timeout"), "--timeout");
    if (args.Has("group")) {
        listening.mode = VEK_MODE_MULTICAST;
        listening.group = ResolveGroup(args.Value("group"));
    }
    if (args.Has("interface"))
        listening.interfaceAddress = ResolveAddress(args.Value("interface"), "interface");
    return listening;
}

SocketLayer::SocketLayer() {
    if (!VekInitInstance())
        throw NetworkError("could not start the socket layer" + LastErrorText());
    support::StartSockets();
}

SocketLayer::~SocketLayer() {
    support::StopSockets();
    VekExitInstance();
}
