/*
 * VekLink: connectionless UDP messaging over IPv4 and a few host queries.
 *
 * Conventions used throughout this header
 * ---------------------------------------
 * - Addresses (IPv4Address) are IPv4 addresses in network byte order, exactly
 *   as they sit in a socket address: 127.0.0.1 is the value whose bytes in
 *   memory are 7F 00 00 01. 0 means "any address".
 * - Ports (PortNumber) are plain integers in host byte order. A port outside
 *   0..65535 is refused (the call fails); it is never truncated.
 * - Calls that report an outcome return 1 for success and 0 for failure. The
 *   library throws no exceptions (natively it links nothing that throws or
 *   aborts), logs nothing and adds no error codes of its own: after a
 *   failure the platform's last-error value (WSAGetLastError / GetLastError
 *   on Windows, errno natively) is left as the failing platform call set it.
 * - Datagrams carry exactly the host's bytes: no header, no framing, no retry.
 *   Any UDP peer can talk to a sender or listener of this library.
 * - Call VekInitInstance once before anything that opens a socket (senders,
 *   listeners, VekGetHostIP) or asks for the host name, and VekExitInstance
 *   once for every successful VekInitInstance, after the last sender and
 *   listener have been ended.
 * - One sender or listener object is driven by one host thread at a time.
 *   The plain functions keep no state and may be called from any thread.
 */
#ifndef VEKLINK_H
#define VEKLINK_H

#if defined(VEKLINK_STATIC)
#  define VEK_API
#elif defined(_WIN32)
#  if defined(VEKLINK_BUILD)
#    define VEK_API __declspec(dllexport)
#  else
#    define VEK_API __declspec(dllimport)
#  endif
#else
#  define VEK_API __attribute__((visibility("default")))
#endif

#if defined(_WIN32)
#  define VEK_THREAD_ENTRY __stdcall
#else
#  define VEK_THREAD_ENTRY
#endif

/* IPv4 address in network byte order; see the conventions above. */
typedef unsigned long IPv4Address;
/* UDP port in host byte order, 0..65535. */
typedef int PortNumber;

/* Modes of CVekSend::InitInstance and CVekListen::Run. */
enum { VEK_MODE_UNICAST = 1, VEK_MODE_MULTICAST = 2 };

/*
 * The interface's fixed sizes. They are constants of the library, not
 * settings: a host sizes its buffers with them.
 */
enum {
    VEK_RECEIVE_BUFFER_SIZE = 65536, /* the buffer a listener's callback is handed */
    VEK_HOST_NAME_SIZE = 64,         /* the buffer VekGetHostName fills */
    VEK_MAX_INTERFACES = 8,          /* interface records VekGetHostIP reads */
    VEK_MAX_ADAPTERS = 255,          /* adapter numbers VekGetNetCard can report */
    VEK_ADAPTER_ADDRESS_SIZE = 6     /* bytes of one VekGetNetCard record */
};

/*
 * Called on a listener's receive thread once for every datagram.
 *   data          the receive thread's buffer of VEK_RECEIVE_BUFFER_SIZE
 *                 (65536) bytes, valid only during the call; every byte
 *                 past the datagram is zero.
 *   length        bytes received (0 for an empty datagram), or -1 when the
 *                 receive failed.
 *   context       the context pointer given to CVekListen::Run.
 *   sourceAddress the sender's IPv4Address; 0 after a failed receive.
 *   sourcePort    the sender's port in host order; 0 after a failed receive.
 * Deliveries of one listener never overlap.
 */
typedef void (*ReceiveCallback)(void* data, int length, void* context, unsigned long sourceAddress,
                                int sourcePort);

class CUdpEndpoint;

