// A host built as a Windows program built with Microsoft's compiler is: the
// public header, VekLink.lib and system import libraries; no C++ library, no
// C run-time start-up (HostEntry is the entry point). It calls all 21 exports
// and checks what the binary interface can get wrong: object sizes and field
// offsets, the order and width of every argument, the virtual table and the
// deleting destructor behind it, the stdcall thread entry, callbacks with
// their context, and datagrams end to end against plain Winsock sockets.
// Prints one "ok"/"not ok" line per check; exits 1 when any failed.
// Run it through scripts/with-layout one or two: the host queries expect the
// interfaces that layout builds.
#include <winsock2.h>
#include <windows.h>

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "VekLink.h"

namespace {

int failures = 0;

void Print(const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = _vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length < 0 ? sizeof line - 1 : length,
              &written, nullptr);
}

#define CHECK(condition, what)                                                 \
    do {                                                                       \
        const bool passed_ = (condition);                                      \
        Print("%s %s\n", passed_ ? "ok" : "not ok", what);                     \
        if (!passed_) {                                                        \
            ++failures;                                                        \
            Print("#   failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
        }                                                                      \
    } while (0)

// ---- Memory the library constructs into ----------------------------------
// Objects the host allocates are filled with a pattern and followed by guard
// bytes, so a constructor that skips a field or writes past the host's idea
// of the object's size shows. Deletions through the host's operator delete
// are counted.

constexpr unsigned char kFill = 0xA5;
constexpr size_t kGuard = 16;
int hostDeletes = 0;

bool Filled(const void* memory, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(memory);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != kFill) return false;
    return true;
}

bool GuardIntact(const void* object, size_t size) {
    return Filled(static_cast<const unsigned char*>(object) + size, kGuard);
}

}  // namespace

void* operator new(size_t size) {
    void* memory = malloc(size + kGuard);
    if (memory) memset(memory, kFill, size + kGuard);
    return memory;
}

void operator delete(void* memory) noexcept {
    ++hostDeletes;
    free(memory);
}

namespace {

// ---- Plain Winsock peers ---------------------------------------------------

constexpr int kWaitMilliseconds = 5000;

unsigned long Address(const char* dotted) { return inet_addr(dotted); }

// A port no other check uses, from a range below the platform's own picks.
int NextPort() {
    static int next = 21000;
    return next++;
}

sockaddr_in SocketAddress(const char* address, int port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<u_short>(port));
    result.sin_addr.s_addr = Address(address);
    return result;
}

// A UDP socket bound to address:port whose receives give up after the wait.
SOCKET BoundSocket(const char* address, int port) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in local = SocketAddress(address, port);
    const DWORD wait = kWaitMilliseconds;
    const char* waitBytes = reinterpret_cast<const char*>(&wait);
    if (s == INVALID_SOCKET ||
        bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, waitBytes, sizeof wait) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// True when nothing else holds the port on 127.0.0.1: the library's socket
// on it has been closed.
bool PortFree(int port) {
    SOCKET s = BoundSocket("127.0.0.1", port);
    if (s == INVALID_SOCKET) return false;
    closesocket(s);
    return true;
}

struct Received {
    int length;
    char data[128];
    unsigned long source;
    int sourcePort;
};

