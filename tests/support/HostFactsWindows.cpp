// The host's facts on Windows (and Wine), from the IP helper's tables and
// Win32's own calls: never through the library or the support layer.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>

#include "support/HostFacts.h"

namespace test {

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

bool JoinedGroup(unsigned long) { return false; }

}  // namespace test
