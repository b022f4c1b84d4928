#include "support/Peer.h"

#include <atomic>

namespace test {

int NextPort() {
    static std::atomic<int> next{20000};
    return next++;
}

// Each peer keeps the socket layer started for its own lifetime.
Peer::Peer(const char* address, int port) : socket_(support::kNoSocket) {
    support::StartSockets();
    socket_ = support::OpenUdp(Ipv4(address), port);
}

Peer::~Peer() {
    support::Close(socket_);
    support::StopSockets();
}

bool Peer::Receive(Datagram* datagram, int timeoutMs) {
    if (!WaitReadable(socket_, timeoutMs)) return false;
    std::vector<unsigned char> buffer(65536);
    const int n = support::RecvFrom(socket_, buffer.data(), static_cast<int>(buffer.size()),
                                    &datagram->sourceAddress, &datagram->sourcePort);
    if (n < 0) return false;
    buffer.resize(static_cast<std::size_t>(n));
    datagram->bytes.swap(buffer);
    return true;
}

PlainBuffer PlainSocketBuffer(bool receive) {
    PlainBuffer result;
    Peer plain;
    result.byDefault = BufferSize(plain.Socket(), receive);
    if (SetBufferSize(plain.Socket(), receive, 65536))
        result.after65536 = BufferSize(plain.Socket(), receive);
    return result;
}

}  // namespace test