Received ReceiveOn(SOCKET s) {
    Received r = {};
    sockaddr_in from = {};
    int fromLength = sizeof from;
    r.length =
        recvfrom(s, r.data, sizeof r.data, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    r.source = from.sin_addr.s_addr;
    r.sourcePort = ntohs(from.sin_port);
    return r;
}

int LocalPort(SOCKET s) {
    sockaddr_in local = {};
    int length = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

// ---- Callback deliveries -----------------------------------------------------
// The receive thread records every argument and signals the host thread.

struct Delivery {
    char data[128];
    int length;
    void* context;
    unsigned long source;
    int sourcePort;
};

HANDLE delivered;
Delivery lastDelivery;

void OnDatagram(void* data, int length, void* context, unsigned long source, int sourcePort) {
    lastDelivery.length = length;
    memcpy(lastDelivery.data, data, length > 0 && length <= 128 ? length : 0);
    lastDelivery.context = context;
    lastDelivery.source = source;
    lastDelivery.sourcePort = sourcePort;
    SetEvent(delivered);
}

bool AwaitDelivery() { return WaitForSingleObject(delivered, kWaitMilliseconds) == WAIT_OBJECT_0; }

// ---- Layout --------------------------------------------------------------

template <typename Object, typename Field>
size_t OffsetOf(const Object& object, const Field& field) {
    return reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&object);
}

#if defined(_M_IX86)
constexpr size_t kPointer = 4;
constexpr size_t kSendSize = 12, kListenSize = 36;
constexpr size_t kListenOffsets[8] = {4, 8, 12, 16, 20, 24, 28, 32};
#else
constexpr size_t kPointer = 8;
constexpr size_t kSendSize = 16, kListenSize = 64;
constexpr size_t kListenOffsets[8] = {8, 16, 24, 32, 40, 44, 48, 56};
#endif

void CheckLayout() {
    CVekSend s;
    CHECK(sizeof(CVekSend) == kSendSize, "CVekSend has the documented size (x86 12, x64 16 bytes)");
    CHECK(OffsetOf(s, s.endpoint) == 0 && OffsetOf(s, s.groupAddress) == kPointer &&
              OffsetOf(s, s.mode) == kPointer + 4,
          "CVekSend's fields sit at endpoint, groupAddress, mode order with no padding");
    CVekListen l;
    CHECK(sizeof(CVekListen) == kListenSize,
          "CVekListen has the documented size (x86 36, x64 64 bytes)");
    const size_t offsets[8] = {OffsetOf(l, l.endpoint), OffsetOf(l, l.thread),
                               OffsetOf(l, l.mode),     OffsetOf(l, l.callback),
                               OffsetOf(l, l.port),     OffsetOf(l, l.groupAddress),
                               OffsetOf(l, l.context),  OffsetOf(l, l.interfaceAddress)};
    CHECK(memcmp(offsets, kListenOffsets, sizeof offsets) == 0,
          "CVekListen's eight fields follow the virtual table pointer at the documented offsets");
}

// ---- CVekSend ----------------------------------------------------------------

void CheckSenderConstruction() {
    CVekSend* sender = new CVekSend;
    CHECK(sender->endpoint == nullptr && sender->groupAddress == 0 && sender->mode == 0,
          "the DLL's CVekSend constructor sets all three fields of host memory");
    CHECK(GuardIntact(sender, sizeof *sender),
          "the CVekSend constructor writes nothing past sizeof(CVekSend)");
    CHECK(sender->InitInstance(VEK_MODE_UNICAST, 0, 0) == 1 && sender->endpoint != nullptr,
          "a heap sender sets up");
    const int deletesBefore = hostDeletes;
    delete sender;  // the exported destructor, then the host's operator delete
    CHECK(hostDeletes == deletesBefore + 1,
          "deleting a sender runs the DLL's destructor and frees through the host");
}

void CheckSenderArguments() {
    const int port = NextPort();
    SOCKET receiver = BoundSocket("127.0.0.3", port);
    CHECK(receiver != INVALID_SOCKET, "a plain socket binds 127.0.0.3 for the sender checks");

    CVekSend sender;
    // mode, group, interfaceAddress: group is ignored in mode 1, and a group
    // cannot be joined on an interface that is not local (192.0.2.1).
    const unsigned long foreign = Address("192.0.2.1");
    CHECK(sender.InitInstance(VEK_MODE_MULTICAST, Address("239.255.70.11"), foreign) == 0 &&
              sender.endpoint == nullptr,
          "InitInstance(mode 2, group, interface 192.0.2.1) fails: the interface is not local");
    CHECK(sender.InitInstance(VEK_MODE_UNICAST, foreign, Address("127.0.0.1")) == 1,
          "InitInstance(mode 1, group 192.0.2.1, interface 127.0.0.1) succeeds: the group is "
          "ignored");
    CHECK(sender.mode == VEK_MODE_UNICAST && sender.groupAddress == 0 && sender.endpoint != nullptr,
          "InitInstance records mode 1 and leaves the group alone");

    // data, length, port, address: 37 bytes to 127.0.0.3 on that port.
    char payload[37];
    for (int i = 0; i < 37; ++i) payload[i] = static_cast<char>(0x80 + i);
    CHECK(sender.Send(payload, sizeof payload, port, Address("127.0.0.3")) == 1,
          "Send(data, 37, port, address) returns 1");
    const Received r = ReceiveOn(receiver);
    CHECK(r.length == 37 && memcmp(r.data, payload, 37) == 0,
          "Send's data and length arrive as 37 exact bytes at the port and address given");

    sender.ExitInstance();
    CHECK(sender.endpoint == nullptr && sender.mode == VEK_MODE_UNICAST,
          "ExitInstance ends the sender and keeps its mode");
    CHECK(sender.Send(payload, 1, port, Address("127.0.0.3")) == 0,
          "Send on an ended sender returns 0");

    CHECK(sender.InitInstance(3, 0, 0) == 1 &&
              sender.Send(payload, 1, port, Address("127.0.0.3")) == 1,
          "a sender in mode 3 takes Send and returns 1");
    sender.ExitInstance();
    closesocket(receiver);
}

void CheckSenderCopies() {
    CVekSend multicast;
    CVekSend target;
    const unsigned long group = Address("239.255.70.12");
    CHECK(multicast.InitInstance(VEK_MODE_MULTICAST, group, 0) == 1 &&
              multicast.groupAddress == group && multicast.mode == VEK_MODE_MULTICAST,
          "InitInstance(mode 2, group, 0) records the group and mode");
    CHECK(target.InitInstance(VEK_MODE_UNICAST, 0, 0) == 1, "the assignment target sets up");

    CVekSend& result = (target = multicast);
    CHECK(&result == &target, "CVekSend's copy assignment returns the object assigned to");
    CHECK(target.endpoint == nullptr && target.groupAddress == group &&
              target.mode == VEK_MODE_MULTICAST,
          "copy assignment ends the target and copies mode and group");

    const CVekSend copy(multicast);  // the header's inline copy constructor
    CHECK(copy.endpoint == nullptr && copy.groupAddress == group && copy.mode == VEK_MODE_MULTICAST,
          "a copied sender has the mode and group but no socket");
    multicast.ExitInstance();
}

// ---- CVekListen ------------------------------------------------------------

void* ExportedVirtualTable() {
    return reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("VekLink.dll"), "??_7CVekListen@@6B@"));
}

