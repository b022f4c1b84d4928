// What the fuzz targets share: reading a fuzz input as fields, failing a
// check so that libFuzzer keeps the input, and the decoders the targets
// check the tool's output with, written apart from the tool's own.
#ifndef VEKLINK_TESTS_FUZZ_H
#define VEKLINK_TESTS_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A failed check: the message, then an abort, which libFuzzer reports as a
// crash and saves the input of.
inline void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The input as fields, front to back; past its end every field reads 0.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ == size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Little-endian, bytes of an unsigned type.
    template <typename T>
    T Number() {
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(Byte()) << (8 * i);
        return value;
    }
    // What the input holds after the fields read so far.
    std::string Rest() {
        const std::string rest(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return rest;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Traffic stays in the private namespace that scripts/in-netns makes.
inline void RequireNamespace() {
    const char* inside = std::getenv("VEKLINK_IN_NETNS");
    Require(inside && std::string(inside) == "1", "run inside scripts/in-netns");
}

inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // the tool writes lower case only
}

// Lower-case hex digit pairs, each pair after the first preceded by
// separator (empty: none); false for anything else.
inline bool DecodeHex(const std::string& text, const std::string& separator, std::string* bytes) {
    bytes->clear();
    for (std::size_t at = 0; at < text.size(); at += 2) {
        if (!bytes->empty()) {
            if (text.compare(at, separator.size(), separator) != 0) return false;
            at += separator.size();
        }
        if (at + 2 > text.size()) return false;
        const int high = HexValue(text[at]), low = HexValue(text[at + 1]);
        if (high < 0 || low < 0) return false;
        *bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

}  // namespace fuzz

#endif
