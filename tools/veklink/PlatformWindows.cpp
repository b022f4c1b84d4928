// The platform layer on Windows (and Wine): the console's Ctrl-C, error
// texts from FormatMessage, the console, and the adapter list of the IP
// helper.
#include "Platform.h"
#include "PlatformInternal.h"

#include <fcntl.h>
#include <io.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdio>

namespace platform {
namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    RequestStop();
    return TRUE;
}

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

std::string SystemText(int error) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    // The text ends with ".\r\n"; it goes in the middle of a line here.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '.'))
        --length;
    return std::string(text, length);
}

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
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter.FirstUnicastAddress; unicast; unicast = unicast->Next)
        if (unicast->Address.lpSockaddr && unicast->Address.lpSockaddr->sa_family == AF_INET)
            result.addresses.push_back(
                reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr.s_addr);
    if (adapter.PhysicalAddressLength == 6)
        result.hardwareAddress.assign(reinterpret_cast<const char*>(adapter.PhysicalAddress), 6);
    return result;
}

}  // namespace

void InstallStopHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool BreakDownTime(std::time_t t, bool utc, std::tm* out) {
    return (utc ? gmtime_s(out, &t) : localtime_s(out, &t)) == 0;
}

int LastError() { return static_cast<int>(GetLastError()); }

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

void UseBinaryInput() { _setmode(_fileno(stdin), _O_BINARY); }

void UseBinaryOutput() { _setmode(_fileno(stdout), _O_BINARY); }

bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool IsValid(Socket socket) { return socket != INVALID_SOCKET; }

void CloseSocket(Socket socket) { closesocket(socket); }

bool IsUnknownName(int lookupError) { return lookupError == WSAHOST_NOT_FOUND || lookupError == WSANO_DATA; }

std::string LookupErrorText(int lookupError) { return ErrorText(lookupError); }

std::vector<NetworkInterface> ListInterfaces() {
    std::vector<NetworkInterface> list;
    // The adapters' size is known only from a failed call; they may change
    // in between, so ask a few times.
    ULONG size = 16384;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        status = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                      GAA_FLAG_SKIP_DNS_SERVER, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR) return list;
    for (const IP_ADAPTER_ADDRESSES* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next)
        list.push_back(Described(*adapter));
    return list;
}

}  // namespace platform