void* VirtualTableOf(const CVekListen* listener) {
    return *reinterpret_cast<void* const*>(listener);
}

void CheckListenerConstruction() {
    CVekListen* listener = new CVekListen;
    CHECK(ExportedVirtualTable() != nullptr, "the DLL exports CVekListen's virtual table by name");
    CHECK(VirtualTableOf(listener) == ExportedVirtualTable(),
          "a listener the DLL constructs points at the exported virtual table");
    CHECK(listener->endpoint == nullptr && listener->thread == nullptr && listener->mode == 1 &&
              listener->callback == nullptr && listener->port == 0 && listener->groupAddress == 0 &&
              listener->context == nullptr && listener->interfaceAddress == 0,
          "the DLL's CVekListen constructor sets all eight fields of host memory");
    CHECK(GuardIntact(listener, sizeof *listener),
          "the CVekListen constructor writes nothing past sizeof(CVekListen)");
    delete listener;
}

void CheckListenerArguments() {
    const int port = NextPort();
    const unsigned long group = Address("239.255.70.13");
    int context = 0;
    CVekListen listener;
    // mode, callback, port, interfaceAddress, group, context; the group is
    // recorded but not joined in mode 1.
    CHECK(listener.Run(VEK_MODE_UNICAST, OnDatagram, port, Address("127.0.0.1"), group, &context) ==
              1,
          "Run(mode 1, callback, port, 127.0.0.1, group, context) returns 1");
    CHECK(listener.mode == VEK_MODE_UNICAST && listener.callback == OnDatagram &&
              listener.port == port && listener.interfaceAddress == Address("127.0.0.1") &&
              listener.groupAddress == group && listener.context == &context &&
              listener.endpoint != nullptr && listener.thread != nullptr,
          "Run records all six arguments in their fields");

    SOCKET peer = BoundSocket("127.0.0.1", 0);
    const char text[] = "forty-one bytes from a plain UDP socket!";
    const sockaddr_in to = SocketAddress("127.0.0.1", port);
    ResetEvent(delivered);
    sendto(peer, text, sizeof text, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    CHECK(AwaitDelivery() && lastDelivery.length == static_cast<int>(sizeof text) &&
              memcmp(lastDelivery.data, text, sizeof text) == 0,
          "the callback gets the datagram's bytes and length");
    CHECK(lastDelivery.context == &context && lastDelivery.source == Address("127.0.0.1") &&
              lastDelivery.sourcePort == LocalPort(peer),
          "the callback gets the context, source address and source port in that order");
    closesocket(peer);

    listener.Stop();
    CHECK(listener.endpoint == nullptr && listener.thread == nullptr && PortFree(port),
          "Stop clears the endpoint and thread and closes the socket");
}

// ThreadProc and InitThreadProc are protected: a host reaches them through a
// class of its own.
struct ThreadEntries : CVekListen {
    using CVekListen::InitThreadProc;
    using CVekListen::ThreadProc;
};

void CheckThreadEntries() {
    ThreadEntries idle;
    CHECK(idle.ThreadProc() == 0, "ThreadProc on an idle listener returns 0 at once");
    CHECK(ThreadEntries::InitThreadProc(nullptr) == 0, "InitThreadProc(null) returns 0");
    // The header's declaration must fit CreateThread's parameter as it is.
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, &ThreadEntries::InitThreadProc, &idle, 0, &id);
    DWORD code = 1234;
    CHECK(thread && WaitForSingleObject(thread, kWaitMilliseconds) == WAIT_OBJECT_0 &&
              GetExitCodeThread(thread, &code) && code == 0,
          "InitThreadProc runs as a __stdcall thread entry and the thread exits with 0");
    if (thread) CloseHandle(thread);
}

