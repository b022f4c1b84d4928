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

IPv4Address ParseGroup(const std::string& text) {
    const IPv4Address group = ParseAddress(text, "group");
    unsigned char bytes[4];
    const std::uint32_t network = static_cast<std::uint32_t>(group);
    std::memcpy(bytes, &network, sizeof bytes);
    if ((bytes[0] & 0xF0) != 224) throw UsageError("group '" + text + "' is outside 224.0.0.0/4");
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

std::string FormatBytes(unsigned long long bytes) {
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string FormatTotals(unsigned long datagrams, unsigned long long bytes, double seconds) {
    // A run too short to time still gets a finite rate.
    const double span = seconds > 1e-6 ? seconds : 1e-6;
    char text[160];
    std::snprintf(text, sizeof text, "%lu datagram%s, %s in %.3f s (%.1f datagrams/s, %.0f bytes/s)", datagrams,
                  datagrams == 1 ? "" : "s", FormatBytes(bytes).c_str(), seconds, datagrams / span, bytes / span);
    return text;
}

SocketLayer::SocketLayer() {
    if (!VekInitInstance()) throw NetworkError("could not start the socket layer" + platform::LastErrorText());
}

SocketLayer::~SocketLayer() { VekExitInstance(); }
