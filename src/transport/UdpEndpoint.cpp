#include "transport/UdpEndpoint.h"

#include <stdint.h>

namespace {

bool IsPort(int port) { return port >= 0 && port <= 65535; }

// Addresses are 32-bit values; wider values (possible where unsigned long
// has 64 bits) are refused rather than cut down.
bool IsAddress(unsigned long address) { return static_cast<uint32_t>(address) == address; }

sockaddr_in SocketAddress(unsigned long address, int port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<unsigned short>(port));
    result.sin_addr.s_addr = static_cast<uint32_t>(address);
    return result;
}

}  // namespace

CUdpEndpoint::CUdpEndpoint() : socket(INVALID_SOCKET), interfaceAddress(0), groupAddress(0) {
    netEvent = WSACreateEvent();
    stopEvent = WSACreateEvent();
}

CUdpEndpoint::~CUdpEndpoint() {
    Close();
    if (netEvent != WSA_INVALID_EVENT) WSACloseEvent(netEvent);
    if (stopEvent != WSA_INVALID_EVENT) WSACloseEvent(stopEvent);
}

bool CUdpEndpoint::HasEvents() const {
    return netEvent != WSA_INVALID_EVENT && stopEvent != WSA_INVALID_EVENT;
}

int CUdpEndpoint::Create(int port, unsigned long localAddress) {
    if (!IsPort(port) || !IsAddress(localAddress)) return 0;
    Close();
    socket = WSASocketA(AF_INET, SOCK_DGRAM, 0, nullptr, 0, 0);
    if (socket == INVALID_SOCKET) return 0;
    interfaceAddress = localAddress;
    const sockaddr_in local = SocketAddress(localAddress ? localAddress : INADDR_ANY, port);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        Close();
        return 0;
    }
    return 1;
}

int CUdpEndpoint::SendTo(const void* data, int length, unsigned long address, int port) {
    if (!IsPort(port) || !IsAddress(address)) return 0;
    const sockaddr_in to = SocketAddress(address, port);
    return sendto(socket, static_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == length
               ? 1
               : 0;
}

int CUdpEndpoint::RecvFrom(void* buffer, int* length, unsigned long* sourceAddress,
                           int* sourcePort) {
    sockaddr_in from = {};
    int fromLength = sizeof from;
    *length = recvfrom(socket, static_cast<char*>(buffer), *length, 0,
                       reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (*length < 0) return 0;
    if (sourceAddress) *sourceAddress = from.sin_addr.s_addr;
    if (sourcePort) *sourcePort = ntohs(from.sin_port);
    return 1;
}

void CUdpEndpoint::Close() {
    if (socket != INVALID_SOCKET) closesocket(socket);
    socket = INVALID_SOCKET;
}

int CUdpEndpoint::SetSendBuffer(int size) { return RaiseBuffer(SO_SNDBUF, size); }

int CUdpEndpoint::SetRecvBuffer(int size) { return RaiseBuffer(SO_RCVBUF, size); }

int CUdpEndpoint::RaiseBuffer(int option, int size) {
    // Linux already gives every socket 212992 bytes each way; setting 65536
    // there would shrink the buffer, and lose more of a burst. A size that
    // cannot be read fails the set-up and leaves the buffer as it was.
    int current = 0;
    socklen_t length = sizeof current;
    if (getsockopt(socket, SOL_SOCKET, option, reinterpret_cast<char*>(&current), &length) != 0 ||
        length != sizeof current)
        return 0;
    if (current >= size) return 1;
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&size),
                      sizeof size) == 0
               ? 1
               : 0;
}

int CUdpEndpoint::SelectEvents(long eventMask) {
    if (socket == INVALID_SOCKET) return 0;
    return WSAEventSelect(socket, netEvent, eventMask) == 0 ? 1 : 0;
}

int CUdpEndpoint::JoinGroup(unsigned long group) {
    if (!IsAddress(group)) return 0;
    const uint32_t outgoing = static_cast<uint32_t>(interfaceAddress);
    setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&outgoing),
               sizeof outgoing);
    if (!SetMembership(IP_ADD_MEMBERSHIP, group)) return 0;
    groupAddress = group;
    return 1;
}

int CUdpEndpoint::LeaveGroup() { return SetMembership(IP_DROP_MEMBERSHIP, groupAddress); }

int CUdpEndpoint::SetMembership(int option, unsigned long group) {
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = static_cast<uint32_t>(group);
    request.imr_interface.s_addr =
        interfaceAddress ? static_cast<uint32_t>(interfaceAddress) : INADDR_ANY;
    return setsockopt(socket, IPPROTO_IP, option, reinterpret_cast<const char*>(&request),
                      sizeof request) == 0
               ? 1
               : 0;
}

void ReleaseEndpoint(CUdpEndpoint* endpoint) {
    if (endpoint->groupAddress != 0) endpoint->LeaveGroup();
    delete endpoint;
}
