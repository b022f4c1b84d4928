// The support layer: every operating-system call that the veklink tool, the
// tests' independent peer, the demo, the host program and the benchmarks
// make, as one small vocabulary. It never calls VekLink and is never linked
// into it, so what it reports is the platform's own view, against which the
// library can be checked.
//
// Each call is implemented once per platform (net_*, host_*, process_*;
// net.cpp holds what Windows Sockets shares with BSD sockets), chosen by the
// build; text.cpp and report.cpp read the same everywhere.
//
// Addresses are IPv4 addresses in network byte order, as the library takes
// them (127.0.0.1 is the value whose bytes in memory are 7F 00 00 01); ports
// are plain integers in host byte order. A call that fails leaves the
// platform's last error (LastError) as the failing system call set it.
#ifndef VEKLINK_SUPPORT_H
#define VEKLINK_SUPPORT_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace support {

// ---- Sockets (net.cpp, net_posix.cpp, net_win32.cpp) ----------------------

// A socket as the platform gives it; kNoSocket when none is open.
typedef std::uintptr_t Socket;
extern const Socket kNoSocket;

// Starts and stops the platform's socket layer (Windows Sockets; natively
// nothing). The calls below need it started, by this or by VekInitInstance;
// every StartSockets is balanced by one StopSockets.
bool StartSockets();
void StopSockets();

// An unbound UDP socket, or kNoSocket.
Socket NewUdp();
// A UDP socket bound to address:port (port 0: the platform's choice), or
// kNoSocket.
Socket OpenUdp(unsigned long address, int port);
// Closes s (kNoSocket: nothing); the last error stays as it was.
void Close(Socket s);
bool Bind(Socket s, unsigned long address, int port);
// Fixes s's peer. On a UDP socket this sends nothing: it only finds the
// route, and fails when there is none.
bool Connect(Socket s, unsigned long address, int port);
// Joins group on the interface with interfaceAddress (0: where the route to
// the group leads).
bool JoinGroup(Socket s, unsigned long group, unsigned long interfaceAddress);
// The port s is bound to; -1 when unknown.
int BoundPort(Socket s);
// True when the whole datagram was sent.
bool SendTo(Socket s, const void* data, std::size_t length, unsigned long address, int port);
// One datagram into buffer: its length, or -1; its source where not null.
int RecvFrom(Socket s, void* buffer, int capacity, unsigned long* address, int* port);
// True once a datagram can be read; false after timeoutMs.
bool WaitReadable(Socket s, int timeoutMs = 3000);
// Makes a blocking receive on s give up after milliseconds.
void SetRecvTimeout(Socket s, int milliseconds);
// The send or receive buffer as the platform reports it (-1 on failure), and
// the platform's own way to set it.
int BufferSize(Socket s, bool receive);
bool SetBufferSize(Socket s, bool receive, int size);
// Raises s's receive buffer to bytes and never lowers it; natively past
// net.core.rmem_max where the process may (SO_RCVBUFFORCE). Returns the
// buffer the platform then reports.
int RaiseRecvBuffer(Socket s, int bytes);
// A socket of this process bound to port, though it did not open it itself
// (a listener's, which the library does not show), found by trying the
// values the platform gives sockets; kNoSocket when there is none.
Socket FindSocketOfPort(int port);

// A wait on one socket that another thread can end, for receive loops.
// Natively it polls the socket and an eventfd; on Windows it takes the
// listener's own steps: an event selected for FD_READ (which makes the
// socket non-blocking) and a stop event, the network events enumerated and
// the event reset after each wake-up.
class SocketWait {
public:
    enum Result { kReadable, kWoken, kFailed };

    explicit SocketWait(Socket s);
    ~SocketWait();
    SocketWait(const SocketWait&) = delete;
    SocketWait& operator=(const SocketWait&) = delete;

    bool Valid() const;
    // Blocks until s holds a datagram (kReadable) or Wake was called (kWoken,
    // and every later Wait too); kFailed when the platform's wait fails.
    Result Wait();
    // Ends the current and every later Wait; from any thread.
    void Wake();

private:
    Socket socket_;
    std::intptr_t events_[2];  // Windows: network and stop event; natively [0], an eventfd
};

// The calling thread's last error: errno natively, WSAGetLastError (the
// same value as GetLastError) on Windows. Read it right after the failure.
int LastError();
void SetLastError(int error);
// The platform's text for an error: strerror natively; on Windows
// FormatMessage's, or the layer's own where Wine has none, with the number
// in brackets.
std::string ErrorText(int error);
// The C library's text for an errno value from a file call, safe on any
// thread (strerror's buffer is shared natively).
std::string ErrnoText(int error);

// What an error from binding or connecting a socket means.
enum class ErrorKind { kOther, kInUse, kNotLocal, kDenied, kUnreachable };
ErrorKind KindOf(int error);

