#include "Pcap.h"

#include "Cli.h"
#include "support.h"

#include <cerrno>
#include <cstring>

namespace {

const std::uint32_t kMagic = 0xA1B2C3D4;  // microsecond timestamps
const std::uint32_t kLinkTypeRaw = 101;
const std::uint32_t kSnapLength = 65535;  // a whole IPv4 packet
const std::size_t kIPv4HeaderSize = 20;
const std::size_t kUdpHeaderSize = 8;
const unsigned char kProtocolUdp = 17;
const unsigned char kTimeToLive = 64;  // not reported by the library; a usual value

// The file's fields are written little-endian whatever the host, which the
// magic number tells readers.
void Little32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The packet's fields are in network byte order.
void Big16(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

// The Internet checksum's running sum of 16-bit big-endian words.
std::uint32_t AddWords(std::uint32_t sum, const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2) sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
    return sum;
}

std::uint16_t FoldChecksum(std::uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

PcapWriter::PcapWriter(const std::string& path)
    : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) throw UsageError("could not create '" + path + "': " + support::ErrnoText(errno));
    unsigned char header[24] = {};
    Little32(header, kMagic);
    header[4] = 2;  // version 2.4
    header[6] = 4;
    Little32(header + 16, kSnapLength);
    Little32(header + 20, kLinkTypeRaw);
    Put(header, sizeof header);
}

PcapWriter::~PcapWriter() {
    if (file_) std::fclose(file_);
}

void PcapWriter::Put(const void* bytes, std::size_t size) {
    if (std::fwrite(bytes, 1, size, file_) != size && !error_) error_ = errno ? errno : EIO;
}

void PcapWriter::Write(std::chrono::system_clock::time_point when, IPv4Address source,
                       int sourcePort, IPv4Address destination, int destinationPort,
                       const std::string& payload) {
    const std::size_t udpLength = kUdpHeaderSize + payload.size();
    const std::size_t packetLength = kIPv4HeaderSize + udpLength;
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    unsigned char record[16];
    Little32(record, static_cast<std::uint32_t>(micros / 1000000));
    Little32(record + 4, static_cast<std::uint32_t>(micros % 1000000));
    Little32(record + 8, static_cast<std::uint32_t>(packetLength));
    Little32(record + 12, static_cast<std::uint32_t>(packetLength));

    unsigned char headers[kIPv4HeaderSize + kUdpHeaderSize] = {};
    unsigned char* ip = headers;
    ip[0] = 0x45;  // version 4, five 32-bit words of header
    Big16(ip + 2, static_cast<std::uint32_t>(packetLength));
    Big16(ip + 4, nextId_++);
    ip[8] = kTimeToLive;
    ip[9] = kProtocolUdp;
    const std::uint32_t from = static_cast<std::uint32_t>(source),
                        to = static_cast<std::uint32_t>(destination);
    std::memcpy(ip + 12, &from, 4);  // addresses are already in network order
    std::memcpy(ip + 16, &to, 4);
    Big16(ip + 10, FoldChecksum(AddWords(0, ip, kIPv4HeaderSize)));

    unsigned char* udp = headers + kIPv4HeaderSize;
    Big16(udp, static_cast<std::uint32_t>(sourcePort));
    Big16(udp + 2, static_cast<std::uint32_t>(destinationPort));
    Big16(udp + 4, static_cast<std::uint32_t>(udpLength));
    // The UDP checksum covers a pseudo-header: both addresses, the protocol
    // and the UDP length.
    std::uint32_t sum =
        AddWords(0, ip + 12, 8) + kProtocolUdp + static_cast<std::uint32_t>(udpLength);
    sum = AddWords(sum, udp, kUdpHeaderSize);
    sum = AddWords(sum, reinterpret_cast<const unsigned char*>(payload.data()), payload.size());
    const std::uint16_t checksum = FoldChecksum(sum);
    Big16(udp + 6, checksum ? checksum : 0xFFFF);  // 0 would mean "no checksum"

    Put(record, sizeof record);
    Put(headers, sizeof headers);
    Put(payload.data(), payload.size());
}

void PcapWriter::Flush() {
    if (std::fflush(file_) != 0 && !error_) error_ = errno ? errno : EIO;
}

bool PcapWriter::Close(std::string* reason) {
    if (std::fclose(file_) != 0 && !error_) error_ = errno ? errno : EIO;
    file_ = nullptr;
    if (error_) *reason = "could not write '" + path_ + "': " + support::ErrnoText(error_);
    return error_ == 0;
}
