// The Windows Sockets 2, Win32 and NetBIOS names the library core calls that
// POSIX systems lack, for the POSIX layer. Whatever POSIX shares with Windows
// Sockets (socket addresses, ip_mreq, address families, socket levels and
// options, the byte-order functions, bind, sendto, setsockopt, getsockopt,
// shutdown) comes from the system headers with the system's values, untranslated.
// Records carry only the fields the core reads or sets.
//
// Errors: a failing call sets errno, the layer's one error space, since the
// system calls underneath already report there and the core never reads an
// error itself (it leaves it for the host, as the failing call set it).
#ifndef VEKLINK_POSIX_WINAPI_H
#define VEKLINK_POSIX_WINAPI_H

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

typedef unsigned char UCHAR;
typedef uint16_t WORD;
typedef unsigned long DWORD;
typedef int BOOL;
typedef uintptr_t UINT_PTR;
typedef void* HANDLE;
typedef HANDLE WSAEVENT;
typedef void (*FARPROC)();
// A socket is its descriptor; the invalid value, -1, has all bits set.
typedef int SOCKET;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SD_RECEIVE = SHUT_RD;
constexpr long FD_READ = 1;
constexpr WSAEVENT WSA_INVALID_EVENT = nullptr;
constexpr DWORD WSA_INFINITE = 0xFFFFFFFF;
constexpr DWORD WSA_WAIT_EVENT_0 = 0, WSA_WAIT_TIMEOUT = 0x102, WSA_WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0, WAIT_TIMEOUT = 0x102;
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD SIO_GET_INTERFACE_LIST = 0x4004747F;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1, VER_PLATFORM_WIN32_NT = 2;
constexpr DWORD PAGE_NOACCESS = 0x01, PAGE_READONLY = 0x02, PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_EXECUTE = 0x10, PAGE_EXECUTE_READ = 0x20, PAGE_EXECUTE_READWRITE = 0x40,
                PAGE_EXECUTE_WRITECOPY = 0x80, PAGE_GUARD = 0x100;
constexpr DWORD MEM_COMMIT = 0x1000, MEM_FREE = 0x10000;

struct WSADATA {
    WORD wVersion;
};
struct WSANETWORKEVENTS {
    long lNetworkEvents;
};
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwPlatformId;
};
struct MEMORY_BASIC_INFORMATION {
    DWORD State;
    DWORD Protect;
};

// Socket layer. Sockets and the host name are refused until WSAStartup, as
// on Windows; WSAStartup returns its error, as Windows does, but cannot fail.
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
SOCKET WSASocketA(int af, int type, int protocol, void* info, unsigned group, DWORD flags);
// recvfrom and gethostname sit beside the system's own, told apart by their
// Windows parameter types (int lengths, int* address length). A datagram
// larger than the buffer fails, as on Windows, instead of arriving cut short.
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
// The last error of the calling thread; a receive on a non-blocking socket
// with nothing queued fails with WSAEWOULDBLOCK.
constexpr int WSAEWOULDBLOCK = EWOULDBLOCK;
inline int WSAGetLastError() { return errno; }
int closesocket(SOCKET s);
int gethostname(char* name, int length);
// SIO_GET_INTERFACE_LIST only: records as platform/interface_record.h lays
// them out, with the address and the netmask (the broadcast address and the
// flags word stay zero).
int WSAIoctl(SOCKET s, DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
             DWORD* bytesReturned, void* overlapped, void* completion);

// Manual-reset events. WSAEventSelect (FD_READ only) makes an event count as
// signalled while its socket holds data, and the socket non-blocking. A wait
// takes at most two events and reports the lowest signalled index.
WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);
int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents);
DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                               BOOL alertable);
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* record);

// Threads, created suspended (the only way the library creates them).
// ResumeThread cannot fail; TerminateThread ends only a thread that was never
// resumed, before it runs, as closing its handle does.
HANDLE CreateThread(void* security, size_t stackSize, DWORD (*entry)(void*), void* argument,
                    DWORD flags, DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds);
BOOL CloseHandle(HANDLE thread);
// 0 gives up the rest of the time slice.
void Sleep(DWORD milliseconds);

// Memory tests, read from the process's mappings: they never fault. Mappings
// that cannot be read make VirtualQuery fail, with the error of that read
// (never ERROR_INVALID_PARAMETER, which Windows gives for an address outside
// the process's range), and the other two report bad.
constexpr DWORD ERROR_INVALID_PARAMETER = EINVAL;
inline DWORD GetLastError() { return static_cast<DWORD>(errno); }
BOOL IsBadCodePtr(FARPROC code);
size_t VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, size_t size);
BOOL IsBadWritePtr(void* address, UINT_PTR size);

// The library is linked with -z nodelete and never unloaded, so a thread
// has nothing to hold it by: GetModuleHandleExW takes no reference and says
// so, and FreeLibrary and FreeLibraryAndExitThread, which only a reference
// leads to, are never reached.
typedef void* HMODULE;
typedef const wchar_t* LPCWSTR;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 4;
inline BOOL GetModuleHandleExW(DWORD, LPCWSTR, HMODULE* module) {
    *module = nullptr;
    return FALSE;
}
inline BOOL FreeLibrary(HMODULE) { return TRUE; }
inline void FreeLibraryAndExitThread(HMODULE, DWORD) {}

// Writes nothing when the name and its terminator do not fit, as Windows.
BOOL GetComputerNameA(char* buffer, DWORD* size);
// Always the NT family.
BOOL GetVersionExA(OSVERSIONINFOA* version);

// NetBIOS: adapter enumeration, reset and the local adapter's status.
constexpr int NCBNAMSZ = 16;
constexpr UCHAR NCBRESET = 0x32, NCBASTAT = 0x33, NCBENUM = 0x37;
constexpr UCHAR NRC_GOODRET = 0x00, NRC_BUFLEN = 0x01, NRC_ILLCMD = 0x03, NRC_BRIDGE = 0x23,
                NRC_SYSTEM = 0x40;
struct NCB {
    UCHAR ncb_command;
    UCHAR ncb_lana_num;
    UCHAR* ncb_buffer;
    WORD ncb_length;
    UCHAR ncb_callname[NCBNAMSZ];
};
struct LANA_ENUM {
    UCHAR length;
    UCHAR lana[255];
};
struct ADAPTER_STATUS {
    UCHAR adapter_address[6];
};
struct NAME_BUFFER {
    UCHAR name[NCBNAMSZ];
    UCHAR name_num, name_flags;
};
// The command's return code, NRC_GOODRET on success.
UCHAR Netbios(NCB* block);

#endif
