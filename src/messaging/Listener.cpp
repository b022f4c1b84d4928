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
//   - kDeciding: the thread is deciding on one delivery: copying the callback
//     and context out of the listener and checking that the callback is code;
//   - kStopped: Stop's wait is over; no delivery is decided after it.
// Stop returns only once kStarted is set and kDeciding is clear, or once the
// thread has ended in whatever state it left the word (it never ran, or was
// ended from outside), so after Stop the thread never touches the listener
// object again, and a decision that Stop overlapped ends without a call. A
// thread that has ended holds nothing: Stop then releases the endpoint
// whatever the references say.
// The endpoint is defined before the public header declares it: mingw would
// otherwise export its type information along with the exported classes.
#include "transport/UdpEndpoint.h"
#include "VekLink.h"

#include <string.h>

namespace {

constexpr unsigned kStarted = 1, kDeciding = 2, kStopped = 4;
constexpr unsigned kReference = 8;  // the reference count sits above the flags
constexpr DWORD kStopWaitMilliseconds = 1000;
constexpr int kSignalAttempts = 3;
constexpr DWORD kLongestPause = 100;  // ms between retries of a failed wait
constexpr DWORD kResumeFailed = static_cast<DWORD>(-1);

// The hand-off word, over the atomic built-ins that GCC and clang share: the
// Microsoft-ABI build has no C++ library to take std::atomic from.
class HandoffWord {
public:
    unsigned Load() const { return __atomic_load_n(&word_, __ATOMIC_ACQUIRE); }
    unsigned FetchOr(unsigned bits) { return __atomic_fetch_or(&word_, bits, __ATOMIC_ACQ_REL); }
    unsigned FetchAnd(unsigned bits) { return __atomic_fetch_and(&word_, bits, __ATOMIC_ACQ_REL); }
    unsigned FetchSub(unsigned n) { return __atomic_fetch_sub(&word_, n, __ATOMIC_ACQ_REL); }
    bool CompareExchange(unsigned* expected, unsigned desired) {
        return __atomic_compare_exchange_n(&word_, expected, desired, true, __ATOMIC_ACQ_REL,
                                           __ATOMIC_ACQUIRE);
    }

private:
    unsigned word_ = 2 * kReference;
};

// Any address inside the library names it to GetModuleHandleExW.
const char kInThisLibrary = 0;

class ListenEndpoint : public CUdpEndpoint {
public:
    // A reference on the library for the receive thread; none natively,
    // where the library is never unloaded (library_ then stays null).
    void HoldLibrary() {
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&kInThisLibrary), &library_);
    }
    // Hands the reference over, to the thread that ends with it or to a Run
    // whose thread never ran.
    HMODULE TakeLibrary() {
        const HMODULE held = library_;
        library_ = nullptr;
        return held;
    }

    // Both parties hold a reference; the last to let go releases the endpoint.
    void LetGo() {
        if (handoff.FetchSub(kReference) / kReference == 1) ReleaseEndpoint(this);
    }

    void MarkStarted() { handoff.FetchOr(kStarted); }

    // Opens a delivery decision, unless Stop's wait is already over.
    bool BeginDecision() {
        unsigned state = handoff.Load();
        do {
            if (state & kStopped) return false;
        } while (!handoff.CompareExchange(&state, state | kDeciding));
        return true;
    }

    // Closes the decision; false when Stop's wait ended during it.
    bool EndDecision() { return !(handoff.FetchAnd(~kDeciding) & kStopped); }

    // Stop's wait is over: nothing more is delivered, so the thread ends.
    bool Stopped() const { return handoff.Load() & kStopped; }

    // Marks the end of Stop's wait and waits out a decision in progress (and
    // a thread that has not read its endpoint yet), or the thread's end.
    // Decisions take microseconds; each pause is a short wait for the thread.
    // True when the thread has ended.
    bool MarkStopped(HANDLE thread) {
        for (unsigned state = handoff.FetchOr(kStopped); !(state & kStarted) || (state & kDeciding);
             state = handoff.Load())
            if (WaitForSingleObject(thread, 1) == WAIT_OBJECT_0) return true;
        return false;
    }

    // Signals the stop event, trying again should the platform refuse.
    bool SignalStop() {
        for (int attempt = 0; attempt < kSignalAttempts; ++attempt)
            if (WSASetEvent(stopEvent)) return true;
        return false;
    }

    // Ends the receive thread when the stop event cannot be signalled: no
    // decision starts once the word is marked, and shutting the socket down
    // wakes the wait natively (whatever the wait then reads is not
    // delivered). True when the thread has ended.
    bool StopWithoutSignal(HANDLE thread) {
        if (MarkStopped(thread)) return true;
        shutdown(GetSocket(), SD_RECEIVE);
        return WaitForSingleObject(thread, kStopWaitMilliseconds) == WAIT_OBJECT_0;
    }

