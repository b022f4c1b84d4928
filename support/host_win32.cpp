// The interface list on Windows (and Wine): the IP helper's adapter
// addresses, with each adapter's friendly name.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include "support.h"

namespace support {
namespace {

std::string Utf8(const wchar_t* wide) {
    if (!wide) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(size - 1));
    return text;
}

NetworkInterface Described(const IP_ADAPTER_ADDRESSES& adapter) {
    NetworkInterface result;
    result.name = Utf8(adapter.FriendlyName);
    result.up = adapter.OperStatus == IfOperStatusUp;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter.FirstUnicastAddress; unicast;
         unicast = unicast->Next) {
        const sockaddr* address = unicast->Address.lpSockaddr;
        if (address && address->sa_family == AF_INET)
            result.addresses.push_back(
                reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    }
    if (adapter.PhysicalAddressLength == 6)
        result.hardwareAddress.assign(reinterpret_cast<const char*>(adapter.PhysicalAddress), 6);
    return result;
}

}  // namespace

std::vector<NetworkInterface> ListInterfaces() {
    std::vector<NetworkInterface> list;
    // The adapters' size is known only from a failed call; they may change
    // in between, so ask a few times.
    ULONG size = 16384;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        status = GetAdaptersAddresses(
            AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR) return list;
    for (auto adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next)
        list.push_back(Described(*adapter));
    return list;
}

}  // namespace support
