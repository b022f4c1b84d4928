// What the socket files share among themselves: the calls Windows Sockets has
// in common with BSD sockets come from the system's headers, included here;
// the few that differ are declared here and defined in net_posix.cpp or
// net_win32.cpp.
#ifndef VEKLINK_SUPPORT_SOCKETS_H
#define VEKLINK_SUPPORT_SOCKETS_H

#if defined(_WIN32)
#  include <winsock2.h>
#  include <ws2tcpip.h>
#else
#  include <arpa/inet.h>
#  include <netdb.h>
#  include <netinet/in.h>
#  include <sys/select.h>
#  include <sys/socket.h>
#endif

#include <string>

#include "support.h"

namespace support {

// SOCKET on Windows, a descriptor natively.
using Native = decltype(::socket(AF_INET, SOCK_DGRAM, 0));
inline Native AsNative(Socket s) { return static_cast<Native>(s); }

// A span of milliseconds as select and SO_RCVTIMEO take it.
inline timeval TimevalOf(int milliseconds) {
    timeval limit = {};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>(milliseconds % 1000) * 1000;
    return limit;
}

// Whether getaddrinfo's error says the name has no IPv4 address (rather than
// that the lookup could not be done), and its text.
bool IsUnknownName(int lookupError);
std::string LookupErrorText(int lookupError);

}  // namespace support

#endif
