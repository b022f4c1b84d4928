// A capture file of what a listener received, in the classic pcap format
// with link type RAW (each record one IPv4 packet). The library hands over
// only the payload and its source, so the IPv4 and UDP headers are made up
// from the source, the destination and the ports, with valid checksums, for
// packet analysers (Wireshark, tcpdump -r) to open.
#ifndef VEKLINK_TOOL_PCAP_H
#define VEKLINK_TOOL_PCAP_H

#include "VekLink.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class PcapWriter {
public:
    // Creates (or truncates) path and writes the file header; throws
    // UsageError when the file cannot be created.
    explicit PcapWriter(const std::string& path);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    void Write(std::chrono::system_clock::time_point when, IPv4Address source, int sourcePort,
               IPv4Address destination, int destinationPort, const std::string& payload);
    // Flushes what was written, so that a reader sees whole records.
    void Flush();
    // Closes the file; false with reason set when any write failed.
    bool Close(std::string* reason);

private:
    void Put(const void* bytes, std::size_t size);

    std::string path_;
    std::FILE* file_;
    int error_ = 0;             // the first write error, or 0
    std::uint16_t nextId_ = 1;  // the IPv4 identification field
};

#endif
