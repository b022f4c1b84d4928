// The socket calls on Windows (and Wine): Winsock's start-up, handles, events
// and error texts.
#include "sockets.h"

#include <windows.h>

namespace support {
namespace {

// Wine's message table has no text for most Windows Sockets errors (10048,
// 10040, 10051... measured with Wine 8); these stand in for it there.
struct SocketErrorText {
    int error;
    const char* text;
};
const SocketErrorText kSocketErrorTexts[] = {
    {WSAEWOULDBLOCK, "resource temporarily unavailable"},
    {WSAENOTSOCK, "not a socket"},
    {WSAEMSGSIZE, "message too long"},
    {WSAEAFNOSUPPORT, "address family not supported"},
    {WSAEADDRINUSE, "address already in use"},
    {WSAEADDRNOTAVAIL, "cannot assign requested address"},
    {WSAENETDOWN, "network is down"},
    {WSAENETUNREACH, "network is unreachable"},
    {WSAECONNRESET, "connection reset by peer"},
    {WSAENOBUFS, "no buffer space available"},
    {WSAECONNREFUSED, "connection refused"},
    {WSAEHOSTUNREACH, "no route to host"},
};

bool EndsMessage(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '.'; }

std::string SystemText(int error) {
    char text[512];
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    // The text ends with ".\r\n"; it goes in the middle of a line here.
    while (length > 0 && EndsMessage(text[length - 1])) --length;
    return std::string(text, length);
}

WSAEVENT Event(std::intptr_t value) { return reinterpret_cast<WSAEVENT>(value); }

}  // namespace

const Socket kNoSocket = static_cast<Socket>(INVALID_SOCKET);

bool StartSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopSockets() { WSACleanup(); }

void Close(Socket s) {
    if (s == kNoSocket) return;
    const int error = WSAGetLastError();
    closesocket(AsNative(s));
    WSASetLastError(error);
}

void SetRecvTimeout(Socket s, int milliseconds) {
    const DWORD limit = static_cast<DWORD>(milliseconds);
    setsockopt(AsNative(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
               sizeof limit);
}

int RaiseRecvBuffer(Socket s, int bytes) {
    if (BufferSize(s, true) < bytes) SetBufferSize(s, true, bytes);
    return BufferSize(s, true);
}

Socket FindSocketOfPort(int port) {
    // Socket handles are small multiples of 4.
    for (Socket s = 4; s < 8192; s += 4)
        if (BoundPort(s) == port) return s;
    return kNoSocket;
}

SocketWait::SocketWait(Socket s)
    : socket_(s), events_{reinterpret_cast<std::intptr_t>(WSACreateEvent()),
                          reinterpret_cast<std::intptr_t>(WSACreateEvent())} {
    if (Valid() && WSAEventSelect(AsNative(s), Event(events_[0]), FD_READ) == 0) return;
    for (std::intptr_t& event : events_) {
        if (Event(event) != WSA_INVALID_EVENT) WSACloseEvent(Event(event));
        event = reinterpret_cast<std::intptr_t>(WSA_INVALID_EVENT);
    }
}

SocketWait::~SocketWait() {
    for (std::intptr_t event : events_)
        if (Event(event) != WSA_INVALID_EVENT) WSACloseEvent(Event(event));
}

bool SocketWait::Valid() const {
    return Event(events_[0]) != WSA_INVALID_EVENT && Event(events_[1]) != WSA_INVALID_EVENT;
}

SocketWait::Result SocketWait::Wait() {
    const WSAEVENT events[2] = {Event(events_[0]), Event(events_[1])};
    for (;;) {
        const DWORD woken = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (woken == WSA_WAIT_EVENT_0 + 1) return kWoken;
        if (woken != WSA_WAIT_EVENT_0) return kFailed;
        WSANETWORKEVENTS recorded;
        const bool enumerated = WSAEnumNetworkEvents(AsNative(socket_), events[0], &recorded) == 0;
        WSAResetEvent(events[0]);
        if (enumerated && (recorded.lNetworkEvents & FD_READ)) return kReadable;
    }
}

void SocketWait::Wake() { WSASetEvent(Event(events_[1])); }

int LastError() { return static_cast<int>(GetLastError()); }

void SetLastError(int error) { ::SetLastError(static_cast<DWORD>(error)); }

std::string ErrorText(int error) {
    std::string text = SystemText(error);
    for (const SocketErrorText& known : kSocketErrorTexts)
        if (text.empty() && known.error == error) text = known.text;
    return (text.empty() ? "error" : text) + " [" + std::to_string(error) + "]";
}

ErrorKind KindOf(int error) {
    switch (error) {
    case WSAEADDRINUSE: return ErrorKind::kInUse;
    case WSAEADDRNOTAVAIL: return ErrorKind::kNotLocal;
    case WSAEACCES: return ErrorKind::kDenied;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH: return ErrorKind::kUnreachable;
    default: return ErrorKind::kOther;
    }
}

bool IsUnknownName(int lookupError) {
    return lookupError == WSAHOST_NOT_FOUND || lookupError == WSANO_DATA;
}

std::string LookupErrorText(int lookupError) { return ErrorText(lookupError); }

}  // namespace support
