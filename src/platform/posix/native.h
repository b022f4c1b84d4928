// System headers for the POSIX layer's own sources. The Windows declarations
// reuse names that the system defines as macros, so the system values the
// layer needs are taken into namespace native first and the macros removed.
#ifndef VEKLINK_POSIX_NATIVE_H
#define VEKLINK_POSIX_NATIVE_H

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace native {
constexpr int afInet = AF_INET;
constexpr int sockDgram = SOCK_DGRAM;
constexpr int solSocket = SOL_SOCKET;
constexpr int soSndBuf = SO_SNDBUF;
constexpr int soRcvBuf = SO_RCVBUF;
constexpr int ipprotoIp = IPPROTO_IP;
constexpr int ipMulticastIf = IP_MULTICAST_IF;
constexpr int ipAddMembership = IP_ADD_MEMBERSHIP;
constexpr int ipDropMembership = IP_DROP_MEMBERSHIP;
}  // namespace native

#undef AF_INET
#undef SOCK_DGRAM
#undef SOL_SOCKET
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef IPPROTO_IP
#undef IP_MULTICAST_IF
#undef IP_ADD_MEMBERSHIP
#undef IP_DROP_MEMBERSHIP
#undef INADDR_ANY
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

#include "winapi.h"

namespace win {
// True while start-ups outnumber clean-ups.
bool SocketLayerStarted();

// The descriptor behind a socket value, or -1 for a value no descriptor has.
inline int Descriptor(SOCKET s) { return s <= SOCKET(INT_MAX) ? static_cast<int>(s) : -1; }

// A socket-layer failure: errno set, the Windows failure value returned.
inline int Fail(int error) {
    errno = error;
    return SOCKET_ERROR;
}
}  // namespace win

#endif
