// The socket calls written once, over what Windows Sockets shares with BSD
// sockets.
#include "sockets.h"

namespace support {
namespace {

sockaddr_in SocketAddress(unsigned long address, int port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<unsigned short>(port));
    result.sin_addr.s_addr = static_cast<std::uint32_t>(address);
    return result;
}

int BufferOption(bool receive) { return receive ? SO_RCVBUF : SO_SNDBUF; }

addrinfo* LookUp(const std::string& name, int flags, int* error) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    *error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    return *error == 0 ? found : nullptr;
}

}  // namespace

Socket NewUdp() {
    const Native s = ::socket(AF_INET, SOCK_DGRAM, 0);
    return s == AsNative(kNoSocket) ? kNoSocket : static_cast<Socket>(s);
}

Socket OpenUdp(unsigned long address, int port) {
    const Socket s = NewUdp();
    if (s != kNoSocket && !Bind(s, address, port)) {
        Close(s);
        return kNoSocket;
    }
    return s;
}

bool Bind(Socket s, unsigned long address, int port) {
    const sockaddr_in local = SocketAddress(address, port);
    return bind(AsNative(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool Connect(Socket s, unsigned long address, int port) {
    const sockaddr_in remote = SocketAddress(address, port);
    return connect(AsNative(s), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0;
}

bool JoinGroup(Socket s, unsigned long group, unsigned long interfaceAddress) {
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = static_cast<std::uint32_t>(group);
    request.imr_interface.s_addr = static_cast<std::uint32_t>(interfaceAddress);
    return setsockopt(AsNative(s), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

int BoundPort(Socket s) {
    sockaddr_in local = {};
    socklen_t length = sizeof local;
    if (getsockname(AsNative(s), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_family != AF_INET)
        return -1;
    return ntohs(local.sin_port);
}

bool SendTo(Socket s, const void* data, std::size_t length, unsigned long address, int port) {
    const sockaddr_in to = SocketAddress(address, port);
    return sendto(AsNative(s), static_cast<const char*>(data), static_cast<int>(length), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(length);
}

int RecvFrom(Socket s, void* buffer, int capacity, unsigned long* address, int* port) {
    sockaddr_in from = {};
    socklen_t fromLength = sizeof from;
    const int received =
        static_cast<int>(recvfrom(AsNative(s), static_cast<char*>(buffer), capacity, 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength));
    if (received < 0) return -1;
    if (address) *address = from.sin_addr.s_addr;
    if (port) *port = ntohs(from.sin_port);
    return received;
}

bool WaitReadable(Socket s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsNative(s), &set);
    timeval limit = TimevalOf(timeoutMs);
    return select(static_cast<int>(AsNative(s)) + 1, &set, nullptr, nullptr, &limit) == 1;
}

int BufferSize(Socket s, bool receive) {
    int size = -1;
    socklen_t length = sizeof size;
    if (getsockopt(AsNative(s), SOL_SOCKET, BufferOption(receive), reinterpret_cast<char*>(&size),
                   &length) != 0)
        return -1;
    return size;
}

bool SetBufferSize(Socket s, bool receive, int size) {
    return setsockopt(AsNative(s), SOL_SOCKET, BufferOption(receive),
                      reinterpret_cast<const char*>(&size), sizeof size) == 0;
}

Lookup LookUpIpv4(const std::string& name, unsigned long* address, std::string* reason) {
    int error = 0;
    addrinfo* found = LookUp(name, 0, &error);
    if (!found) {
        *reason = LookupErrorText(error);
        return IsUnknownName(error) ? Lookup::kUnknown : Lookup::kFailed;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return Lookup::kFound;
}

bool IsNumericAddress(const std::string& text) {
    int error = 0;
    addrinfo* found = LookUp(text, AI_NUMERICHOST, &error);
    if (found) freeaddrinfo(found);
    return found != nullptr;
}

}  // namespace support
