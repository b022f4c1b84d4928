// Test support: an independent UDP peer written on the platform's own sockets
// (Winsock on Windows, BSD sockets elsewhere), plus a few platform facts the
// tests need. Nothing here goes through the library.
#ifndef VEKLINK_TEST_PEER_H
#define VEKLINK_TEST_PEER_H

#include <cstdint>
#include <string>
#include <vector>

namespace test {

// Network-order IPv4 address of a dotted quad, as the library takes it.
unsigned long Ipv4(const char* dotted);
std::string Dotted(unsigned long address);

struct Datagram {
    std::vector<unsigned char> bytes;
    unsigned long sourceAddress = 0;
    int sourcePort = 0;
};

class Peer {
public:
    // A UDP socket bound to address:port (port 0: the platform's choice).
    explicit Peer(const char* address = "127.0.0.1", int port = 0);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Valid() const;
    int Port() const;
    std::uintptr_t Socket() const { return socket_; }
    bool JoinGroup(const char* group, const char* interfaceAddress = "0.0.0.0");
    bool SendTo(const void* data, std::size_t length, unsigned long address, int port);
    bool SendTo(const std::string& text, unsigned long address, int port) {
        return SendTo(text.data(), text.size(), address, port);
    }
    // The next datagram, or false when none arrives within timeoutMs.
    bool Receive(Datagram* datagram, int timeoutMs = 3000);

private:
    std::uintptr_t socket_;
};

// True under Wine, whose socket layer differs from Windows in a few measured
// ways (start-up counting above all).
bool UnderWine();
// The platform's last socket error, and a way to set it to a marker value.
int LastSocketError();
void SetLastSocketError(int error);
// Local port of a socket value the library handed out.
int LocalPort(std::uintptr_t socket);
// A socket's send or receive buffer size as the platform reports it, and
// the platform's own way to set it.
int BufferSize(std::uintptr_t socket, bool receive);
bool SetBufferSize(std::uintptr_t socket, bool receive, int size);
// What the platform gives a plain UDP socket: its buffer by default, and
// after asking for 65536 bytes.
struct PlainBuffer {
    int byDefault = -1;
    int after65536 = -1;
};
PlainBuffer PlainSocketBuffer(bool receive);
// Waits until the socket has a datagram to read; false after timeoutMs.
bool WaitReadable(std::uintptr_t socket, int timeoutMs = 3000);
void SleepMs(int milliseconds);

}  // namespace test

#endif
