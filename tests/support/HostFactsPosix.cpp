// The host's facts natively, from the kernel: getifaddrs for the addresses,
// SIOCGIF* requests for the adapters, /proc/net/igmp for the memberships;
// never through the library or the support layer.
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "support/HostFacts.h"

namespace test {
namespace {

bool IsUpIpv4(const ifaddrs* entry) {
    return entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET && (entry->ifa_flags & IFF_UP);
}

unsigned long AddressOf(const sockaddr* address) {
    return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
}

}  // namespace

std::vector<InterfaceAddress> InterfaceAddresses() {
    std::vector<InterfaceAddress> result;
    ifaddrs* list;
    if (getifaddrs(&list) != 0) return result;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (IsUpIpv4(entry))
            result.push_back({AddressOf(entry->ifa_addr), AddressOf(entry->ifa_netmask)});
    freeifaddrs(list);
    return result;
}

// Interfaces by index, each asked for its flags, IPv4 address and hardware
// address on its own (SIOCGIF* requests rather than the link-layer entries
// of getifaddrs).
std::vector<HardwareAddress> AdapterAddresses() {
    std::vector<HardwareAddress> result;
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return result;
    struct if_nameindex* names = if_nameindex();
    for (const struct if_nameindex* n = names; n && n->if_index != 0; ++n) {
        ifreq request = {};
        std::strncpy(request.ifr_name, n->if_name, IFNAMSIZ - 1);
        if (ioctl(s, SIOCGIFFLAGS, &request) != 0 || (request.ifr_flags & IFF_LOOPBACK)) continue;
        if (ioctl(s, SIOCGIFADDR, &request) != 0) continue;  // no IPv4 address
        if (ioctl(s, SIOCGIFHWADDR, &request) != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
            continue;
        HardwareAddress address;
        std::memcpy(address.data(), request.ifr_hwaddr.sa_data, address.size());
        result.push_back(address);
    }
    if (names) if_freenameindex(names);
    close(s);
    return result;
}

std::string ComputerName() {
    utsname names;
    return uname(&names) == 0 ? names.nodename : "";
}

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

bool JoinedGroup(unsigned long group) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", group);
    std::unique_ptr<FILE, int (*)(FILE*)> igmp(std::fopen("/proc/net/igmp", "r"), std::fclose);
    char line[256];
    while (igmp && std::fgets(line, sizeof line, igmp.get()))
        if (std::strstr(line, hex)) return true;
    return false;
}

}  // namespace test
