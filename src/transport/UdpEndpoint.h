// One UDP socket over IPv4 with two event objects: the network event, which
// the platform signals on selected socket activity, and the stop event, which
// the owner signals to end a receive thread's wait.
#ifndef VEKLINK_UDP_ENDPOINT_H
#define VEKLINK_UDP_ENDPOINT_H

#include "platform/platform.h"

#include <stddef.h>
#include <stdlib.h>

// Socket send and receive buffers asked for by senders and listeners.
constexpr int kSocketBufferSize = 65536;

class CUdpEndpoint {
public:
    CUdpEndpoint();
    virtual ~CUdpEndpoint();
    CUdpEndpoint(const CUdpEndpoint&) = delete;
    CUdpEndpoint& operator=(const CUdpEndpoint&) = delete;

    // Endpoints come from the C heap: a failed allocation makes the new
    // expression yield null (the operator promises not to throw), which the
    // owners test. This needs no C++ library, so the Microsoft-ABI DLL, which
    // has none to link, builds from the same source.
    static void* operator new(size_t size) noexcept { return malloc(size); }
    static void operator delete(void* memory) { free(memory); }

    // Opens the socket and binds it to port (0: the platform's choice) on
    // interfaceAddress (0: any). A failed bind leaves no socket open.
    int Create(int port, unsigned long interfaceAddress);
    // One datagram of length bytes to address:port; 1 only when all of it
    // was sent.
    int SendTo(const void* data, int length, unsigned long address, int port);
    // One datagram into buffer, whose capacity *length gives on entry. The
    // platform's result (bytes, or -1) is left in *length; the source is
    // written only on success.
    int RecvFrom(void* buffer, int* length, unsigned long* sourceAddress, int* sourcePort);
    void Close();
    // Raise the socket's send or receive buffer to at least size bytes; a
    // buffer the platform already made that large, or whose size cannot be
    // read (a failure), is left as it is.
    int SetSendBuffer(int size);
    int SetRecvBuffer(int size);
    // Ties netEvent to the socket for eventMask; the socket becomes
    // non-blocking.
    int SelectEvents(long eventMask);
    SOCKET GetSocket() const { return socket; }
    // Joins group on interfaceAddress, which also becomes the interface for
    // outgoing multicast.
    int JoinGroup(unsigned long group);
    int LeaveGroup();
    bool HasEvents() const;

    WSAEVENT netEvent;
    WSAEVENT stopEvent;
    SOCKET socket;
    unsigned long interfaceAddress;
    unsigned long groupAddress;

private:
    int SetMembership(int option, unsigned long group);
    int RaiseBuffer(int option, int size);
};

// Ends an owner's use of an endpoint: leaves the group it joined, then
// destroys it (socket and events closed) and frees it.
void ReleaseEndpoint(CUdpEndpoint* endpoint);

#endif
