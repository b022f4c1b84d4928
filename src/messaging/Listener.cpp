// The listener and its receive thread.
//
// Stop waits a bounded time for the receive thread, so the thread can outlive
// Stop (a long callback, Stop called from inside the callback). The endpoint
// is then shared by two parties that never take a lock: the listener's Stop
// and the receive thread. One atomic word in the endpoint carries the whole
// hand-off between them:
//   - a reference for each party; whichever lets go last releases the
//     endpoint, so it is released exactly once, and only once no wait or
//     receive can use it any more;
//   - kStarted: the thread has read the listener's endpoint pointer;
//   - kReading: the thread is copying the callback and context out of the
//     listener for one delivery;
//   - kStopped: Stop has begun; no delivery starts after it.
// Stop returns only once kStarted is set and kReading is clear, so after
// Stop the thread never touches the listener object again.
// The endpoint is defined before the public header declares it: mingw would
// otherwise export its type information along with the exported classes.
#include "transport/UdpEndpoint.h"
#include "VekLink.h"

#include <atomic>
#include <cstring>
#include <new>
#include <thread>

namespace {

constexpr unsigned kStarted = 1, kReading = 2, kStopped = 4;
constexpr unsigned kReference = 8;  // the reference count sits above the flags
constexpr int kReceiveBufferSize = 65536;
constexpr DWORD kStopWaitMilliseconds = 1000;

class ListenEndpoint : public CUdpEndpoint {
public:
    std::atomic<unsigned> handoff{2 * kReference};

    void LetGo() {
        if (handoff.fetch_sub(kReference, std::memory_order_acq_rel) / kReference == 1)
            ReleaseEndpoint(this);
    }
};

ListenEndpoint* AsListenEndpoint(CUdpEndpoint* endpoint) {
    return static_cast<ListenEndpoint*>(endpoint);
}

bool IsCallable(ReceiveCallback callback) {
    // Through the generic function pointer type, which any function pointer
    // converts to without a warning.
    typedef void (*AnyFunction)();
    return !IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<AnyFunction>(callback)));
}

// Waits for the next datagram and reports whether one can be read. False
// means the thread is to end: a stop, or a wait that failed.
bool AwaitDatagram(CUdpEndpoint* endpoint, const WSAEVENT (&events)[2]) {
    for (;;) {
        const DWORD signalled = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (signalled != WSA_WAIT_EVENT_0) return false;
        WSANETWORKEVENTS recorded = {};
        const bool enumerated =
            WSAEnumNetworkEvents(endpoint->GetSocket(), endpoint->netEvent, &recorded) == 0;
        WSAResetEvent(endpoint->netEvent);
        if (enumerated && (recorded.lNetworkEvents & FD_READ)) return true;
    }
}

}  // namespace

CVekListen::CVekListen()
    : endpoint(nullptr), thread(nullptr), mode(VEK_MODE_UNICAST), callback(nullptr), port(0),
      groupAddress(0), context(nullptr), interfaceAddress(0) {}

CVekListen::CVekListen(const CVekListen& other)
    : endpoint(nullptr), thread(nullptr), mode(other.mode), callback(other.callback),
      port(other.port), groupAddress(other.groupAddress), context(other.context),
      interfaceAddress(other.interfaceAddress) {}

CVekListen::~CVekListen() { Stop(); }

CVekListen& CVekListen::operator=(const CVekListen& other) {
    // The socket and thread stay with their owner: the copy takes only the
    // recorded set-up.
    if (this != &other) {
        Stop();
        mode = other.mode;
        callback = other.callback;
        port = other.port;
        groupAddress = other.groupAddress;
        context = other.context;
        interfaceAddress = other.interfaceAddress;
    }
    return *this;
}

int CVekListen::Run(unsigned long newMode, ReceiveCallback newCallback, int newPort,
                    unsigned long newInterface, unsigned long group, void* newContext) {
    if (thread) return 0;
    ListenEndpoint* created = new (std::nothrow) ListenEndpoint;
    if (!created) return 0;
    if (!created->HasEvents() || !created->Create(newPort, newInterface) ||
        (newMode == VEK_MODE_MULTICAST && !created->JoinGroup(group)) ||
        !created->SelectEvents(FD_READ) || !created->SetRecvBuffer(kSocketBufferSize)) {
        ReleaseEndpoint(created);
        return 0;
    }
    DWORD threadId;
    HANDLE started = CreateThread(nullptr, 0, &CVekListen::InitThreadProc, this, CREATE_SUSPENDED,
                                  &threadId);
    if (!started) {
        ReleaseEndpoint(created);
        return 0;
    }
    endpoint = created;
    thread = started;
    callback = newCallback;
    mode = newMode;
    interfaceAddress = newInterface;
    port = newPort;
    context = newContext;
    groupAddress = group;
    ResumeThread(started);
    return 1;
}

unsigned long VEK_THREAD_ENTRY CVekListen::InitThreadProc(void* listener) {
    return listener ? static_cast<CVekListen*>(listener)->ThreadProc() : 0;
}

unsigned long CVekListen::ThreadProc() {
    ListenEndpoint* own = AsListenEndpoint(endpoint);
    if (!own) return 0;
    own->handoff.fetch_or(kStarted, std::memory_order_release);

    // Cleared once here and after every delivery, so the buffer is all zeros
    // whenever a datagram arrives, without putting the clear between the
    // wake-up and the receive.
    char buffer[kReceiveBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    const WSAEVENT events[2] = {own->netEvent, own->stopEvent};
    while (AwaitDatagram(own, events)) {
        int length = kReceiveBufferSize;
        unsigned long sourceAddress = 0;
        int sourcePort = 0;
        own->RecvFrom(buffer, &length, &sourceAddress, &sourcePort);

        // Copy callback and context out of the listener, unless Stop began.
        unsigned state = own->handoff.load(std::memory_order_acquire);
        do {
            if (state & kStopped) break;
        } while (!own->handoff.compare_exchange_weak(state, state | kReading,
                                                     std::memory_order_acquire));
        if (state & kStopped) break;
        const ReceiveCallback deliver = callback;
        void* const deliverContext = context;
        own->handoff.fetch_and(~kReading, std::memory_order_release);

        if (!IsCallable(deliver)) break;
        deliver(buffer, length, deliverContext, sourceAddress, sourcePort);
        std::memset(buffer, 0, sizeof buffer);
    }
    own->LetGo();
    return 0;
}

void CVekListen::Stop() {
    if (!thread) return;
    ListenEndpoint* own = AsListenEndpoint(endpoint);
    WSASetEvent(own->stopEvent);
    WaitForSingleObject(thread, kStopWaitMilliseconds);
    CloseHandle(thread);
    thread = nullptr;

    // A thread still running after the wait may be about to read this
    // object; let it finish that before the object is given back.
    unsigned state = own->handoff.fetch_or(kStopped, std::memory_order_acq_rel) | kStopped;
    while (!(state & kStarted) || (state & kReading)) {
        std::this_thread::yield();
        state = own->handoff.load(std::memory_order_acquire);
    }
    endpoint = nullptr;
    own->LetGo();
}
