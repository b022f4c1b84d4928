#include "support/PlainSocket.h"

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

namespace plain {
namespace {

#if defined(_WIN32)
typedef SOCKET Native;
typedef int AddressLength;
void CloseNative(Native s) { closesocket(s); }
#else
typedef int Native;
typedef socklen_t AddressLength;
const Native INVALID_SOCKET = -1;
void CloseNative(Native s) { close(s); }
#endif

Native AsNative(Socket s) { return static_cast<Native>(s); }

sockaddr_in Address(unsigned long address, int port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<unsigned short>(port));
    result.sin_addr.s_addr = static_cast<std::uint32_t>(address);
    return result;
}

int BufferOption(bool receive) { return receive ? SO_RCVBUF : SO_SNDBUF; }

}  // namespace

const Socket kNoSocket = static_cast<Socket>(INVALID_SOCKET);

#if defined(_WIN32)
void Start() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}
void Stop() { WSACleanup(); }
int LastError() { return WSAGetLastError(); }
void SetLastError(int error) { WSASetLastError(error); }
bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
void Start() {}
void Stop() {}
int LastError() { return errno; }
void SetLastError(int error) { errno = error; }
bool UnderWine() { return false; }
#endif

std::uint32_t Ipv4(const char* dotted) { return inet_addr(dotted); }

std::string Dotted(unsigned long address) {
    in_addr a;
    a.s_addr = static_cast<std::uint32_t>(address);
    return inet_ntoa(a);
}

std::string Endpoint(unsigned long address, int port) {
    return Dotted(address) + ":" + std::to_string(port);
}

Socket OpenUdp(std::uint32_t address, int port) {
    const Native s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return kNoSocket;
    const sockaddr_in local = Address(address, port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        CloseNative(s);
        return kNoSocket;
    }
    return static_cast<Socket>(s);
}

void Close(Socket s) {
    if (s != kNoSocket) CloseNative(AsNative(s));
}

int BoundPort(Socket s) {
    sockaddr_in local = {};
    AddressLength length = sizeof local;
    if (getsockname(AsNative(s), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_family != AF_INET)
        return -1;
    return ntohs(local.sin_port);
}

bool JoinGroup(Socket s, std::uint32_t group, std::uint32_t interfaceAddress) {
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = group;
    request.imr_interface.s_addr = interfaceAddress;
    return setsockopt(AsNative(s), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

bool SendTo(Socket s, const void* data, std::size_t length, unsigned long address, int port) {
    const sockaddr_in to = Address(address, port);
    return sendto(AsNative(s), static_cast<const char*>(data), static_cast<int>(length), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(length);
}

int RecvFrom(Socket s, void* buffer, int capacity, unsigned long* address, int* port) {
    sockaddr_in from = {};
    AddressLength fromLength = sizeof from;
    const int received = static_cast<int>(recvfrom(AsNative(s), static_cast<char*>(buffer),
                                                   capacity, 0, reinterpret_cast<sockaddr*>(&from),
                                                   &fromLength));
    if (received < 0) return -1;
    if (address) *address = from.sin_addr.s_addr;
    if (port) *port = ntohs(from.sin_port);
    return received;
}

bool WaitReadable(Socket s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsNative(s), &set);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(static_cast<int>(AsNative(s)) + 1, &set, nullptr, nullptr, &limit) == 1;
}

void SetRecvTimeout(Socket s, int milliseconds) {
#if defined(_WIN32)
    const DWORD limit = static_cast<DWORD>(milliseconds);
#else
    const timeval limit = {milliseconds / 1000, (milliseconds % 1000) * 1000};
#endif
    setsockopt(AsNative(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
               sizeof limit);
}

int BufferSize(Socket s, bool receive) {
    int size = -1;
    AddressLength length = sizeof size;
    if (getsockopt(AsNative(s), SOL_SOCKET, BufferOption(receive), reinterpret_cast<char*>(&size),
                   &length) != 0)
        return -1;
    return size;
}

bool SetBufferSize(Socket s, bool receive, int size) {
    return setsockopt(AsNative(s), SOL_SOCKET, BufferOption(receive),
                      reinterpret_cast<const char*>(&size), sizeof size) == 0;
}

void SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace plain
