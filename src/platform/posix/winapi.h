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
int getsockopt(SOCKET s, int level, int option, char* value, int* length);

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
// 0 gives up the rest of the time slice.
void Sleep(DWORD milliseconds);

// Memory tests: readable code, the protection of a page.
constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_WRITECOPY = 0x08;
constexpr DWORD PAGE_EXECUTE = 0x10;
constexpr DWORD PAGE_EXECUTE_READ = 0x20;
constexpr DWORD PAGE_EXECUTE_READWRITE = 0x40;
constexpr DWORD PAGE_EXECUTE_WRITECOPY = 0x80;
constexpr DWORD PAGE_GUARD = 0x100;
constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_FREE = 0x10000;

struct MEMORY_BASIC_INFORMATION {
    void* BaseAddress;
    void* AllocationBase;
    DWORD AllocationProtect;
    std::size_t RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};

// Nonzero when the address cannot be read, null included.
BOOL IsBadCodePtr(FARPROC address);
// The mapping that holds address: committed with its protection, or free.
std::size_t VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, std::size_t size);

// Host queries: names, platform family, interface list, writable memory.
typedef char CHAR;
typedef std::uintptr_t UINT_PTR;

constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr DWORD SIO_GET_INTERFACE_LIST = 0x4004747Ful;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};

int gethostname(char* name, int length);
BOOL GetComputerNameA(char* buffer, DWORD* size);
BOOL GetVersionExA(OSVERSIONINFOA* version);
// SIO_GET_INTERFACE_LIST fills the output with 76-byte records: a 4-byte
// flags word, then the address, broadcast and netmask as 24-byte socket
// address slots, each holding an IPv4 socket address.
int WSAIoctl(SOCKET s, DWORD code, void* input, DWORD inputSize, void* output,
             DWORD outputSize, DWORD* bytesReturned, WSAOVERLAPPED* overlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
BOOL IsBadWritePtr(void* address, UINT_PTR size);

// NetBIOS: adapter enumeration, reset and status.
constexpr int NCBNAMSZ = 16;
constexpr int MAX_LANA = 254;
constexpr UCHAR NCBRESET = 0x32;
constexpr UCHAR NCBASTAT = 0x33;
constexpr UCHAR NCBENUM = 0x37;
constexpr UCHAR NRC_GOODRET = 0x00;
constexpr UCHAR NRC_BUFLEN = 0x01;  // buffer too small
constexpr UCHAR NRC_ILLCMD = 0x03;  // command not supported
constexpr UCHAR NRC_BRIDGE = 0x23;  // no such adapter number
constexpr UCHAR NRC_INVADDRESS = 0x39;  // no control block
constexpr UCHAR NRC_SYSTEM = 0x40;  // the adapters could not be read

struct NCB {
    UCHAR ncb_command;
    UCHAR ncb_retcode;
    UCHAR ncb_lsn;
    UCHAR ncb_num;
    UCHAR* ncb_buffer;
    WORD ncb_length;
    UCHAR ncb_callname[NCBNAMSZ];
    UCHAR ncb_name[NCBNAMSZ];
    UCHAR ncb_rto;
    UCHAR ncb_sto;
    void (*ncb_post)(NCB*);
    UCHAR ncb_lana_num;
    UCHAR ncb_cmd_cplt;
    UCHAR ncb_reserve[10];
    HANDLE ncb_event;
};

struct LANA_ENUM {
    UCHAR length;
    UCHAR lana[MAX_LANA + 1];
};

// Only the hardware address is reported; the counters stay zero.
struct ADAPTER_STATUS {
    UCHAR adapter_address[6];
    UCHAR rev_major;
    UCHAR reserved0;
    UCHAR adapter_type;
    UCHAR rev_minor;
    WORD duration;
    WORD frmr_recv;
    WORD frmr_xmit;
    WORD iframe_recv_err;
    WORD xmit_aborts;
    DWORD xmit_success;
    DWORD recv_success;
    WORD iframe_xmit_err;
    WORD recv_buff_unavail;
    WORD t1_timeouts;
    WORD ti_timeouts;
    DWORD reserved1;
    WORD free_ncbs;
    WORD max_cfg_ncbs;
    WORD max_ncbs;
    WORD xmit_buf_unavail;
    WORD max_dgram_size;
    WORD pending_sess;
    WORD max_cfg_sess;
    WORD max_sess;
    WORD max_sess_pkt_size;
    WORD name_count;
};

struct NAME_BUFFER {
    UCHAR name[NCBNAMSZ];
    UCHAR name_num;
    UCHAR name_flags;
};

// Returns the command's return code, NRC_GOODRET on success.
UCHAR Netbios(NCB* block);

}  // namespace win

#endif
