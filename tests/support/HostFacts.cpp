#include "support/HostFacts.h"

#if defined(_WIN32)
#  include <winsock2.h>
#  include <windows.h>
#  include <iphlpapi.h>
#else
#  include <ifaddrs.h>
#  include <net/if.h>
#  include <net/if_arp.h>
#  include <netinet/in.h>
#  include <sys/ioctl.h>
#  include <sys/socket.h>
#  include <sys/utsname.h>
#  include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>

namespace test {

std::string Layout() {
    const char* layout = std::getenv("VEKLINK_LAYOUT");
    return layout ? layout : "";
}

#if defined(_WIN32)
std::vector<InterfaceAddress> InterfaceAddresses() {
    std::vector<InterfaceAddress> result;
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size ? size : 1);
    MIB_IPADDRTABLE* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return result;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        result.push_back({table->table[i].dwAddr, table->table[i].dwMask});
    return result;
}

std::vector<HardwareAddress> AdapterAddresses() {
    std::vector<HardwareAddress> result;
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    IP_ADAPTER_INFO* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(adapters, &size) != NO_ERROR) return result;  // none: ERROR_NO_DATA
    for (const IP_ADAPTER_INFO* a = adapters; a; a = a->Next) {
        if (a->AddressLength != 6 || !std::strcmp(a->IpAddressList.IpAddress.String, "0.0.0.0"))
            continue;
        HardwareAddress address;
        std::memcpy(address.data(), a->Address, address.size());
        result.push_back(address);
    }
    return result;
}

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    return GetComputerNameExA(ComputerNameNetBIOS, name, &size) ? name : "";
}

std::string HostName() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "";
    char name[256] = {};
    const int result = gethostname(name, sizeof name);
    WSACleanup();
    return result == 0 ? name : "";
}

#else
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
        if (IsUpIpv4(entry)) result.push_back({AddressOf(entry->ifa_addr), AddressOf(entry->ifa_netmask)});
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

#endif

}  // namespace test
