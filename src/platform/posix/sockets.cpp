// Windows Sockets start-up, socket creation, receive and the host name, where
// the system's own calls differ from what the library relies on.
#include "winapi.h"
#include "seams.h"

#include <atomic>
#include <errno.h>
#include <unistd.h>

namespace {

// Start-ups not yet balanced by a clean-up.
std::atomic<int> startups{0};

bool Started() { return startups.load() > 0; }

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
    // The version asked for, up to 2.2 (major in the low byte), is granted.
    const bool below22 = ((version & 0xFF) << 8 | version >> 8) < 0x0202;
    data->wVersion = win::seam::Granted(below22 ? version : 0x0202);
    startups.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int n = startups.load();
    do {
        if (n == 0) return errno = ENETDOWN, -1;
    } while (!startups.compare_exchange_weak(n, n - 1));
    return 0;
}

SOCKET WSASocketA(int af, int type, int protocol, void*, unsigned, DWORD) {
    if (!Started()) return errno = ENETDOWN, INVALID_SOCKET;
    return ::socket(af, type | SOCK_CLOEXEC, protocol);
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
    socklen_t size = fromLength ? static_cast<socklen_t>(*fromLength) : 0;
    // MSG_TRUNC makes the kernel report the datagram's whole size.
    const ssize_t received = ::recvfrom(s, buffer, static_cast<size_t>(length), flags | MSG_TRUNC,
                                        from, fromLength ? &size : nullptr);
    if (received > length) return errno = EMSGSIZE, -1;
    if (received >= 0 && fromLength) *fromLength = static_cast<int>(size);
    return static_cast<int>(received);
}

int closesocket(SOCKET s) { return ::close(s); }

// The computer name: both are the kernel's node name here. It fails, writing
// nothing, when the name and its terminator do not fit, as Windows does.
int gethostname(char* name, int length) {
    if (!Started()) return errno = ENETDOWN, -1;
    DWORD size = length > 0 ? static_cast<DWORD>(length) : 0;
    return GetComputerNameA(name, &size) ? 0 : -1;
}
