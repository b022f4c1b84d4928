// The socket calls natively: descriptors, errno, poll and eventfd.
#include "sockets.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace support {

const Socket kNoSocket = static_cast<Socket>(-1);

bool StartSockets() { return true; }

void StopSockets() {}

void Close(Socket s) {
    if (s == kNoSocket) return;
    const int error = errno;
    close(AsNative(s));
    errno = error;
}

void SetRecvTimeout(Socket s, int milliseconds) {
    const timeval limit = TimevalOf(milliseconds);
    setsockopt(AsNative(s), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

int RaiseRecvBuffer(Socket s, int bytes) {
    if (BufferSize(s, true) < bytes &&
        setsockopt(AsNative(s), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        SetBufferSize(s, true, bytes);
    return BufferSize(s, true);
}

Socket FindSocketOfPort(int port) {
    for (int fd = 0; fd < 4096; ++fd)
        if (BoundPort(static_cast<Socket>(fd)) == port) return static_cast<Socket>(fd);
    return kNoSocket;
}

SocketWait::SocketWait(Socket s) : socket_(s), events_{eventfd(0, EFD_CLOEXEC), -1} {}

SocketWait::~SocketWait() {
    if (Valid()) close(static_cast<int>(events_[0]));
}

bool SocketWait::Valid() const { return events_[0] >= 0; }

SocketWait::Result SocketWait::Wait() {
    for (;;) {
        pollfd fds[2] = {{AsNative(socket_), POLLIN, 0}, {static_cast<int>(events_[0]), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) return kFailed;
        if (fds[1].revents) return kWoken;
        if (fds[0].revents & POLLIN) return kReadable;
    }
}

void SocketWait::Wake() {
    const std::uint64_t one = 1;
    if (write(static_cast<int>(events_[0]), &one, sizeof one) != sizeof one) return;
}

int LastError() { return errno; }

void SetLastError(int error) { errno = error; }

std::string ErrorText(int error) { return ErrnoText(error); }

ErrorKind KindOf(int error) {
    switch (error) {
    case EADDRINUSE: return ErrorKind::kInUse;
    case EADDRNOTAVAIL: return ErrorKind::kNotLocal;
    case EACCES:
    case EPERM: return ErrorKind::kDenied;
    case ENETUNREACH:
    case EHOSTUNREACH: return ErrorKind::kUnreachable;
    default: return ErrorKind::kOther;
    }
}

bool IsUnknownName(int lookupError) {
    return lookupError == EAI_NONAME || lookupError == EAI_NODATA || lookupError == EAI_ADDRFAMILY;
}

std::string LookupErrorText(int lookupError) {
    return lookupError == EAI_SYSTEM ? ErrorText(errno) : gai_strerror(lookupError);
}

}  // namespace support
