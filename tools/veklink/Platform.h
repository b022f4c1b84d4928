// What the tool asks of the operating system besides the library: signals,
// clocks, error texts, the terminal, host names, plain sockets that find out
// which set-up step fails, and the interface list with names.
// Platform.cpp holds what both socket APIs share; PlatformPosix.cpp and
// PlatformWindows.cpp hold the rest, one of them chosen by the build.
#ifndef VEKLINK_TOOL_PLATFORM_H
#define VEKLINK_TOOL_PLATFORM_H

#include "VekLink.h"

#include <chrono>
#include <string>
#include <vector>

namespace platform {

// Makes Ctrl-C (and SIGTERM natively) set a flag instead of ending the
// process, so that a command can stop its sender or listener and print its
// summary.
void InstallStopHandler();
bool StopRequested();

// Sleeps for about milliseconds, returning early once a stop is requested.
void SleepUnlessStopped(unsigned long milliseconds);

// "HH:MM:SS.mmm" in local time.
std::string TimeOfDay(std::chrono::system_clock::time_point when);
// "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC.
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

// The last error of the calling thread: errno natively, GetLastError on
// Windows (the same value WSAGetLastError reads). Read it right after the
// failed call.
int LastError();
// The platform's text for an error: strerror natively; on Windows the text
// FormatMessage has for it, with the number in brackets.
std::string ErrorText(int error);
// ": " and the text of LastError(); empty when there is no last error.
std::string LastErrorText();

// What an error from binding or connecting a socket means, for the hints the
// tool gives.
enum class ErrorKind { kOther, kInUse, kNotLocal, kDenied, kUnreachable };
ErrorKind KindOf(int error);

// Standard input and output as bytes: Windows would otherwise treat Ctrl-Z
// as the end of input and change line ends both ways.
void UseBinaryInput();
void UseBinaryOutput();
bool OutputIsTerminal();

// Host names, resolved to IPv4 (getaddrinfo with AF_INET).
enum class Lookup { kFound, kUnknown, kFailed };
// kUnknown: the resolver has no IPv4 address for name; kFailed: it could not
// find out (no name server reachable...). reason gets the resolver's text.
Lookup LookUpIPv4(const std::string& name, IPv4Address* address, std::string* reason);
// True when the resolver itself reads text as a numeric address, as it does
// the shorthands "10.1" and "0x7f.1".
bool IsNumericAddress(const std::string& text);

// The steps the library takes to set up a sender or listener, taken again by
// a plain socket to find the one that fails.
enum class SetupStep { kNone, kSocket, kBind, kJoin, kRoute };
struct SetupFailure {
    SetupStep step;
    int error;  // the platform's error at that step
};
// Opens a UDP socket, binds port on interfaceAddress and, when group is not 0,
// joins it there. A refused join on the default interface is put down to the
// route when no route leads to the group.
SetupFailure RetrySetup(IPv4Address interfaceAddress, int port, IPv4Address group);
// A port that no socket holds on interfaceAddress: bound by a plain socket,
// which is closed again. Returns -1 with failure filled in.
int PickFreePort(IPv4Address interfaceAddress, SetupFailure* failure);

struct NetworkInterface {
    std::string name;
    bool up = false;
    std::vector<IPv4Address> addresses;  // IPv4, network byte order
    std::string hardwareAddress;         // 6 bytes, or empty
};
// Every interface the platform knows, in its order.
std::vector<NetworkInterface> ListInterfaces();

}  // namespace platform

#endif