private:
    HandoffWord handoff;
    HMODULE library_ = nullptr;
};

ListenEndpoint* AsListenEndpoint(CUdpEndpoint* endpoint) {
    return static_cast<ListenEndpoint*>(endpoint);
}

enum Callable { kCode, kNotCode, kUnknown };

// Code means a readable address (IsBadCodePtr) on a page that may be
// executed: IsBadCodePtr alone accepts data on Windows. Null is not code.
// The page is asked about first: a query that fails other than for an
// address outside the process (natively: the mappings could not be read, a
// transient failure) proves nothing either way.
Callable CheckCallable(ReceiveCallback callback) {
    // Through the generic function pointer type, which any function pointer
    // converts to without a warning.
    typedef void (*AnyFunction)();
    const FARPROC code = reinterpret_cast<FARPROC>(reinterpret_cast<AnyFunction>(callback));
    if (!code) return kNotCode;
    MEMORY_BASIC_INFORMATION page;
    if (VirtualQuery(reinterpret_cast<void*>(code), &page, sizeof page) != sizeof page)
        return GetLastError() == ERROR_INVALID_PARAMETER ? kNotCode : kUnknown;
    const DWORD executable =
        PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (page.State != MEM_COMMIT || !(page.Protect & executable) ||
        (page.Protect & (PAGE_GUARD | PAGE_NOACCESS)))
        return kNotCode;
    return IsBadCodePtr(code) ? kNotCode : kCode;
}

enum Wake { kNetwork, kStopping };

// The pause after a failed wait, spent waiting for the stop event alone; true
// when Stop signalled. Should that wait fail too, the pause is still taken.
// Each pause doubles the next, up to kLongestPause.
bool PauseUntilStop(WSAEVENT stopEvent, DWORD* pause) {
    const DWORD signalled = WSAWaitForMultipleEvents(1, &stopEvent, FALSE, *pause, FALSE);
    if (signalled == WSA_WAIT_EVENT_0) return true;
    if (signalled != WSA_WAIT_TIMEOUT) Sleep(*pause);
    *pause = *pause * 2 < kLongestPause ? *pause * 2 : kLongestPause;
    return false;
}

// Waits until the socket may have a datagram or Stop signals. The recorded
// network events are read and cleared and the event reset, but the socket is
// then read whatever they say: a datagram that arrives between the
// enumeration and the reset sets the event only for the reset to clear it,
// and with its FD_READ already reported no further notice comes until the
// next receive. The receive that follows every wake-up closes that window;
// when nothing is queued it costs one failed receive. A failed wait is tried
// again after a pause, so a transient failure neither silences the listener
// nor spins.
Wake AwaitWake(CUdpEndpoint* endpoint, const WSAEVENT (&events)[2]) {
    for (DWORD pause = 1;;) {
        const DWORD signalled = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (signalled == WSA_WAIT_EVENT_0) break;
        if (signalled == WSA_WAIT_EVENT_0 + 1 || PauseUntilStop(events[1], &pause))
            return kStopping;
    }
    WSANETWORKEVENTS recorded = {};
    WSAEnumNetworkEvents(endpoint->GetSocket(), endpoint->netEvent, &recorded);
    WSAResetEvent(endpoint->netEvent);
    return kNetwork;
}

struct Datagram {
    int length;  // bytes, or -1 after a failed receive
    unsigned long sourceAddress;
    int sourcePort;
};

enum Received { kDatagram, kNothingQueued, kFailed };

// One receive on the non-blocking socket. An empty queue is not a failed
// receive: a wake-up can announce a datagram an earlier receive already took.
Received ReceiveOne(CUdpEndpoint* endpoint, char* buffer, Datagram* got) {
    *got = Datagram{VEK_RECEIVE_BUFFER_SIZE, 0, 0};
    if (endpoint->RecvFrom(buffer, &got->length, &got->sourceAddress, &got->sourcePort))
        return kDatagram;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kNothingQueued : kFailed;
}

// Hands one datagram to the listener's callback, unless Stop's wait is over
// or the callback is not code; false ends the thread. A check that could not
// tell is made again after a pause, as a failed wait is: the datagram waits
// for it, and is dropped only when Stop's wait ends first (while Stop waits,
// the pauses are slept, as the stop event no longer holds them). The buffer
// is cleared after every delivery, so it is all zeros whenever a datagram
// arrives without a clear between the wake-up and the receive.
bool Deliver(const CVekListen& listener, ListenEndpoint* own, char* buffer, const Datagram& got) {
    for (DWORD pause = 1;;) {
        if (!own->BeginDecision()) return false;
        const ReceiveCallback deliver = listener.callback;
        void* const context = listener.context;
        const Callable callable = CheckCallable(deliver);
        if (!own->EndDecision() || callable == kNotCode) return false;
        if (callable == kCode) {
            deliver(buffer, got.length, context, got.sourceAddress, got.sourcePort);
            memset(buffer, 0, VEK_RECEIVE_BUFFER_SIZE);
            return true;
        }
        if (PauseUntilStop(own->stopEvent, &pause)) Sleep(pause);
    }
}

