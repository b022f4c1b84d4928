// The probes of "ping" and "echo". A probe is one datagram, all fields
// big-endian:
//   bytes 0-3    "VKP1"
//   bytes 4-7    sequence number, counting from 1
//   bytes 8-15   the prober's send time, nanoseconds of its own monotonic
//                clock (opaque to responders)
//   bytes 16-17  the reply port, where the prober listens
//   bytes 18-19  zero
//   bytes 20-    filler up to the probe's size: the letters a..z repeated
// A responder returns a probe unchanged to its source address at the reply
// port: the library's listener cannot send, so the prober's replies arrive
// on a port other than the one its probes leave from.
#ifndef VEKLINK_TOOL_PROBE_H
#define VEKLINK_TOOL_PROBE_H

#include <cstddef>
#include <cstdint>
#include <string>

const std::size_t kProbeHeaderSize = 20;

struct ProbeHeader {
    std::uint32_t sequence = 0;
    std::uint64_t sentNs = 0;
    std::uint16_t replyPort = 0;
};

// The probe of header at size bytes (at least kProbeHeaderSize).
std::string MakeProbe(const ProbeHeader& header, std::size_t size);
// Rewrites the header of a probe that MakeProbe made: a prober stamps each
// probe just before it sends it, without writing the filler again.
void WriteProbeHeader(const ProbeHeader& header, std::string* probe);

// True when bytes start with "VKP1" and hold a sequence number, which goes
// into *sequence.
bool ReadSequence(const std::string& bytes, std::uint32_t* sequence);
// True when bytes are long enough to hold a send time, which goes into
// *sentNs.
bool ReadSentTime(const std::string& bytes, std::uint64_t* sentNs);

// True for a probe that a responder answers at its reply port: at least
// kProbeHeaderSize bytes, "VKP1", and a reply port other than 0.
bool IsProbe(const void* data, std::size_t size);

// The port a responder returns a datagram of size bytes to: a probe's reply
// port; for any other datagram sourcePort, as a UDP echo does.
int ReplyPort(const void* data, std::size_t size, int sourcePort);

#endif
