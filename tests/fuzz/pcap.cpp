// The capture file: datagrams of any size up to 65507 bytes, from any source
// to any destination, written by PcapWriter and read back by a reader of
// its own here: each record's lengths agree, its IPv4 header checksum and
// UDP checksum verify, and it holds the datagram's bytes.
#include "Cli.h"
#include "Fuzz.h"
#include "Pcap.h"

#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

using fuzz::Require;

namespace {

std::string path;  // the capture file, rewritten for each input

struct Datagram {
    std::chrono::system_clock::time_point when;
    IPv4Address source, destination;
    int sourcePort, destinationPort;
    std::string payload;
};

std::uint32_t Little32(const std::string& at, std::size_t i) {
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k) value = value << 8 | static_cast<unsigned char>(at[i + k]);
    return value;
}

std::uint32_t Big16(const std::string& at, std::size_t i) {
    return static_cast<unsigned char>(at[i]) << 8 | static_cast<unsigned char>(at[i + 1]);
}

// The one's-complement sum of bytes as 16-bit words (odd: the last padded
// with zero), folded; a header with its checksum in sums to 0xFFFF.
std::uint32_t Sum(const std::string& bytes, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        sum += i + 1 < bytes.size()
                   ? Big16(bytes, i)
                   : static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

std::string Address(IPv4Address address) {
    const std::uint32_t network = static_cast<std::uint32_t>(address);
    return std::string(reinterpret_cast<const char*>(&network), 4);
}

// One record at file[*at], checked against d; *at moves past it.
void CheckRecord(const std::string& file, std::size_t* at, const Datagram& d) {
    const std::size_t length = 20 + 8 + d.payload.size();
    Require(file.size() >= *at + 16 + length, "the record is in the file");
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(d.when.time_since_epoch()).count();
    Require(Little32(file, *at) == micros / 1000000 && Little32(file, *at + 4) == micros % 1000000,
            "the record's time");
    Require(Little32(file, *at + 8) == length && Little32(file, *at + 12) == length,
            "the record holds the whole packet");
    const std::string ip = file.substr(*at + 16, 20), udp = file.substr(*at + 36, 8);
    const std::string payload = file.substr(*at + 44, d.payload.size());
    *at += 16 + length;
    Require(ip[0] == 0x45 && Big16(ip, 2) == length && ip[9] == 17 && ip[8] != 0,
            "IPv4 header: version, length, protocol, time to live");
    Require((Big16(ip, 6) & 0x3FFF) == 0, "not a fragment");
    Require(ip.substr(12, 4) == Address(d.source) && ip.substr(16, 4) == Address(d.destination),
            "addresses");
    Require(Sum(ip) == 0xFFFF, "IPv4 header checksum");
    Require(Big16(udp, 0) == static_cast<std::uint32_t>(d.sourcePort) &&
                Big16(udp, 2) == static_cast<std::uint32_t>(d.destinationPort) &&
                Big16(udp, 4) == 8 + d.payload.size(),
            "UDP ports and length");
    const std::string pseudo = ip.substr(12, 8) + '\0' + '\x11' + udp.substr(4, 2);
    Require(Big16(udp, 6) != 0 && Sum(udp + payload, Sum(pseudo)) == 0xFFFF, "UDP checksum");
    Require(payload == d.payload, "the payload");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/veklink-fuzz-pcap.XXXXXX";
    const int created = mkstemp(name);
    Require(created >= 0, "a temporary file");
    close(created);
    path = name;
    std::atexit([] { unlink(path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    // Up to three datagrams, each of a size the input gives, its bytes the
    // input's last bytes repeated.
    std::vector<Datagram> datagrams(1 + input.Byte() % 3);
    for (Datagram& d : datagrams) {
        // Any time the format holds: 32 bits of seconds, and microseconds.
        d.when = std::chrono::system_clock::time_point(
            std::chrono::seconds(input.Number<std::uint32_t>()) +
            std::chrono::microseconds(input.Number<std::uint32_t>() % 1000000));
        d.source = input.Number<std::uint32_t>();
        d.destination = input.Number<std::uint32_t>();
        d.sourcePort = input.Number<std::uint16_t>();
        d.destinationPort = input.Number<std::uint16_t>();
        d.payload.resize(input.Number<std::uint32_t>() % (kMaxDatagram + 1));
    }
    const std::string fill = input.Rest();
    for (Datagram& d : datagrams)
        for (std::size_t i = 0; i < d.payload.size() && !fill.empty(); ++i)
            d.payload[i] = fill[i % fill.size()];

    PcapWriter writer(path);
    for (const Datagram& d : datagrams)
        writer.Write(d.when, d.source, d.sourcePort, d.destination, d.destinationPort, d.payload);
    std::string reason;
    Require(writer.Close(&reason), "the capture closes");

    std::ostringstream read;
    read << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string file = read.str();
    Require(file.size() >= 24 && Little32(file, 0) == 0xA1B2C3D4 && Big16(file, 4) == 0x0200 &&
                Big16(file, 6) == 0x0400 && Little32(file, 16) >= 65535 &&
                Little32(file, 20) == 101,
            "file header: magic, version 2.4, whole packets, raw IPv4");
    std::size_t at = 24;
    for (const Datagram& d : datagrams) CheckRecord(file, &at, d);
    Require(at == file.size(), "nothing after the records");
    return 0;
}
