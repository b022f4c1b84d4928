// Host name, computer name, platform family and the interface list, read
// from the kernel and reported the way Windows reports them.
#include "native.h"

#include <cstdio>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/utsname.h>

namespace win {
namespace {

// Interface record of SIO_GET_INTERFACE_LIST: flags, then three 24-byte
// socket-address slots (address, broadcast, netmask).
constexpr std::size_t kRecordSize = 76;
constexpr std::size_t kFlagsOffset = 0;
constexpr std::size_t kAddressOffset = 4;
constexpr std::size_t kBroadcastOffset = 28;
constexpr std::size_t kNetmaskOffset = 52;

// Interface flags with their Windows Sockets values.
constexpr std::uint32_t kIffUp = 0x1;
constexpr std::uint32_t kIffBroadcast = 0x2;
constexpr std::uint32_t kIffLoopback = 0x4;
constexpr std::uint32_t kIffPointToPoint = 0x8;
constexpr std::uint32_t kIffMulticast = 0x10;

std::uint32_t WindowsFlags(unsigned int flags) {
    return ((flags & IFF_UP) ? kIffUp : 0) | ((flags & IFF_BROADCAST) ? kIffBroadcast : 0) |
           ((flags & IFF_LOOPBACK) ? kIffLoopback : 0) |
           ((flags & IFF_POINTOPOINT) ? kIffPointToPoint : 0) |
           ((flags & IFF_MULTICAST) ? kIffMulticast : 0);
}

// Writes an IPv4 socket address into a slot; an absent address stays zero.
void PutAddress(unsigned char* slot, const ::sockaddr* address) {
    if (!address || address->sa_family != native::afInet) return;
    sockaddr_in out = {};
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = reinterpret_cast<const ::sockaddr_in*>(address)->sin_addr.s_addr;
    std::memcpy(slot, &out, sizeof out);
}

void PutRecord(unsigned char* record, const ifaddrs* entry) {
    std::memset(record, 0, kRecordSize);
    const std::uint32_t flags = WindowsFlags(entry->ifa_flags);
    std::memcpy(record + kFlagsOffset, &flags, sizeof flags);
    PutAddress(record + kAddressOffset, entry->ifa_addr);
    if (entry->ifa_flags & IFF_BROADCAST) PutAddress(record + kBroadcastOffset, entry->ifa_broadaddr);
    PutAddress(record + kNetmaskOffset, entry->ifa_netmask);
}

bool Listed(const ifaddrs* entry) {
    return entry->ifa_addr && entry->ifa_addr->sa_family == native::afInet &&
           (entry->ifa_flags & IFF_UP);
}

// The interface list into output, in the kernel's order; false with errno
// set when the kernel cannot be asked or the records do not fit.
bool ListInterfaces(unsigned char* output, std::size_t capacity, DWORD* bytes) {
    ifaddrs* list;
    if (::getifaddrs(&list) != 0) return false;
    std::size_t used = 0;
    bool fits = true;
    for (const ifaddrs* entry = list; entry && fits; entry = entry->ifa_next) {
        if (!Listed(entry)) continue;
        fits = used + kRecordSize <= capacity;
        if (fits) PutRecord(output + used, entry);
        used += kRecordSize;
    }
    ::freeifaddrs(list);
    if (!fits) {
        errno = EFAULT;  // what Windows reports for an output that is too small
        return false;
    }
    *bytes = static_cast<DWORD>(used);
    return true;
}

bool IsSocket(SOCKET s) { return ::fcntl(Descriptor(s), F_GETFD) != -1; }

}  // namespace

int gethostname(char* name, int length) {
    if (!SocketLayerStarted()) return Fail(ENETDOWN);
    if (!name || length <= 0) return Fail(EFAULT);
    // The kernel's call fails with ENAMETOOLONG when the name and its
    // terminator do not fit, as Windows does.
    return ::gethostname(name, static_cast<size_t>(length)) == 0 ? 0 : SOCKET_ERROR;
}

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    utsname names;
    if (!buffer || !size || ::uname(&names) != 0) {
        errno = EINVAL;
        return FALSE;
    }
    const std::size_t length = std::strlen(names.nodename);
    if (*size < length + 1) {
        // Like Windows: report the size needed, terminator included.
        *size = static_cast<DWORD>(length + 1);
        errno = ENAMETOOLONG;
        return FALSE;
    }
    std::memcpy(buffer, names.nodename, length + 1);
    *size = static_cast<DWORD>(length);
    return TRUE;
}

BOOL GetVersionExA(OSVERSIONINFOA* version) {
    if (!version || version->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        errno = EINVAL;
        return FALSE;
    }
    utsname names;
    *version = OSVERSIONINFOA{};
    version->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    // The kernel's release stands for the version: "6.1.0-13-amd64" is 6.1.
    if (::uname(&names) == 0)
        std::sscanf(names.release, "%lu.%lu", &version->dwMajorVersion, &version->dwMinorVersion);
    return TRUE;
}

int WSAIoctl(SOCKET s, DWORD code, void*, DWORD, void* output, DWORD outputSize,
             DWORD* bytesReturned, WSAOVERLAPPED* overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
    if (!SocketLayerStarted()) return Fail(ENETDOWN);
    if (code != SIO_GET_INTERFACE_LIST || overlapped) return Fail(EOPNOTSUPP);
    if (!IsSocket(s)) return Fail(EBADF);
    if (!output || !bytesReturned) return Fail(EFAULT);
    return ListInterfaces(static_cast<unsigned char*>(output), outputSize, bytesReturned)
               ? 0 : SOCKET_ERROR;
}

}  // namespace win