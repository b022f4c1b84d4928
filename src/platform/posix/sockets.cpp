// Windows Sockets start-up, sockets, options, send and receive over POSIX
// sockets. Failures return the Windows failure value with errno set.
#include "native.h"

#include <atomic>

namespace win {
namespace {

// Start-ups not yet balanced by a clean-up. Sockets cannot be opened while it
// is zero, as on Windows.
std::atomic<int> startups{0};

constexpr WORD kHighestVersion = 0x0202;  // 2.2: major in the low byte
constexpr int kWsaVerNotSupported = 10092;
constexpr int kWsaEFault = 10014;

bool ToNative(const sockaddr* address, int length, ::sockaddr_in* out) {
    if (!address || length < static_cast<int>(sizeof(sockaddr_in))) return false;
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(address);
    if (in->sin_family != AF_INET) return false;
    *out = ::sockaddr_in{};
    out->sin_family = native::afInet;
    out->sin_port = in->sin_port;
    out->sin_addr.s_addr = in->sin_addr.s_addr;
    return true;
}

// The native level and option for a Windows one; false for any option the
// library does not use.
bool NativeOption(int level, int option, int length, int* nativeLevel, int* nativeOption) {
    if (level == SOL_SOCKET && length == 4 && (option == SO_SNDBUF || option == SO_RCVBUF)) {
        *nativeLevel = native::solSocket;
        *nativeOption = option == SO_SNDBUF ? native::soSndBuf : native::soRcvBuf;
        return true;
    }
    if (level != IPPROTO_IP) return false;
    *nativeLevel = native::ipprotoIp;
    if (option == IP_MULTICAST_IF && length == 4) {
        *nativeOption = native::ipMulticastIf;
        return true;
    }
    if ((option == IP_ADD_MEMBERSHIP || option == IP_DROP_MEMBERSHIP) && length == 8) {
        *nativeOption = option == IP_ADD_MEMBERSHIP ? native::ipAddMembership
                                                    : native::ipDropMembership;
        return true;
    }
    return false;
}

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
    const int major = version & 0xFF, minor = version >> 8;
    if (!data) return kWsaEFault;
    if (major < 1) return kWsaVerNotSupported;
    data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? kHighestVersion : version;
    data->wHighVersion = kHighestVersion;
    startups.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int n = startups.load();
    do {
        if (n == 0) return Fail(EPERM);
    } while (!startups.compare_exchange_weak(n, n - 1));
    return 0;
}

bool SocketLayerStarted() { return startups.load() > 0; }

SOCKET WSASocketA(int af, int type, int protocol, WSAPROTOCOL_INFOA* info, GROUP, DWORD flags) {
    if (!SocketLayerStarted() || af != AF_INET || type != SOCK_DGRAM || info || flags) {
        errno = SocketLayerStarted() ? EINVAL : ENETDOWN;
        return INVALID_SOCKET;
    }
    const int fd = ::socket(native::afInet, native::sockDgram | SOCK_CLOEXEC, protocol);
    return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const sockaddr* name, int length) {
    ::sockaddr_in address;
    if (!ToNative(name, length, &address)) return Fail(EINVAL);
    return ::bind(Descriptor(s), reinterpret_cast<::sockaddr*>(&address), sizeof address) == 0
               ? 0 : SOCKET_ERROR;
}

int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int toLength) {
    ::sockaddr_in address;
    if (length < 0 || flags != 0 || !ToNative(to, toLength, &address)) return Fail(EINVAL);
    const ssize_t sent = ::sendto(Descriptor(s), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                  reinterpret_cast<::sockaddr*>(&address), sizeof address);
    return sent < 0 ? SOCKET_ERROR : static_cast<int>(sent);
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
    if (length < 0 || flags != 0) return Fail(EINVAL);
    if (from && (!fromLength || *fromLength < static_cast<int>(sizeof(sockaddr_in))))
        return Fail(EFAULT);
    ::sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    // MSG_TRUNC reports the datagram's real size: a datagram larger than the
    // buffer fails, as it does on Windows, instead of arriving cut short.
    const ssize_t received = ::recvfrom(Descriptor(s), buffer, static_cast<size_t>(length), MSG_TRUNC,
                                        reinterpret_cast<::sockaddr*>(&source), &sourceLength);
    if (received < 0) return SOCKET_ERROR;
    if (received > length) return Fail(EMSGSIZE);
    if (from) {
        sockaddr_in* out = reinterpret_cast<sockaddr_in*>(from);
        *out = sockaddr_in{};
        out->sin_family = AF_INET;
        out->sin_port = source.sin_port;
        out->sin_addr.s_addr = source.sin_addr.s_addr;
        *fromLength = sizeof(sockaddr_in);
    }
    return static_cast<int>(received);
}

int closesocket(SOCKET s) { return ::close(Descriptor(s)) == 0 ? 0 : SOCKET_ERROR; }

int setsockopt(SOCKET s, int level, int option, const char* value, int length) {
    int nativeLevel, nativeOption;
    if (!value || !NativeOption(level, option, length, &nativeLevel, &nativeOption))
        return Fail(ENOPROTOOPT);
    return ::setsockopt(Descriptor(s), nativeLevel, nativeOption, value,
                        static_cast<socklen_t>(length)) == 0 ? 0 : SOCKET_ERROR;
}

int getsockopt(SOCKET s, int level, int option, char* value, int* length) {
    int nativeLevel, nativeOption;
    if (!value || !length || !NativeOption(level, option, *length, &nativeLevel, &nativeOption))
        return Fail(ENOPROTOOPT);
    socklen_t size = static_cast<socklen_t>(*length);
    if (::getsockopt(Descriptor(s), nativeLevel, nativeOption, value, &size) != 0) return SOCKET_ERROR;
    *length = static_cast<int>(size);
    return 0;
}

}  // namespace win