// Delivers everything queued, one datagram per callback, before the thread
// waits again: a burst costs one wake-up, not one per datagram. A failed
// receive is delivered once, then the thread waits again. On a stop the
// queue is still delivered, but a failure ends the thread unreported.
// Returns false when the thread is to end.
bool DeliverQueued(const CVekListen& listener, ListenEndpoint* own, char* buffer, bool stopping) {
    for (;;) {
        Datagram got;
        const Received received = ReceiveOne(own, buffer, &got);
        if (received == kNothingQueued) return true;
        if (received == kFailed && stopping) return false;
        if (!Deliver(listener, own, buffer, got)) return false;
        if (received == kFailed) return true;
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
    ListenEndpoint* created = new ListenEndpoint;
    if (!created) return 0;
    if (!created->HasEvents() || !created->Create(newPort, newInterface) ||
        (newMode == VEK_MODE_MULTICAST && !created->JoinGroup(group)) ||
        !created->SelectEvents(FD_READ) || !created->SetRecvBuffer(kSocketBufferSize)) {
        ReleaseEndpoint(created);
        return 0;
    }
    DWORD threadId;
    HANDLE started =
        CreateThread(nullptr, 0, &CVekListen::InitThreadProc, this, CREATE_SUSPENDED, &threadId);
    if (!started) {
        ReleaseEndpoint(created);
        return 0;
    }
    created->HoldLibrary();
    // Every field is set before the thread runs: its callback may call Stop.
    // A copy keeps what a failed resume must put back.
    const CVekListen recorded(*this);
    endpoint = created;
    thread = started;
    callback = newCallback;
    mode = newMode;
    interfaceAddress = newInterface;
    port = newPort;
    context = newContext;
    groupAddress = group;
    if (ResumeThread(started) == kResumeFailed) {
        // Never resumed, the thread never ran: closing its handle does not end
        // it on Windows, so it is ended first.
        TerminateThread(started, 0);
        CloseHandle(started);
        if (const HMODULE library = created->TakeLibrary()) FreeLibrary(library);
        endpoint = nullptr;
        thread = nullptr;
        *this = recorded;
        ReleaseEndpoint(created);
        return 0;
    }
    return 1;
}

// The receive thread keeps the library loaded while it runs: a host may
// unload the library (with the plugin that used it) as soon as Stop has
// returned, while a callback that outlived Stop's wait has yet to return
// into it. Run takes the reference before the thread runs; the thread gives
// it back by the call that ends it, so that no code of the library runs
// after. A host that calls InitThreadProc itself, on an idle listener, gets
// its result back as from any function.
unsigned long VEK_THREAD_ENTRY CVekListen::InitThreadProc(void* listener) {
    CVekListen* const self = static_cast<CVekListen*>(listener);
    // Taken before the loop, which may end with the endpoint released.
    const HMODULE library =
        self && self->endpoint ? AsListenEndpoint(self->endpoint)->TakeLibrary() : nullptr;
    const unsigned long result = self ? self->ThreadProc() : 0;
    if (library) FreeLibraryAndExitThread(library, result);
    return result;
}

unsigned long CVekListen::ThreadProc() {
    ListenEndpoint* own = AsListenEndpoint(endpoint);
    if (!own) return 0;
    own->MarkStarted();

    char buffer[VEK_RECEIVE_BUFFER_SIZE];
    memset(buffer, 0, sizeof buffer);
    const WSAEVENT events[2] = {own->netEvent, own->stopEvent};
    for (;;) {
        const Wake wake = AwaitWake(own, events);
        // A stop ends the thread once the queue is empty. (Wine re-arms the
        // network event late, so its stop can win the wait while datagrams
        // are queued.) So does the end of Stop's wait: a Stop that could not
        // signal shuts the socket down, which leaves it readable with nothing
        // to read, and a wait would wake at once for ever.
        const bool stopping = wake == kStopping;
        if (!DeliverQueued(*this, own, buffer, stopping) || stopping || own->Stopped()) break;
    }
    own->LetGo();
    return 0;
}

void CVekListen::Stop() {
    if (!thread) return;
    ListenEndpoint* own = AsListenEndpoint(endpoint);
    const bool ended = own->SignalStop()
                           ? WaitForSingleObject(thread, kStopWaitMilliseconds) == WAIT_OBJECT_0 ||
                                 own->MarkStopped(thread)
                           : own->StopWithoutSignal(thread);
    CloseHandle(thread);
    thread = nullptr;
    endpoint = nullptr;
    if (ended)
        ReleaseEndpoint(own);
    else
        own->LetGo();
}
