// Plain UDP sockets on the platform's own socket layer (Winsock on Windows,
// BSD sockets elsewhere), never through VekLink: the independent peer of the
// tests, the demo, the host program and the benchmarks' baselines.
#ifndef VEKLINK_PLAIN_SOCKET_H
#define VEKLINK_PLAIN_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace plain {

// A socket value as the platform gives it; kNoSocket when none is open.
typedef std::uintptr_t Socket;
extern const Socket kNoSocket;

// Starts and stops the platform's socket layer (Windows only; natively a
// no-op). Every Start is balanced by one Stop.
void Start();
void Stop();

// Network-order IPv4 address of a dotted quad, as VekLink takes it.
std::uint32_t Ipv4(const char* dotted);
std::string Dotted(unsigned long address);
std::string Endpoint(unsigned long address, int port);  // "a.b.c.d:port"

// A UDP socket bound to address:port (port 0: the platform's choice), or
// kNoSocket.
Socket OpenUdp(std::uint32_t address, int port);
void Close(Socket s);
int BoundPort(Socket s);  // -1 when unknown
bool JoinGroup(Socket s, std::uint32_t group, std::uint32_t interfaceAddress);
bool SendTo(Socket s, const void* data, std::size_t length, unsigned long address, int port);
// One datagram into buffer: its length, or -1; the source when not null.
int RecvFrom(Socket s, void* buffer, int capacity, unsigned long* address, int* port);
// True once a datagram can be read; false after timeoutMs.
bool WaitReadable(Socket s, int timeoutMs = 3000);
void SetRecvTimeout(Socket s, int milliseconds);
// Send or receive buffer as the platform reports it (-1 on failure), and the
// platform's own way to set it.
int BufferSize(Socket s, bool receive);
bool SetBufferSize(Socket s, bool receive, int size);

// The platform's last socket error, and a way to set it.
int LastError();
void SetLastError(int error);

// True under Wine, whose socket layer differs from Windows in a few
// measured ways; always false natively.
bool UnderWine();
void SleepMs(int milliseconds);

}  // namespace plain

#endif
