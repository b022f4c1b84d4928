// The interface list, the computer name and the platform family, read from
// the kernel and reported the way Windows reports them.
#include "winapi.h"

#include "platform/interface_record.h"

#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <string.h>
#include <sys/utsname.h>

namespace {

bool Listed(const ifaddrs* entry) {
    return entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET && (entry->ifa_flags & IFF_UP);
}

void PutRecord(unsigned char* record, const ifaddrs* entry) {
    memset(record, 0, interface_record::kSize);
    memcpy(record + interface_record::kAddressSlot, entry->ifa_addr, sizeof(sockaddr_in));
    memcpy(record + interface_record::kNetmaskSlot, entry->ifa_netmask, sizeof(sockaddr_in));
}

}  // namespace

// The interfaces that are up with an IPv4 address, in the kernel's order.
int WSAIoctl(SOCKET, DWORD code, void*, DWORD, void* output, DWORD outputSize, DWORD* bytesReturned,
             void*, void*) {
    ifaddrs* list;
    if (code != SIO_GET_INTERFACE_LIST) return errno = EOPNOTSUPP, -1;
    if (::getifaddrs(&list) != 0) return -1;
    size_t used = 0;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!Listed(entry)) continue;
        if (used + interface_record::kSize <= outputSize)
            PutRecord(static_cast<unsigned char*>(output) + used, entry);
        used += interface_record::kSize;
    }
    ::freeifaddrs(list);
    // Windows fails an output too small for the whole list with WSAEFAULT.
    if (used > outputSize) return errno = EFAULT, -1;
    *bytesReturned = static_cast<DWORD>(used);
    return 0;
}

// The kernel's node name. As on Windows, a buffer too small for the name and
// its terminator is left untouched (the system's gethostname would fill it
// with the start of the name) and *size is set to the room needed.
BOOL GetComputerNameA(char* buffer, DWORD* size) {
    utsname names;
    if (::uname(&names) != 0) return FALSE;
    const size_t length = strlen(names.nodename);
    if (length >= *size) {
        *size = static_cast<DWORD>(length + 1);
        return errno = ENAMETOOLONG, FALSE;
    }
    memcpy(buffer, names.nodename, length + 1);
    *size = static_cast<DWORD>(length);
    return TRUE;
}

BOOL GetVersionExA(OSVERSIONINFOA* version) {
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}
