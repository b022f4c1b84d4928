// Test support: an independent UDP peer on the platform's own sockets (the
// support layer's), plus the plain-socket facts the tests read. Nothing here
// goes through the library.
#ifndef VEKLINK_TEST_PEER_H
#define VEKLINK_TEST_PEER_H

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

namespace test {

using support::BufferSize;
using support::Dotted;
using support::Ipv4;
using support::SetBufferSize;
using support::SleepMs;
using support::UnderWine;
using support::WaitReadable;

struct Datagram {
    std::vector<unsigned char> bytes;
    unsigned long sourceAddress = 0;
    int sourcePort = 0;
};

// A port that no other test of this process uses, from a range below the
// one the platform picks ports from for sockets bound to port 0 (32768 up on
// Linux, where Wine's sockets live too): a test's port can be neither a
// sender's nor an earlier test's.
int NextPort();

class Peer {
public:
    // A UDP socket bound to address:port (port 0: the platform's choice).
    explicit Peer(const char* address = "127.0.0.1", int port = 0);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Valid() const { return socket_ != support::kNoSocket; }
    int Port() const { return support::BoundPort(socket_); }
    support::Socket Socket() const { return socket_; }
    bool JoinGroup(const char* group, const char* interfaceAddress = "0.0.0.0") {
        return support::JoinGroup(socket_, Ipv4(group), Ipv4(interfaceAddress));
    }
    bool SendTo(const void* data, std::size_t length, unsigned long address, int port) {
        return support::SendTo(socket_, data, length, address, port);
    }
    bool SendTo(const std::string& text, unsigned long address, int port) {
        return SendTo(text.data(), text.size(), address, port);
    }
    // The next datagram, or false when none arrives within timeoutMs.
    bool Receive(Datagram* datagram, int timeoutMs = 3000);

private:
    support::Socket socket_;
};

// What the platform gives a plain UDP socket: its buffer by default, and
// after asking for 65536 bytes.
struct PlainBuffer {
    int byDefault = -1;
    int after65536 = -1;
};
PlainBuffer PlainSocketBuffer(bool receive);

}  // namespace test

#endif
