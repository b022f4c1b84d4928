// The platform layer natively: signals, errno, the terminal and getifaddrs.
#include "Platform.h"
#include "PlatformInternal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <unistd.h>

namespace platform {
namespace {

void OnSignal(int) { RequestStop(); }

NetworkInterface& Named(std::vector<NetworkInterface>& list, const char* name) {
    for (NetworkInterface& known : list)
        if (known.name == name) return known;
    list.emplace_back();
    list.back().name = name;
    return list.back();
}

}  // namespace

void InstallStopHandler() {
    // No SA_RESTART: a read of standard input blocked at Ctrl-C returns, and
    // "send -" ends with its summary.
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool BreakDownTime(std::time_t t, bool utc, std::tm* out) {
    return (utc ? gmtime_r(&t, out) : localtime_r(&t, out)) != nullptr;
}

int LastError() { return errno; }

std::string ErrorText(int error) { return std::strerror(error); }

ErrorKind KindOf(int error) {
    switch (error) {
        case EADDRINUSE: return ErrorKind::kInUse;
        case EADDRNOTAVAIL: return ErrorKind::kNotLocal;
        case EACCES:
        case EPERM: return ErrorKind::kDenied;
        case ENETUNREACH:
        case EHOSTUNREACH: return ErrorKind::kUnreachable;
        default: return ErrorKind::kOther;
    }
}

void UseBinaryInput() {}

void UseBinaryOutput() {}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool IsValid(Socket socket) { return socket >= 0; }

void CloseSocket(Socket socket) { close(socket); }

bool IsUnknownName(int lookupError) {
    return lookupError == EAI_NONAME || lookupError == EAI_NODATA || lookupError == EAI_ADDRFAMILY;
}

std::string LookupErrorText(int lookupError) {
    return lookupError == EAI_SYSTEM ? ErrorText(errno) : gai_strerror(lookupError);
}

std::vector<NetworkInterface> ListInterfaces() {
    std::vector<NetworkInterface> list;
    ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0) return list;
    for (const ifaddrs* entry = entries; entry; entry = entry->ifa_next) {
        NetworkInterface& known = Named(list, entry->ifa_name);
        known.up = known.up || (entry->ifa_flags & IFF_UP);
        if (!entry->ifa_addr) continue;
        if (entry->ifa_addr->sa_family == AF_INET) {
            known.addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        } else if (entry->ifa_addr->sa_family == AF_PACKET) {
            const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            if (link->sll_halen == 6) known.hardwareAddress.assign(reinterpret_cast<const char*>(link->sll_addr), 6);
        }
    }
    freeifaddrs(entries);
    return list;
}

}  // namespace platform
