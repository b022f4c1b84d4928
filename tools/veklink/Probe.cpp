#include "Probe.h"

#include <cstring>

namespace {

const char kMagic[] = "VKP1";
const std::size_t kMagicSize = 4;

void PutBigEndian(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * (width - 1 - i)) & 0xFF);
}

std::uint64_t GetBigEndian(const char* bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

bool HasMagic(const char* bytes, std::size_t size) {
    return size >= kMagicSize && std::memcmp(bytes, kMagic, kMagicSize) == 0;
}

}  // namespace

std::string MakeProbe(const ProbeHeader& header, std::size_t size) {
    std::string bytes(size < kProbeHeaderSize ? kProbeHeaderSize : size, '\0');
    for (std::size_t i = kProbeHeaderSize; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>('a' + (i - kProbeHeaderSize) % 26);
    WriteProbeHeader(header, &bytes);
    return bytes;
}

void WriteProbeHeader(const ProbeHeader& header, std::string* probe) {
    std::string& bytes = *probe;
    bytes.replace(0, kMagicSize, kMagic);
    PutBigEndian(bytes, 4, header.sequence, 4);
    PutBigEndian(bytes, 8, header.sentNs, 8);
    PutBigEndian(bytes, 16, header.replyPort, 2);
    PutBigEndian(bytes, 18, 0, 2);
}

bool ReadSequence(const std::string& bytes, std::uint32_t* sequence) {
    if (bytes.size() < 8 || !HasMagic(bytes.data(), bytes.size())) return false;
    *sequence = static_cast<std::uint32_t>(GetBigEndian(bytes.data(), 4, 4));
    return true;
}

bool ReadSentTime(const std::string& bytes, std::uint64_t* sentNs) {
    if (bytes.size() < 16) return false;
    *sentNs = GetBigEndian(bytes.data(), 8, 8);
    return true;
}

bool IsProbe(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    return size >= kProbeHeaderSize && HasMagic(bytes, size) && GetBigEndian(bytes, 16, 2) != 0;
}

int ReplyPort(const void* data, std::size_t size, int sourcePort) {
    if (!IsProbe(data, size)) return sourcePort;
    return static_cast<int>(GetBigEndian(static_cast<const char*>(data), 16, 2));
}
