// The usable IPv4 interface addresses and netmasks, from the socket layer's
// interface list.
#include "VekLink.h"
#include "platform/interface_record.h"
#include "platform/platform.h"

#include <stdint.h>
#include <string.h>

namespace {

// Room for VEK_MAX_INTERFACES records.
constexpr DWORD kRecordSize = interface_record::kSize;
constexpr DWORD kListSize = VEK_MAX_INTERFACES * kRecordSize;

bool KnownPlatformFamily() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ||
           version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Fills list with the platform's records and returns how many it holds; 0
// when the query fails, more interfaces than fit included.
DWORD QueryInterfaces(unsigned char (&list)[kListSize]) {
    const SOCKET s = WSASocketA(AF_INET, SOCK_DGRAM, 0, nullptr, 0, 0);
    if (s == INVALID_SOCKET) return 0;
    DWORD bytes = 0;
    const int result =
        WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, list, kListSize, &bytes, nullptr, nullptr);
    closesocket(s);
    if (result != 0) return 0;
    return (bytes < kListSize ? bytes : kListSize) / kRecordSize;
}

// Records need not be aligned for a 4-byte read.
uint32_t ReadAddress(const unsigned char* record, DWORD offset) {
    uint32_t address;
    memcpy(&address, record + offset, sizeof address);
    return address;
}

// Only 127.0.0.1 is left out of the loopback block.
bool IsUsable(uint32_t address) { return address != 0 && address != htonl(0x7F000001u); }

}  // namespace

int VekGetHostIP(unsigned long* addresses, unsigned long* netmasks) {
    if (!KnownPlatformFamily()) return 0;
    unsigned char list[kListSize] = {};
    const DWORD records = QueryInterfaces(list);
    int count = 0;
    for (DWORD i = 0; i < records; ++i) {
        const unsigned char* record = list + i * kRecordSize;
        const uint32_t address = ReadAddress(record, interface_record::kAddressOffset);
        if (!IsUsable(address)) continue;
        if (addresses) {
            addresses[count] = address;
            if (netmasks) netmasks[count] = ReadAddress(record, interface_record::kNetmaskOffset);
        }
        ++count;
    }
    return count;
}
