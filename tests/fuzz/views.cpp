// The listener's views of a datagram: text, hex, JSON, raw and quiet. The
// text and hex lines and the JSON object are exactly one line with no raw
// control byte, the JSON parses (a strict checker of its own here), and
// every view gives back the payload's exact bytes.
#include "Fuzz.h"
#include "Views.h"

#include <map>

using fuzz::Require;

namespace {

// Where the payload starts in a text or hex line: "HH:MM:SS.mmm", two
// spaces, the endpoint in 21 columns, a space, the size in 11, a space.
const std::size_t kPayloadColumn = 12 + 2 + 21 + 1 + 11 + 1;

bool IsOneLine(const std::string& line) {
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        if (static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7F) return false;
    return !line.empty() && line.back() == '\n';
}

// The text view's escapes undone.
bool Unescape(const std::string& text, std::string* bytes) {
    static const std::map<char, char> kEscapes = {
        {'\\', '\\'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *bytes += text[i];
        } else if (i + 1 < text.size() && kEscapes.count(text[i + 1])) {
            *bytes += kEscapes.at(text[++i]);
        } else {
            std::string byte;
            if (text.compare(i, 2, "\\x") != 0 ||
                !fuzz::DecodeHex(text.substr(i + 2, 2), "", &byte))
                return false;
            *bytes += byte;
            i += 3;
        }
    }
    return true;
}

// A strict reader of the JSON the view writes: one object of strings and
// numbers, whose members it collects, string values decoded.
class Json {
public:
    explicit Json(const std::string& text) : text_(text) {}

    bool Object(std::map<std::string, std::string>* members) {
        if (!Take('{')) return false;
        do {
            std::string name, value;
            if (!String(&name) || !Take(':') || !(String(&value) || Number(&value))) return false;
            if (!members->emplace(name, value).second) return false;
        } while (Take(','));
        return Take('}') && at_ == text_.size();
    }

private:
    bool Take(char c) { return at_ < text_.size() && text_[at_] == c && ++at_; }

    bool Number(std::string* digits) {
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            *digits += text_[at_++];
        return !digits->empty() && (digits->size() == 1 || (*digits)[0] != '0');
    }

    // The length of the valid UTF-8 sequence at text_[at], a byte of 0x80 or
    // more: no overlong forms, surrogates or code points past U+10FFFF; 0
    // when there is none.
    std::size_t Utf8Length(std::size_t at) const {
        const unsigned char lead = static_cast<unsigned char>(text_[at]);
        const std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (n == 0 || lead > 0xF4 || at + n > text_.size()) return 0;
        std::uint32_t point = lead & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char next = static_cast<unsigned char>(text_[at + k]);
            if ((next & 0xC0) != 0x80) return 0;
            point = point << 6 | (next & 0x3F);
        }
        static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
        return point >= kSmallest[n] && point <= 0x10FFFF && !surrogate ? n : 0;
    }

    // Escapes as JSON has them, \u only below 0x80 (all that the view
    // escapes that way); raw bytes only as valid UTF-8.
    bool String(std::string* value) {
        static const std::map<char, char> kEscapes = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},
                                                      {'b', '\b'}, {'f', '\f'},  {'n', '\n'},
                                                      {'r', '\r'}, {'t', '\t'}};
        if (!Take('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            std::string code;
            if (c < 0x20) return false;
            if (c >= 0x80) {
                const std::size_t length = Utf8Length(at_ - 1);
                if (length == 0) return false;
                *value += text_.substr(at_ - 1, length);
                at_ += length - 1;
            } else if (c != '\\') {
                *value += static_cast<char>(c);
            } else if (at_ < text_.size() && kEscapes.count(text_[at_])) {
                *value += kEscapes.at(text_[at_++]);
            } else if (text_.compare(at_, 3, "u00") == 0 &&
                       fuzz::DecodeHex(text_.substr(at_ + 3, 2), "", &code) &&
                       static_cast<unsigned char>(code[0]) < 0x80) {
                *value += code;
                at_ += 5;
            } else {
                return false;
            }
        }
        return Take('"');
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

void CheckLine(const Delivery& d, const std::string& line, View view) {
    Require(IsOneLine(line), "one line, no control byte");
    if (d.length < 0) {
        Require(line.compare(12, std::string::npos, "  receive failed\n") == 0, "failure line");
        return;
    }
    const std::string payload = line.substr(kPayloadColumn, line.size() - kPayloadColumn - 1);
    std::string bytes;
    const bool read =
        view == View::kHex ? fuzz::DecodeHex(payload, " ", &bytes) : Unescape(payload, &bytes);
    Require(read && bytes == d.bytes, "the line gives back the payload");
}

void CheckJson(const Delivery& d, const std::string& line) {
    Require(IsOneLine(line), "one JSON line, no control byte");
    std::map<std::string, std::string> members;
    Require(Json(line.substr(0, line.size() - 1)).Object(&members), "strict JSON");
    Require(members.count("time") == 1, "a time");
    if (d.length < 0) {
        Require(members.count("error") == 1 && members.size() == 2, "the failure alone");
        return;
    }
    std::string bytes;
    Require(fuzz::DecodeHex(members["hex"], "", &bytes) && bytes == d.bytes, "hex is the payload");
    Require(members["length"] == std::to_string(d.bytes.size()), "length");
    Require(!members.count("text") || members["text"] == d.bytes, "text is the payload");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    Delivery d{};
    // Any time from 1970 to 2106, to the millisecond, as the clock gives it.
    d.time = std::chrono::system_clock::time_point(
        std::chrono::seconds(input.Number<std::uint32_t>()) +
        std::chrono::milliseconds(input.Number<std::uint16_t>() % 1000));
    d.source = input.Number<std::uint32_t>();
    d.port = input.Number<std::uint16_t>();
    const bool failed = input.Byte() == 0xFF;
    d.bytes = failed ? std::string() : input.Rest().substr(0, kMaxDatagram);
    d.length = failed ? -1 : static_cast<int>(d.bytes.size());
    for (View view : {View::kText, View::kHex}) CheckLine(d, Render(d, view), view);
    CheckJson(d, Render(d, View::kJson));
    Require(Render(d, View::kRaw) == d.bytes && Render(d, View::kQuiet).empty(), "raw and quiet");
    return 0;
}