int hostSubclassesDestroyed = 0;

struct HostListener : CVekListen {
    ~HostListener() { ++hostSubclassesDestroyed; }
};

void CheckVirtualDestructor() {
    const int port = NextPort();
    CVekListen* listener = new CVekListen;
    CHECK(listener->Run(VEK_MODE_UNICAST, OnDatagram, port, 0, 0, nullptr) == 1,
          "a heap listener runs");
    int deletesBefore = hostDeletes;
    delete listener;  // the scalar deleting destructor in the exported table
    CHECK(PortFree(port),
          "delete through the virtual destructor stops a heap listener the DLL built");
    CHECK(hostDeletes == deletesBefore, "the DLL's deleting destructor frees the listener itself");

    CVekListen* subclass = new HostListener;
    CHECK(VirtualTableOf(subclass) != ExportedVirtualTable(),
          "a host subclass has a virtual table of its own");
    CHECK(subclass->Run(VEK_MODE_UNICAST, OnDatagram, port, 0, 0, nullptr) == 1,
          "a host subclass runs");
    deletesBefore = hostDeletes;
    delete subclass;
    CHECK(hostSubclassesDestroyed == 1 && PortFree(port),
          "delete of a host subclass through CVekListen* runs both destructors");
    CHECK(hostDeletes == deletesBefore + 1,
          "a host subclass is freed through the host's operator delete");

    {
        CVekListen onStack;
        CHECK(onStack.Run(VEK_MODE_UNICAST, OnDatagram, port, 0, 0, nullptr) == 1,
              "a listener on the stack runs");
    }
    CHECK(PortFree(port), "a running listener going out of scope is stopped");
}