extern "C" {

/*
 * Starts the platform's socket layer (Windows Sockets 2.2) for the caller.
 * Returns 1, or 0 when the platform refuses or grants any version other than
 * exactly 2.2 (in which case nothing is left started). Balance every success
 * with one VekExitInstance.
 */
VEK_API int VekInitInstance(void);

/*
 * Undoes one successful VekInitInstance. Returns 1, or 0 when the platform's
 * clean-up fails (for example when nothing was started). Stop listeners and
 * end senders first: the last balancing call ends the socket layer.
 */
VEK_API int VekExitInstance(void);

/*
 * Copies the host name as the socket layer reports it into buffer, which must
 * hold VEK_HOST_NAME_SIZE (64) bytes. Needs VekInitInstance. Returns 1 with a NUL-terminated name,
 * or 0 (socket layer not started, or a name longer than 63 characters);
 * natively nothing is written then.
 */
VEK_API int VekGetHostName(char* buffer);

/*
 * Copies the operating system's computer name (natively, the kernel's node
 * name) into buffer, whose capacity in characters is size. Does not need
 * VekInitInstance. Returns nonzero with a NUL-terminated name, or 0 when the
 * call fails (size smaller than the name's length plus one included), with
 * nothing written into buffer. The name's length is not reported.
 */
VEK_API int VekGetCompName(char* buffer, unsigned long size);

/*
 * Lists the usable IPv4 interface addresses with their netmasks, both in
 * network byte order, in the platform's order (natively: every IPv4 address
 * of an interface that is up, in the kernel's order). Usable means neither
 * 127.0.0.1 nor 0.0.0.0; other addresses of 127.0.0.0/8 count.
 * Needs VekInitInstance.
 * Two calls:
 *   n = VekGetHostIP(0, 0);             how many entries there are
 *   VekGetHostIP(addresses, netmasks);  fills n entries, returns n
 * netmasks may be null on the filling call. The filling call takes no
 * capacity: it writes as many entries as it counts at that moment, at most
 * VEK_MAX_INTERFACES (8), so arrays of that many entries are always enough.
 * Returns 0 on failure, when there is no usable entry, and when the host has
 * more IPv4 interfaces than that; nothing is written then.
 */
VEK_API int VekGetHostIP(unsigned long* addresses, unsigned long* netmasks);

/*
 * Reports the 6-byte hardware address of every LAN adapter number that
 * NetBIOS knows, in NetBIOS's order (natively: one adapter number for every
 * interface other than loopback that has a 6-byte hardware address and an
 * IPv4 address, in the kernel's order). Does not need VekInitInstance.
 * Two calls:
 *   n = VekGetNetCard(0);         how many adapter numbers there are (0..255)
 *   VekGetNetCard(cards);         writes n records of 6 bytes, returns n
 * cards must be writable for VEK_ADAPTER_ADDRESS_SIZE * n bytes
 * (VEK_ADAPTER_ADDRESS_SIZE * VEK_MAX_ADAPTERS bytes are always enough);
 * the filling call takes no capacity. Returns 0 on any failure, before writing
 * anything when the destination is not writable. A NetBIOS failure on a later
 * adapter number returns 0 with the earlier records already written.
 */
VEK_API int VekGetNetCard(unsigned char* cards);
}

/*
 * Sends datagrams from a port chosen by the platform.
 * Unicast (mode 1): every Send names the destination address.
 * Multicast (mode 2): the group given to InitInstance is the destination of
 * every Send. Any other mode is accepted and makes Send a no-op returning 1.
 *
 * Copying a sender copies its recorded mode and group but never its socket:
 * the copy is not set up. Assigning onto a set-up sender ends it first, and
 * destroying a set-up sender ends it.
 *
 * The out-of-line members are exported one by one: exporting the class would
 * make Microsoft's ABI export the inline copy constructor as well.
 */
class CVekSend {
public:
    VEK_API CVekSend();
    CVekSend(const CVekSend& other)
        : endpoint(0), groupAddress(other.groupAddress), mode(other.mode) {}
    VEK_API ~CVekSend();
    VEK_API CVekSend& operator=(const CVekSend& other);

    /*
     * Opens a UDP socket bound to a platform-chosen port on interfaceAddress
     * (0 = any interface) with a send buffer of at least 65536 bytes (a
     * larger platform default is kept; a buffer whose size cannot be read
     * fails the set-up). In mode 2 it also
     * joins group, which makes interfaceAddress the outgoing interface for
     * multicast (0 leaves the platform's default). group is ignored in other
     * modes. A sender that is already set up is ended first.
     * Needs VekInitInstance. Returns 1, or 0 with nothing left open.
     */
    VEK_API int InitInstance(unsigned long mode, unsigned long group,
                             unsigned long interfaceAddress);

    /*
     * Sends one datagram of length bytes from data to port: at address in
     * mode 1, at the group in mode 2 (address is then ignored). Returns 1 when
     * the platform took the whole datagram, 0 when it refused it (too long,
     * bad port, no route...) or when the sender is not set up. In any other
     * mode nothing is sent and the result is 1. Empty datagrams are allowed.
     */
    VEK_API int Send(void* data, unsigned long length, int port, unsigned long address);

