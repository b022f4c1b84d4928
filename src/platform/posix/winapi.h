// The subset of Windows Sockets 2, Win32 and NetBIOS that the library core
// calls, declared for POSIX systems with the Windows names, values and record
// layouts. Everything lives in namespace win so that the layer's own sources
// can include the system headers beside it.
#ifndef VEKLINK_POSIX_WINAPI_H
#define VEKLINK_POSIX_WINAPI_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace win {

typedef std::uint8_t BYTE;
typedef std::uint8_t UCHAR;
typedef std::uint16_t WORD;
typedef unsigned long DWORD;
typedef int BOOL;
typedef void* HANDLE;
typedef HANDLE WSAEVENT;
typedef std::uintptr_t SOCKET;
typedef unsigned int GROUP;
typedef std::intptr_t (*FARPROC)();
typedef DWORD (*LPTHREAD_START_ROUTINE)(void*);
struct SECURITY_ATTRIBUTES;
struct WSAPROTOCOL_INFOA;
struct WSAOVERLAPPED;
typedef void (*LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD, DWORD, WSAOVERLAPPED*, DWORD);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Socket layer constants, with the Windows Sockets 2 numbers.
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;
constexpr int AF_INET = 2;
constexpr int SOCK_DGRAM = 2;
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int IPPROTO_IP = 0;
constexpr int IP_MULTICAST_IF = 9;
constexpr int IP_ADD_MEMBERSHIP = 12;
constexpr int IP_DROP_MEMBERSHIP = 13;
constexpr std::uint32_t INADDR_ANY = 0;
constexpr long FD_READ = 1;
constexpr WSAEVENT WSA_INVALID_EVENT = nullptr;
constexpr DWORD WSA_INFINITE = 0xFFFFFFFFul;
constexpr DWORD INFINITE = 0xFFFFFFFFul;
constexpr DWORD WSA_WAIT_EVENT_0 = 0;
constexpr DWORD WSA_WAIT_TIMEOUT = 0x102;
constexpr DWORD WSA_WAIT_FAILED = 0xFFFFFFFFul;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFul;
constexpr DWORD CREATE_SUSPENDED = 0x4;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
};

struct in_addr {
    std::uint32_t s_addr;
};

struct sockaddr {
    std::uint16_t sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    std::int16_t sin_family;
    std::uint16_t sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};

struct ip_mreq {
    in_addr imr_multiaddr;
    in_addr imr_interface;
};

struct WSANETWORKEVENTS {
    long lNetworkEvents;
    int iErrorCode[10];
};

// Socket layer.
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
SOCKET WSASocketA(int af, int type, int protocol, WSAPROTOCOL_INFOA* info,
                  GROUP group, DWORD flags);
int bind(SOCKET s, const sockaddr* name, int length);
int sendto(SOCKET s, const char* data, int length, int flags,
           const sockaddr* to, int toLength);
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
             int* fromLength);
int closesocket(SOCKET s);
int setsockopt(SOCKET s, int level, int option, const char* value, int length);

WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);
int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents);
DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events,
                               BOOL waitAll, DWORD timeout, BOOL alertable);
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* record);

// Byte order: network order is the order of the bytes in memory.
inline std::uint16_t htons(std::uint16_t v) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v)};
    std::uint16_t r;
    std::memcpy(&r, bytes, sizeof r);
    return r;
}
inline std::uint16_t ntohs(std::uint16_t v) { return htons(v); }
inline std::uint32_t htonl(std::uint32_t v) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    std::uint32_t r;
    std::memcpy(&r, bytes, sizeof r);
    return r;
}

// Threads and code addresses.
HANDLE CreateThread(SECURITY_ATTRIBUTES* security, std::size_t stackSize,
                    LPTHREAD_START_ROUTINE entry, void* argument, DWORD flags,
                    DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds);
BOOL CloseHandle(HANDLE thread);
BOOL IsBadCodePtr(FARPROC address);

}  // namespace win

#endif