void CheckListenerCopies() {
    const int port = NextPort();
    const int targetPort = NextPort();
    int context = 0;
    CVekListen running;
    CHECK(
        running.Run(VEK_MODE_UNICAST, OnDatagram, port, 0, Address("239.255.70.14"), &context) == 1,
        "the listener to copy runs");
    {
        CVekListen copy(running);
        CHECK(VirtualTableOf(&copy) == ExportedVirtualTable() && copy.endpoint == nullptr &&
                  copy.thread == nullptr && copy.mode == running.mode &&
                  copy.callback == running.callback && copy.port == port &&
                  copy.groupAddress == running.groupAddress && copy.context == &context &&
                  copy.interfaceAddress == running.interfaceAddress,
              "CVekListen's copy constructor copies the recorded fields into an idle listener");
    }
    CHECK(running.thread != nullptr, "destroying the idle copy leaves the original running");

    CVekListen target;
    CHECK(target.Run(VEK_MODE_UNICAST, OnDatagram, targetPort, 0, 0, nullptr) == 1,
          "the assignment target runs");
    CVekListen& result = (target = running);
    CHECK(&result == &target, "CVekListen's copy assignment returns the object assigned to");
    CHECK(target.thread == nullptr && PortFree(targetPort) && target.port == port &&
              target.context == &context,
          "copy assignment stops the target and copies the recorded fields");
    running.Stop();
}

// ---- End to end --------------------------------------------------------------

bool SendAndDeliver(CVekSend& sender, int port, unsigned long address, void* context) {
    char text[] = "end to end";
    ResetEvent(delivered);
    return sender.Send(text, 10, port, address) == 1 && AwaitDelivery() &&
           lastDelivery.length == 10 && memcmp(lastDelivery.data, text, 10) == 0 &&
           lastDelivery.context == context;
}

void CheckEndToEnd() {
    int context = 0;
    CVekListen listener;
    CVekSend sender;
    const int unicastPort = NextPort(), multicastPort = NextPort();
    CHECK(listener.Run(VEK_MODE_UNICAST, OnDatagram, unicastPort, 0, 0, &context) == 1 &&
              sender.InitInstance(VEK_MODE_UNICAST, 0, 0) == 1,
          "a unicast listener and sender set up");
    CHECK(SendAndDeliver(sender, unicastPort, Address("127.0.0.1"), &context),
          "a unicast datagram goes from CVekSend to CVekListen's callback");
    sender.ExitInstance();
    listener.Stop();

    const unsigned long group = Address("239.255.70.15");
    CHECK(listener.Run(VEK_MODE_MULTICAST, OnDatagram, multicastPort, 0, group, &context) == 1 &&
              sender.InitInstance(VEK_MODE_MULTICAST, group, 0) == 1,
          "a multicast listener and sender join the group");
    CHECK(SendAndDeliver(sender, multicastPort, 0, &context),
          "a multicast datagram goes from CVekSend to CVekListen's callback");
    sender.ExitInstance();
    listener.Stop();
}

// A burst queued behind a held first delivery is taken in one go: every
// datagram once, in order, and the empty socket at its end is not reported
// as a failed receive.
struct Burst {
    HANDLE release;  // the first delivery waits for it
    volatile LONG count;
    unsigned char order[64];
    volatile LONG failed;  // deliveries of length -1
};

void OnBurst(void* data, int length, void* context, unsigned long, int) {
    Burst* burst = static_cast<Burst*>(context);
    if (burst->count == 0) WaitForSingleObject(burst->release, kWaitMilliseconds);
    if (length != 1)
        InterlockedIncrement(&burst->failed);
    else if (burst->count < 64)
        burst->order[burst->count] = *static_cast<unsigned char*>(data);
    InterlockedIncrement(&burst->count);
}

void CheckBurst() {
    const int port = NextPort(), size = 40;
    Burst burst = {};
    burst.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CVekListen listener;
    CVekSend sender;
    CHECK(listener.Run(VEK_MODE_UNICAST, OnBurst, port, 0, 0, &burst) == 1 &&
              sender.InitInstance(VEK_MODE_UNICAST, 0, 0) == 1,
          "a listener and a sender set up for a burst");
    for (unsigned char i = 0; i < size; ++i) sender.Send(&i, 1, port, Address("127.0.0.1"));
    SetEvent(burst.release);
    for (int i = 0; i < 300 && burst.count < size; ++i) Sleep(10);
    listener.Stop();  // joins the receive thread: its deliveries are all in
    bool inOrder = burst.count == size;
    for (int i = 0; inOrder && i < size; ++i) inOrder = burst.order[i] == i;
    CHECK(inOrder && burst.failed == 0,
          "a burst of 40 datagrams is delivered whole and in order, with no failed receive");
    sender.ExitInstance();
    CloseHandle(burst.release);
}