// Host names resolved to IPv4 (getaddrinfo with AF_INET). kUnknown: the
// resolver has no IPv4 address for name; kFailed: it could not find out (no
// name server reachable...). reason gets the resolver's text.
enum class Lookup { kFound, kUnknown, kFailed };
Lookup LookUpIpv4(const std::string& name, unsigned long* address, std::string* reason);
// True when the resolver reads text as a numeric address, as it does the
// shorthands "10.1" and "0x7f.1".
bool IsNumericAddress(const std::string& text);

// ---- The host (host_posix.cpp, host_win32.cpp) ------------------------------

struct NetworkInterface {
    std::string name;
    bool up = false;
    std::vector<unsigned long> addresses;  // IPv4
    std::string hardwareAddress;           // 6 bytes, or empty
};
// Every interface the platform knows, in its order: natively from
// getifaddrs, on Windows from the IP helper's adapter addresses.
std::vector<NetworkInterface> ListInterfaces();

// ---- The process (process_posix.cpp, process_win32.cpp) ----------------------

// True under Wine (ntdll has wine_get_version), and on Windows or Wine.
bool UnderWine();
bool OnWindows();

// Makes Ctrl-C (and SIGTERM natively) set a flag instead of ending the
// process, and leaves a blocked read of standard input to return.
void InstallStopHandler();
bool StopRequested();
// Sleeps for about milliseconds, returning early once a stop is requested.
void SleepUnlessStopped(unsigned long milliseconds);

// Standard input and output as bytes: Windows would otherwise end input at
// Ctrl-Z and change line ends both ways.
void UseBinaryInput();
void UseBinaryOutput();
bool OutputIsTerminal();

// The calendar fields of t, in local time or in UTC.
bool CalendarTime(std::time_t t, bool utc, std::tm* out);

void SleepMs(int milliseconds);
// A sleep of microseconds, not rounded up to whole milliseconds as Windows'
// Sleep is: what a paced sender waits between datagrams.
void SleepUs(int microseconds);

// One thread's CPU clock: taken on that thread, read from any thread while
// it exists. Under Wine it moves in 10 ms steps: measure spans of a second.
struct CpuClock {
    std::intptr_t id = 0;  // a thread handle on Windows, a clockid_t natively
    bool valid = false;
};
CpuClock ThreadCpuClock();
double CpuSeconds(const CpuClock& clock);  // 0 when it cannot be read
void ReleaseCpuClock(CpuClock& clock);

// Keeps the process on CPU 0 (threads created afterwards inherit it), or the
// calling thread on cpu; false where that CPU does not exist.
bool PinToOneCpu();
bool PinThread(int cpu);

// Fails on purpose at the cost of one system call natively (a write of text
// to descriptor -1) or one server request on Windows (opening an event named
// text, which does not exist), so that text shows in a trace of either: how a
// program marks a window for a counting tool.
void MarkInTrace(const std::string& text);

// What this process holds, counted so that a leak shows: natively its open
// descriptors and threads (/proc/self); on Windows its rows in the system
// handle table and its threads (Wine's GetProcessHandleCount says 0 whatever
// is open). -1 when they cannot be counted.
long HeldHandles();
long HeldThreads();

// Whole pages of memory with chosen access, for checks of what a call may
// read and write.
enum class PageAccess { kNone, kReadOnly, kReadWrite };
std::size_t PageSize();
// bytes (a whole number of pages) read-write, or null.
unsigned char* MapPages(std::size_t bytes);
void UnmapPages(unsigned char* pages, std::size_t bytes);
bool ProtectPages(unsigned char* pages, std::size_t bytes, PageAccess access);

// ---- Text (text.cpp) ---------------------------------------------------------

// Strictly four decimal numbers 0..255 with dots between: the looser forms
// the C library accepts ("10.1", "0x7f.1") are refused. False when text is
// not one.
bool ParseIpv4(const std::string& text, unsigned long* address);
// The address of a dotted quad written into a program; 0xFFFFFFFF when it is
// not one.
unsigned long Ipv4(const char* dotted);
std::string Dotted(unsigned long address);
std::string Endpoint(unsigned long address, int port);  // "a.b.c.d:port"
// Six bytes of a hardware address as "02:11:22:33:44:55".
std::string Mac(const unsigned char* bytes);
// bytes as pairs of lower-case hex digits, separator between the pairs.
std::string Hex(const std::string& bytes, const char* separator);
// Pairs of hex digits of either case back to bytes; false when hex is not
// that.
bool ParseHex(const std::string& hex, std::string* bytes);
// text as a JSON string, quotes included; control characters escaped. Bytes
// that are not valid UTF-8 must not be passed.
std::string JsonString(const std::string& text);
// "HH:MM:SS.mmm" in local time, and "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC.
std::string TimeOfDay(std::chrono::system_clock::time_point when);
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

// ---- Check programs (report.cpp) ---------------------------------------------

// Prints "ok WHAT" or "not ok WHAT", the line the suites count; returns
// passed.
bool Check(bool passed, const std::string& what);
// Checks that failed so far: a check program exits 1 when there are any.
int FailedChecks();

}  // namespace support

#endif