    /*
     * Leaves the group (mode 2), closes the socket. Does nothing when the
     * sender is not set up, so calling it twice is harmless. The recorded
     * mode and group are kept.
     */
    VEK_API void ExitInstance();

    /* Recorded state; read it, do not write it. */
    CUdpEndpoint* endpoint;   /* null when not set up */
    IPv4Address groupAddress; /* group of the last multicast set-up */
    unsigned long mode;       /* mode of the last successful set-up */
};

/*
 * Receives datagrams on one port and hands each to a callback on a receive
 * thread of its own.
 *
 * Copying a listener copies its recorded fields but never its socket or
 * thread: the copy is idle. Assigning onto a running listener stops it first,
 * and destroying a running listener stops it.
 */
class VEK_API CVekListen {
public:
    CVekListen();
    CVekListen(const CVekListen& other);
    virtual ~CVekListen();
    CVekListen& operator=(const CVekListen& other);

    /*
     * Binds port (0 = platform's choice) on interfaceAddress (0 = all
     * interfaces), joins group when mode is 2, raises the socket's receive
     * buffer to at least 65536 bytes (a larger buffer, such as Linux's
     * default of 212992, is kept; one whose size cannot be read fails the
     * Run) and starts the receive thread, which calls
     * callback(data, length, context, sourceAddress, sourcePort) once for
     * every datagram. Any mode other than 2 listens as unicast; group is
     * recorded in every mode but joined only in mode 2. The port must be
     * free: address reuse is not requested.
     * Multicast and the interface address, by platform: Windows delivers a
     * joined group to a socket bound to the joining interface's address.
     * Linux natively does not, so a multicast listener there should use
     * interfaceAddress 0. Wine binds a socket bound to a non-loopback
     * interface address to that device, which then does receive its groups;
     * on loopback it behaves as Linux. Wine also accepts an interface address
     * that no interface has (natively and on Windows the bind fails); the
     * library passes on what the platform says.
     * The callback is called only when its address is executable code: null,
     * data, stack and inaccessible addresses end the receive thread at the
     * first datagram, without a call; the listener stays running until Stop.
     * A failed wait on the receive thread is tried again after a pause that
     * grows from 1 to 100 ms, during which Stop still ends the thread at once.
     * So is a check of the callback that cannot be made (natively: the
     * process's mappings could not be read): the datagram waits for it, and
     * is dropped only once Stop's wait is over; an address never shown to be
     * code is never called.
     * Needs VekInitInstance. Returns 1; 0 when the listener is already
     * running or anything fails (a receive thread that cannot be started
     * included), with nothing left open and the recorded fields unchanged.
     */
    int Run(unsigned long mode, ReceiveCallback callback, int port, unsigned long interfaceAddress,
            unsigned long group, void* context);

    /*
     * Ends the receive thread (waiting at most 1000 ms), leaves the group and
     * closes the socket. Does nothing on an idle listener. Datagrams already
     * queued are delivered first while the wait lasts. Once Stop returns the
     * receive thread no longer touches this object and no delivery starts,
     * so the listener (and the context, once no callback is running) may be
     * freed at once. A callback still running when the wait runs out (a long
     * callback, or Stop called from inside the callback) is allowed to
     * finish; the socket is then closed when it returns, and what arrives
     * meanwhile is dropped. Such a callback can overlap the deliveries of a
     * later Run on the same object.
     * Stop always returns, also when the receive thread has already ended or
     * was ended from outside. Should the platform refuse to signal the
     * receive thread, Stop shuts the socket down to wake it (natively) and
     * nothing more is delivered, queued datagrams included.
     */
    void Stop();

    /* Recorded state; read it, do not write it. */
    CUdpEndpoint* endpoint; /* null when idle */
    void* thread;           /* receive thread handle; null when idle */
    unsigned long mode;     /* 1 after construction */
    ReceiveCallback callback;
    int port; /* as given to Run; 0 when the platform chose */
    IPv4Address groupAddress;
    void* context;
    IPv4Address interfaceAddress;

protected:
    /* The receive loop; returns 0 when it ends. */
    unsigned long ThreadProc();
    /* Thread entry: runs ThreadProc of the CVekListen it is given. */
    static unsigned long VEK_THREAD_ENTRY InitThreadProc(void* listener);
};

#endif /* VEKLINK_H */