// ---- Host queries --------------------------------------------------------------

struct Interface {
    const char* address;
    const char* netmask;
};

bool Listed(const unsigned long* addresses, const unsigned long* netmasks, int count,
            const Interface& wanted) {
    for (int i = 0; i < count; ++i)
        if (addresses[i] == Address(wanted.address) && netmasks[i] == Address(wanted.netmask))
            return true;
    return false;
}

void CheckHostQueries(bool two) {
    char name[VEK_HOST_NAME_SIZE] = {}, platformName[VEK_HOST_NAME_SIZE] = {};
    CHECK(VekGetHostName(name) == 1 && gethostname(platformName, sizeof platformName) == 0 &&
              strcmp(name, platformName) == 0,
          "VekGetHostName writes the socket layer's host name");

    char computer[64] = {}, platformComputer[64] = {};
    DWORD size = sizeof platformComputer;
    const unsigned long length = GetComputerNameA(platformComputer, &size) ? size : 0;
    CHECK(length > 0 && VekGetCompName(computer, sizeof computer) != 0 &&
              strcmp(computer, platformComputer) == 0,
          "VekGetCompName(buffer, size) writes the computer name");
    CHECK(VekGetCompName(computer, length) == 0,
          "VekGetCompName refuses a size without room for the terminator");

    const Interface one[] = {{"198.51.100.7", "255.255.255.0"}};
    const Interface both[] = {{"198.51.100.7", "255.255.255.0"},
                              {"203.0.113.9", "255.255.255.0"},
                              {"127.0.0.2", "255.0.0.0"}};
    const Interface* expected = two ? both : one;
    const int expectedCount = two ? 3 : 1;
    unsigned long addresses[VEK_MAX_INTERFACES] = {}, netmasks[VEK_MAX_INTERFACES] = {};
    CHECK(VekGetHostIP(nullptr, nullptr) == expectedCount &&
              VekGetHostIP(addresses, netmasks) == expectedCount,
          "VekGetHostIP counts the layout's usable interfaces and fills as many");
    bool all = true;
    for (int i = 0; i < expectedCount; ++i)
        all = all && Listed(addresses, netmasks, expectedCount, expected[i]);
    CHECK(all,
          "VekGetHostIP writes addresses into its first argument and netmasks into its second");

    unsigned char cards[VEK_ADAPTER_ADDRESS_SIZE * 4] = {};
    const unsigned char first[VEK_ADAPTER_ADDRESS_SIZE] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const unsigned char second[VEK_ADAPTER_ADDRESS_SIZE] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x66};
    const int adapters = two ? 2 : 1;
    CHECK(VekGetNetCard(nullptr) == adapters && VekGetNetCard(cards) == adapters &&
              memcmp(cards, first, sizeof first) == 0 &&
              (!two || memcmp(cards + VEK_ADAPTER_ADDRESS_SIZE, second, sizeof second) == 0),
          "VekGetNetCard counts the layout's adapters and writes their hardware addresses");
}

// The layout scripts/with-layout built: "one", "two", or empty.
bool LayoutIs(const char* wanted) {
    char layout[16] = {};
    return GetEnvironmentVariableA("VEKLINK_LAYOUT", layout, sizeof layout) > 0 &&
           strcmp(layout, wanted) == 0;
}

}  // namespace

extern "C" void HostEntry() {
    delivered = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CheckLayout();
    CHECK(VekInitInstance() == 1, "VekInitInstance returns 1");
    CheckSenderConstruction();
    CheckSenderArguments();
    CheckSenderCopies();
    CheckListenerConstruction();
    CheckListenerArguments();
    CheckThreadEntries();
    CheckVirtualDestructor();
    CheckListenerCopies();
    CheckEndToEnd();
    CheckBurst();
    if (LayoutIs("one") || LayoutIs("two")) {
        CheckHostQueries(LayoutIs("two"));
    } else {
        CHECK(false, "the host queries run in layout one or two (scripts/with-layout)");
    }
    CHECK(VekExitInstance() == 1, "VekExitInstance returns 1");
    ExitProcess(failures ? 1 : 0);
}
