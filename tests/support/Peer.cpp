#include "support/Peer.h"

#if defined(_WIN32)
#  include <winsock2.h>
#  include <ws2tcpip.h>
#  include <windows.h>
#else
#  include <arpa/inet.h>
#  include <cerrno>
#  include <netinet/in.h>
#  include <sys/select.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

#include <chrono>
#include <thread>

namespace test {
namespace {

#if defined(_WIN32)
typedef SOCKET Native;
typedef int AddressLength;
const Native kNoSocket = INVALID_SOCKET;
void CloseNative(Native s) { closesocket(s); }
// Each peer keeps the socket layer started for its own lifetime, balanced.
void StartLayer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}
void StopLayer() { WSACleanup(); }
#else
typedef int Native;
typedef socklen_t AddressLength;
const Native kNoSocket = -1;
void CloseNative(Native s) { close(s); }
void StartLayer() {}
void StopLayer() {}
#endif

Native AsNative(std::uintptr_t s) { return static_cast<Native>(s); }

bool Readable(Native s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &limit) == 1;
}

sockaddr_in Address(unsigned long address, int port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<unsigned short>(port));
    result.sin_addr.s_addr = static_cast<std::uint32_t>(address);
    return result;
}

}  // namespace

unsigned long Ipv4(const char* dotted) { return inet_addr(dotted); }

std::string Dotted(unsigned long address) {
    in_addr a;
    a.s_addr = static_cast<std::uint32_t>(address);
    return inet_ntoa(a);
}

Peer::Peer(const char* address, int port) : socket_(static_cast<std::uintptr_t>(kNoSocket)) {
    StartLayer();
    Native s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == kNoSocket) return;
    const sockaddr_in local = Address(Ipv4(address), port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        CloseNative(s);
        return;
    }
    socket_ = static_cast<std::uintptr_t>(s);
}

Peer::~Peer() {
    if (Valid()) CloseNative(AsNative(socket_));
    StopLayer();
}

bool Peer::Valid() const { return AsNative(socket_) != kNoSocket; }

int Peer::Port() const { return LocalPort(socket_); }

bool Peer::JoinGroup(const char* group, const char* interfaceAddress) {
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = Ipv4(group);
    request.imr_interface.s_addr = Ipv4(interfaceAddress);
    return setsockopt(AsNative(socket_), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

bool Peer::SendTo(const void* data, std::size_t length, unsigned long address, int port) {
    const sockaddr_in to = Address(address, port);
    return sendto(AsNative(socket_), static_cast<const char*>(data), static_cast<int>(length), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(length);
}

bool Peer::Receive(Datagram* datagram, int timeoutMs) {
    if (!Readable(AsNative(socket_), timeoutMs)) return false;
    std::vector<unsigned char> buffer(65536);
    sockaddr_in from = {};
    AddressLength fromLength = sizeof from;
    const int n = recvfrom(AsNative(socket_), reinterpret_cast<char*>(buffer.data()),
                           static_cast<int>(buffer.size()), 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return false;
    buffer.resize(static_cast<std::size_t>(n));
    datagram->bytes.swap(buffer);
    datagram->sourceAddress = from.sin_addr.s_addr;
    datagram->sourcePort = ntohs(from.sin_port);
    return true;
}

int LocalPort(std::uintptr_t socket) {
    sockaddr_in local = {};
    AddressLength length = sizeof local;
    if (getsockname(AsNative(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return -1;
    return ntohs(local.sin_port);
}

int BufferSize(std::uintptr_t socket, bool receive) {
    int size = -1;
    AddressLength length = sizeof size;
    if (getsockopt(AsNative(socket), SOL_SOCKET, receive ? SO_RCVBUF : SO_SNDBUF,
                   reinterpret_cast<char*>(&size), &length) != 0)
        return -1;
    return size;
}

bool SetBufferSize(std::uintptr_t socket, bool receive, int size) {
    return setsockopt(AsNative(socket), SOL_SOCKET, receive ? SO_RCVBUF : SO_SNDBUF,
                      reinterpret_cast<const char*>(&size), sizeof size) == 0;
}

PlainBuffer PlainSocketBuffer(bool receive) {
    PlainBuffer result;
    Peer plain;
    result.byDefault = BufferSize(plain.Socket(), receive);
    if (SetBufferSize(plain.Socket(), receive, 65536))
        result.after65536 = BufferSize(plain.Socket(), receive);
    return result;
}

bool WaitReadable(std::uintptr_t socket, int timeoutMs) { return Readable(AsNative(socket), timeoutMs); }

void SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

#if defined(_WIN32)
bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

int LastSocketError() { return WSAGetLastError(); }
void SetLastSocketError(int error) { WSASetLastError(error); }
#else
bool UnderWine() { return false; }

int LastSocketError() { return errno; }
void SetLastSocketError(int error) { errno = error; }
#endif

}  // namespace test
