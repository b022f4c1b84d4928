#include "Diagnose.h"

#include "Seams.h"
#include "support.h"

namespace {

// The discard port: connecting there sends nothing, and any port would do.
const int kRouteProbePort = 9;

// A plain UDP socket that closes itself.
struct PlainSocket {
    support::Socket s = support::NewUdp();
    ~PlainSocket() { support::Close(s); }
    bool IsOpen() const { return s != support::kNoSocket; }
};

// Without an interface the platform joins where the route to the group
// leads; with no such route Linux refuses with "No such device" and Wine with
// "Invalid argument", neither naming the cause.
SetupFailure JoinFailure(IPv4Address interfaceAddress, IPv4Address group, int joinError) {
    PlainSocket probe;
    if (!interfaceAddress && probe.IsOpen() && !support::Connect(probe.s, group, kRouteProbePort))
        return {SetupStep::kRoute, support::LastError()};
    return {SetupStep::kJoin, joinError};
}

std::string Where(IPv4Address interfaceAddress) {
    return interfaceAddress ? " on " + support::Dotted(interfaceAddress) : std::string();
}

std::string DescribeFailedBind(int error, IPv4Address interfaceAddress, int port) {
    const std::string text = support::ErrorText(error);
    switch (support::KindOf(error)) {
    case support::ErrorKind::kInUse:
        return "port " + std::to_string(port) + " is in use: " + text +
               " (another socket holds it; choose another port, or 0 for a free one)";
    case support::ErrorKind::kNotLocal:
        return support::Dotted(interfaceAddress) + " is not an address of this host: " + text +
               " (give --interface an address that 'veklink info' lists)";
    case support::ErrorKind::kDenied:
        return "binding port " + std::to_string(port) + Where(interfaceAddress) +
               " was refused: " + text + " (ports below 1024 need privileges)";
    default: return "could not bind " + support::Endpoint(interfaceAddress, port) + ": " + text;
    }
}

std::string DescribeFailedStep(const SetupFailure& failure, IPv4Address interfaceAddress, int port,
                               IPv4Address group) {
    const std::string text = support::ErrorText(failure.error);
    switch (failure.step) {
    case SetupStep::kNone: break;
    case SetupStep::kSocket: return "could not open a UDP socket: " + text;
    case SetupStep::kRoute:
        return "no multicast route to group " + support::Dotted(group) + ": " + text +
               " (add a route to 224.0.0.0/4, e.g. 'ip route add 224.0.0.0/4 dev eth0', or give "
               "--interface "
               "the address of the interface to use)";
    case SetupStep::kJoin:
        return "could not join group " + support::Dotted(group) + Where(interfaceAddress) + ": " +
               text +
               " (give --interface the address of an interface that carries multicast; 'veklink "
               "info' lists "
               "them)";
    case SetupStep::kBind: return DescribeFailedBind(failure.error, interfaceAddress, port);
    }
    return std::string();
}

}  // namespace

SetupFailure RetrySetup(IPv4Address interfaceAddress, int port, IPv4Address group) {
    PlainSocket socket;
    if (!socket.IsOpen()) return {SetupStep::kSocket, support::LastError()};
    if (!support::Bind(socket.s, interfaceAddress, port))
        return {SetupStep::kBind, support::LastError()};
    if (group && !support::JoinGroup(socket.s, group, interfaceAddress))
        return JoinFailure(interfaceAddress, group, support::LastError());
    return {SetupStep::kNone, 0};
}

bool PortTaken(const SetupFailure& failure) {
    return failure.step == SetupStep::kBind &&
           support::KindOf(failure.error) == support::ErrorKind::kInUse;
}

int PickFreePort(IPv4Address interfaceAddress, SetupFailure* failure) {
    PlainSocket socket;
    if (!socket.IsOpen()) {
        *failure = {SetupStep::kSocket, support::LastError()};
        return -1;
    }
    const int port =
        support::Bind(socket.s, interfaceAddress, 0) ? support::BoundPort(socket.s) : -1;
    if (port < 0) *failure = {SetupStep::kBind, support::LastError()};
    return port;
}

NetworkError SetupError(const std::string& context, const SetupFailure& failure,
                        IPv4Address interfaceAddress, int port, IPv4Address group,
                        int libraryError) {
    std::string step = DescribeFailedStep(failure, interfaceAddress, port, group);
    // Every step went through with a plain socket: what failed is something
    // the library does besides (its events, its thread), or passed meanwhile.
    if (step.empty())
        step = libraryError ? support::ErrorText(libraryError) : "the library refused";
    return NetworkError(context + ": " + step);
}

void SetUpSender(CVekSend& sender, const Target& target) {
    if (sender.InitInstance(target.mode, target.destination, target.interfaceAddress)) return;
    const int libraryError = support::LastError();
    const IPv4Address local = target.interfaceAddress;
    const IPv4Address group = target.mode == VEK_MODE_MULTICAST ? target.destination : 0;
    throw SetupError("could not set up a sender" + Where(local), RetrySetup(local, 0, group), local,
                     0, group, libraryError);
}

// Another program can take a picked port before the listener binds it; each
// time that happens the tool picks again, this many times in all.
const int kPicks = 10;

int SetUpListener(CVekListen& listener, const ListenSpec& listening, ReceiveCallback callback,
                  void* context) {
    const IPv4Address local = listening.interfaceAddress;
    for (int pick = 1;; ++pick) {
        int port = listening.port;
        if (listening.port == 0) {
            SetupFailure failure;
            port = PickFreePort(local, &failure);
            if (port < 0)
                throw SetupError("could not find a free port on " + support::Dotted(local), failure,
                                 local, 0, listening.group, failure.error);
            HoldPickedPort(port);
        }
        if (listener.Run(listening.mode, callback, port, local, listening.group, context))
            return port;
        const int libraryError = support::LastError();
        const SetupFailure failure = RetrySetup(local, port, listening.group);
        if (listening.port != 0 || !PortTaken(failure) || pick == kPicks)
            throw SetupError("could not listen on " + support::Endpoint(local, port), failure,
                             local, port, listening.group, libraryError);
    }
}
