// The interface list natively, from getifaddrs: an interface's IPv4 entries
// and its link-layer entry, joined by name.
#include "support.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace support {
namespace {

NetworkInterface& Named(std::vector<NetworkInterface>& list, const char* name) {
    for (NetworkInterface& known : list)
        if (known.name == name) return known;
    list.emplace_back();
    list.back().name = name;
    return list.back();
}

void Add(NetworkInterface& known, const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        known.addresses.push_back(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    } else if (address->sa_family == AF_PACKET) {
        const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(address);
        if (link->sll_halen == 6)
            known.hardwareAddress.assign(reinterpret_cast<const char*>(link->sll_addr), 6);
    }
}

}  // namespace

std::vector<NetworkInterface> ListInterfaces() {
    std::vector<NetworkInterface> list;
    ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0) return list;
    for (const ifaddrs* entry = entries; entry; entry = entry->ifa_next) {
        NetworkInterface& known = Named(list, entry->ifa_name);
        known.up = known.up || (entry->ifa_flags & IFF_UP);
        if (entry->ifa_addr) Add(known, entry->ifa_addr);
    }
    freeifaddrs(entries);
    return list;
}

}  // namespace support
