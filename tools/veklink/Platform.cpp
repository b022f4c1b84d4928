// The parts of the platform layer that read the same on both platforms: the
// stop flag, clocks, and the plain-socket work, written once over the calls
// that Windows Sockets shares with BSD sockets.
#include "Platform.h"
#include "PlatformInternal.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace platform {
namespace {

// Set from a signal handler or the console's control thread: a lock-free
// atomic is safe in both.
std::atomic<bool> stopRequested(false);

sockaddr_in SocketAddress(IPv4Address address, int port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<unsigned short>(port));
    result.sin_addr.s_addr = static_cast<std::uint32_t>(address);
    return result;
}

// A UDP socket that closes itself; each call returns false with the
// platform's last error set.
class UdpSocket {
public:
    UdpSocket() : socket_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~UdpSocket() {
        if (IsOpen()) CloseSocket(socket_);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool IsOpen() const { return IsValid(socket_); }

    bool Bind(IPv4Address address, int port) {
        const sockaddr_in local = SocketAddress(address, port);
        return bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }

    // Sends nothing: on a UDP socket it only looks up the route.
    bool Connect(IPv4Address address, int port) {
        const sockaddr_in remote = SocketAddress(address, port);
        return connect(socket_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0;
    }

    bool Join(IPv4Address group, IPv4Address interfaceAddress) {
        ip_mreq request = {};
        request.imr_multiaddr.s_addr = static_cast<std::uint32_t>(group);
        request.imr_interface.s_addr = static_cast<std::uint32_t>(interfaceAddress);
        return setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                          sizeof request) == 0;
    }

    int LocalPort() const {
        sockaddr_in local = {};
        socklen_t length = sizeof local;
        if (getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return -1;
        return ntohs(local.sin_port);
    }

private:
    Socket socket_;
};

// The discard port: connecting there sends nothing, and any port would do.
const int kRouteProbePort = 9;

std::string FormatTime(std::chrono::system_clock::time_point when, bool utc, const char* layout,
                       const char* suffix) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const long milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000);
    std::tm fields = {};
    char text[48];
    if (!BreakDownTime(seconds, utc, &fields) || !std::strftime(text, sizeof text, layout, &fields))
        return "--:--:--.---";
    char rest[16];
    std::snprintf(rest, sizeof rest, ".%03ld%s", milliseconds, suffix);
    return std::string(text) + rest;
}

}  // namespace

bool StopRequested() { return stopRequested; }

void RequestStop() { stopRequested = true; }

void SleepUnlessStopped(unsigned long milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopRequested) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
}

std::string TimeOfDay(std::chrono::system_clock::time_point when) {
    return FormatTime(when, false, "%H:%M:%S", "");
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    return FormatTime(when, true, "%Y-%m-%dT%H:%M:%S", "Z");
}

std::string LastErrorText() {
    const int error = LastError();
    return error ? ": " + ErrorText(error) : std::string();
}

Lookup LookUpIPv4(const std::string& name, IPv4Address* address, std::string* reason) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (error != 0) {
        *reason = LookupErrorText(error);
        return IsUnknownName(error) ? Lookup::kUnknown : Lookup::kFailed;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return Lookup::kFound;
}

bool IsNumericAddress(const std::string& text) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0) return false;
    freeaddrinfo(found);
    return true;
}

SetupFailure RetrySetup(IPv4Address interfaceAddress, int port, IPv4Address group) {
    UdpSocket socket;
    if (!socket.IsOpen()) return {SetupStep::kSocket, LastError()};
    if (!socket.Bind(interfaceAddress, port)) return {SetupStep::kBind, LastError()};
    if (group && !socket.Join(group, interfaceAddress)) {
        const int joinError = LastError();
        // Without an interface the platform joins where the route to the
        // group leads; with no such route Linux refuses with "No such
        // device" and Wine with "Invalid argument", neither naming the cause.
        UdpSocket probe;
        if (!interfaceAddress && probe.IsOpen() && !probe.Connect(group, kRouteProbePort))
            return {SetupStep::kRoute, LastError()};
        return {SetupStep::kJoin, joinError};
    }
    return {SetupStep::kNone, 0};
}

int PickFreePort(IPv4Address interfaceAddress, SetupFailure* failure) {
    UdpSocket socket;
    if (!socket.IsOpen()) {
        *failure = {SetupStep::kSocket, LastError()};
        return -1;
    }
    const int port = socket.Bind(interfaceAddress, 0) ? socket.LocalPort() : -1;
    if (port < 0) *failure = {SetupStep::kBind, LastError()};
    return port;
}

}  // namespace platform
