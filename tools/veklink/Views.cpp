#include "Views.h"

#include "Status.h"
#include "support.h"

#include <cstdio>

namespace {

// Text with anything that would break the one-line layout escaped.
std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        char escaped[8];
        if (c == '\\')
            text += "\\\\";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\t')
            text += "\\t";
        else if (c >= 0x20 && c < 0x7F)
            text += static_cast<char>(c);
        else {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

bool IsPlainCharacter(unsigned char c) {
    return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0x7F;
}

// The length of the UTF-8 sequence at bytes[i] (no overlong forms,
// surrogates or code points past U+10FFFF), or 0 when it is not one.
std::size_t SequenceAt(const std::string& bytes, std::size_t i) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || lead >= 0xF8 || i + extra >= bytes.size()) return 0;
    unsigned long point = lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        point = point << 6 | (next & 0x3F);
    }
    static const unsigned long kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return extra + 1;
}

// Valid UTF-8 with no control characters other than tab and line ends.
bool IsText(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length =
            lead < 0x80 ? (IsPlainCharacter(lead) ? 1 : 0) : SequenceAt(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string JsonLine(const Delivery& d) {
    const std::string time = "{\"time\":" + support::JsonString(support::UtcTimestamp(d.time));
    if (d.length < 0) return time + ",\"error\":\"receive failed\"}";
    return time + ",\"source\":" + support::JsonString(support::Dotted(d.source)) +
           ",\"port\":" + std::to_string(d.port) + ",\"length\":" + std::to_string(d.bytes.size()) +
           ",\"hex\":\"" + support::Hex(d.bytes, "") + "\"" +
           (IsText(d.bytes) ? ",\"text\":" + support::JsonString(d.bytes) : std::string()) + "}";
}

// text, padded with spaces to width at least.
std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

std::string Line(const Delivery& d, View view) {
    const std::string time = support::TimeOfDay(d.time);
    if (d.length < 0) return time + "  receive failed\n";
    const std::string payload =
        view == View::kHex ? support::Hex(d.bytes, " ") : Printable(d.bytes);
    return time + "  " + Padded(support::Endpoint(d.source, d.port), 21) + " " +
           Padded(FormatBytes(d.bytes.size()), 11) + " " + payload + "\n";
}

}  // namespace

View ReadView(const Arguments& args) {
    const int given = args.Has("hex") + args.Has("quiet") + args.Has("raw") + args.Has("json");
    if (given > 1) throw UsageError("give only one of --hex, --quiet, --raw or --json");
    if (args.Has("hex")) return View::kHex;
    if (args.Has("quiet")) return View::kQuiet;
    if (args.Has("raw")) return View::kRaw;
    return args.Has("json") ? View::kJson : View::kText;
}

std::string Render(const Delivery& d, View view) {
    switch (view) {
    case View::kQuiet: return std::string();
    case View::kRaw: return d.bytes;
    case View::kJson: return JsonLine(d) + "\n";
    case View::kText:
    case View::kHex: return Line(d, view);
    }
    return std::string();
}

void Print(const Delivery& d, View view) {
    const std::string text = Render(d, view);
    std::fwrite(text.data(), 1, text.size(), stdout);
}
