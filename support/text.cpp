// Addresses, endpoints, hardware addresses, hex, JSON strings and times as
// text, and back.
#include "support.h"

#include <cstdio>
#include <cstring>

namespace support {
namespace {

// The four bytes of an address, in the order they sit in memory.
void BytesOf(unsigned long address, unsigned char (&bytes)[4]) {
    const std::uint32_t network = static_cast<std::uint32_t>(address);
    std::memcpy(bytes, &network, sizeof bytes);
}

// Reads one part of a dotted quad at text[*at], and the dot after it unless
// it is the last part.
bool ReadPart(const std::string& text, std::size_t* at, bool last, unsigned char* part) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9' && digits < 4) {
        value = value * 10 + static_cast<unsigned>(text[(*at)++] - '0');
        ++digits;
    }
    const bool separated = last ? *at == text.size() : *at < text.size() && text[(*at)++] == '.';
    *part = static_cast<unsigned char>(value);
    return digits > 0 && digits <= 3 && value <= 255 && separated;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A character JSON writes as an escape, or 0 for one it writes as itself.
const char* JsonEscape(unsigned char c, char (&spelled)[8]) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    if (c >= 0x20 && c != 0x7F) return nullptr;
    std::snprintf(spelled, sizeof spelled, "\\u%04x", c);
    return spelled;
}

std::string FormatTime(std::chrono::system_clock::time_point when, bool utc, const char* layout,
                       const char* suffix) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const long milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000);
    std::tm fields = {};
    char text[48];
    if (!CalendarTime(seconds, utc, &fields) || !std::strftime(text, sizeof text, layout, &fields))
        return "--:--:--.---";
    char rest[16];
    std::snprintf(rest, sizeof rest, ".%03ld%s", milliseconds, suffix);
    return std::string(text) + rest;
}

}  // namespace

std::string ErrnoText(int error) {
#if defined(_WIN32)
    return std::strerror(error);  // the C runtime keeps its buffer per thread
#else
    char buffer[128];
    return strerror_r(error, buffer, sizeof buffer);  // GNU's: returns the text
#endif
}

bool ParseIpv4(const std::string& text, unsigned long* address) {
    unsigned char bytes[4];
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part)
        if (!ReadPart(text, &at, part == 3, &bytes[part])) return false;
    // Network byte order is the order of the bytes in memory.
    std::uint32_t network;
    std::memcpy(&network, bytes, sizeof network);
    *address = network;
    return true;
}

unsigned long Ipv4(const char* dotted) {
    unsigned long address = 0;
    return ParseIpv4(dotted, &address) ? address : 0xFFFFFFFFul;
}

std::string Dotted(unsigned long address) {
    unsigned char bytes[4];
    BytesOf(address, bytes);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string Endpoint(unsigned long address, int port) {
    return Dotted(address) + ":" + std::to_string(port);
}

std::string Mac(const unsigned char* c) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", c[0], c[1], c[2], c[3], c[4],
                  c[5]);
    return text;
}

std::string Hex(const std::string& bytes, const char* separator) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty()) text += separator;
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

bool ParseHex(const std::string& hex, std::string* bytes) {
    if (hex.size() % 2) return false;
    std::string result;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        result += static_cast<char>(high * 16 + low);
    }
    bytes->swap(result);
    return true;
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        char spelled[8];
        const char* escape = JsonEscape(c, spelled);
        if (escape)
            quoted += escape;
        else
            quoted += static_cast<char>(c);
    }
    return quoted + "\"";
}

std::string TimeOfDay(std::chrono::system_clock::time_point when) {
    return FormatTime(when, false, "%H:%M:%S", "");
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    return FormatTime(when, true, "%Y-%m-%dT%H:%M:%S", "Z");
}

}  // namespace support
