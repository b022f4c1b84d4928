// Windows Sockets event objects over eventfd and poll.
//
// An event is a manual-reset flag backed by an eventfd that is readable while
// the event is set. WSAEventSelect ties it to one socket: from then on the
// event also counts as signalled while that socket is readable. A wait is
// one poll over both kinds of descriptor. (The receive loop waits only once
// it has found the queue empty, so a look at the queued bytes first would
// cost a system call per wake-up and settle nothing.) A wait that finds the
// socket readable records FD_READ for WSAEnumNetworkEvents, which reports and
// clears the record, as Windows does. The lock is a POSIX mutex, whose
// failure is a result, not an exception.
#include "winapi.h"
#include "seams.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

struct Event {
    int fd = -1;
    pthread_mutex_t lock;          // orders set and reset on the eventfd
    std::atomic<bool> set{false};  // written under the lock only
    // Selected before the receive thread starts, then used by that thread only.
    SOCKET socket = INVALID_SOCKET;
    bool readRecorded = false;  // FD_READ seen by a wait
};

constexpr DWORD kMaxEvents = 2;
constexpr short kReadable = POLLIN | POLLERR;  // a datagram, or an error to receive

Event* AsEvent(WSAEVENT event) { return static_cast<Event*>(event); }

bool Readable(SOCKET s) {
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & kReadable);
}

}  // namespace

WSAEVENT WSACreateEvent() {
    void* memory = malloc(sizeof(Event));
    if (!memory) return WSA_INVALID_EVENT;
    Event* event = new (memory) Event;
    const int error = pthread_mutex_init(&event->lock, nullptr);
    if (error == 0) event->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (error == 0 && event->fd >= 0) return event;
    if (error == 0)
        pthread_mutex_destroy(&event->lock);
    else
        errno = error;
    free(memory);
    return WSA_INVALID_EVENT;
}

BOOL WSACloseEvent(WSAEVENT handle) {
    Event* event = AsEvent(handle);
    ::close(event->fd);
    pthread_mutex_destroy(&event->lock);
    event->~Event();
    free(event);
    return TRUE;
}

BOOL WSASetEvent(WSAEVENT handle) {
    Event* event = AsEvent(handle);
    const int error = pthread_mutex_lock(&event->lock);
    if (error != 0) return errno = error, FALSE;
    const uint64_t one = 1;
    const bool set = event->set || ::write(event->fd, &one, sizeof one) == sizeof one;
    if (set) event->set = true;
    pthread_mutex_unlock(&event->lock);
    return set ? TRUE : FALSE;
}

BOOL WSAResetEvent(WSAEVENT handle) {
    Event* event = AsEvent(handle);
    // The receive loop resets its network event for every datagram, and that
    // event is almost never set: such a reset takes no lock. A set racing
    // with it simply lands after it.
    if (!event->set) return TRUE;
    const int error = pthread_mutex_lock(&event->lock);
    if (error != 0) return errno = error, FALSE;
    uint64_t count;
    const bool reset = !event->set || ::read(event->fd, &count, sizeof count) == sizeof count;
    if (reset) event->set = false;
    pthread_mutex_unlock(&event->lock);
    return reset ? TRUE : FALSE;
}

int WSAEventSelect(SOCKET s, WSAEVENT handle, long networkEvents) {
    const int flags = ::fcntl(s, F_GETFL);
    if (networkEvents != FD_READ) return errno = EINVAL, -1;
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    AsEvent(handle)->socket = s;
    AsEvent(handle)->readRecorded = false;
    return 0;
}

DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                               BOOL) {
    win::seam::Reach(win::seam::kEventWait);
    if (count == 0 || count > kMaxEvents || waitAll) return errno = EINVAL, WSA_WAIT_FAILED;
    // Each event's socket (poll skips -1) goes before its eventfd: when the
    // socket is already readable, poll then registers no wait for the rest.
    pollfd fds[2 * kMaxEvents];
    for (DWORD i = 0; i < count; ++i) {
        fds[2 * i] = pollfd{AsEvent(events[i])->socket, POLLIN, 0};
        fds[2 * i + 1] = pollfd{AsEvent(events[i])->fd, POLLIN, 0};
    }
    // WSA_INFINITE, like any time-out past INT_MAX ms, turns negative: no limit.
    int ready;
    while ((ready = ::poll(fds, 2 * count, static_cast<int>(timeout))) < 0 && errno == EINTR) {}
    if (ready == 0) return WSA_WAIT_TIMEOUT;
    // A poll that failed still tells an event set by WSASetEvent, by its flag.
    if (ready < 0) {
        for (DWORD i = 0; i < count; ++i)
            if (AsEvent(events[i])->set) return WSA_WAIT_EVENT_0 + i;
        return WSA_WAIT_FAILED;
    }
    // The lowest signalled index wins, as on Windows.
    for (DWORD i = 0; i < count; ++i) {
        const bool readable = fds[2 * i].revents & kReadable;
        if (readable) AsEvent(events[i])->readRecorded = true;
        if (readable || fds[2 * i + 1].revents) return WSA_WAIT_EVENT_0 + i;
    }
    return WSA_WAIT_FAILED;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT handle, WSANETWORKEVENTS* record) {
    Event* event = AsEvent(handle);
    record->lNetworkEvents = event->readRecorded || Readable(s) ? FD_READ : 0;
    event->readRecorded = false;
    WSAResetEvent(handle);
    return 0;
}
