// What the platform files share among themselves: the socket calls that
// Windows Sockets has in common with BSD sockets come from the system
// headers; the few calls that differ are declared here and defined in
// PlatformPosix.cpp or PlatformWindows.cpp for Platform.cpp to use.
#ifndef VEKLINK_TOOL_PLATFORM_INTERNAL_H
#define VEKLINK_TOOL_PLATFORM_INTERNAL_H

#include <ctime>
#include <string>

#if defined(_WIN32)
#  include <winsock2.h>
#  include <ws2tcpip.h>
#else
#  include <netdb.h>
#  include <netinet/in.h>
#  include <sys/socket.h>
#endif

namespace platform {

#if defined(_WIN32)
using Socket = SOCKET;
#else
using Socket = int;
#endif

// Sets the flag StopRequested reads; safe in a signal handler.
void RequestStop();

bool IsValid(Socket socket);
void CloseSocket(Socket socket);

// Whether getaddrinfo's result says the name has no IPv4 address (rather
// than that the lookup could not be done), and its text.
bool IsUnknownName(int lookupError);
std::string LookupErrorText(int lookupError);

// The calendar fields of t, in local time or in UTC.
bool BreakDownTime(std::time_t t, bool utc, std::tm* out);

}  // namespace platform

#endif
