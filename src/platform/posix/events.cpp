// Windows Sockets event objects over eventfd and poll.
//
// An event is a manual-reset flag backed by an eventfd that is readable while
// the event is set. WSAEventSelect ties it to one socket: from then on the
// event also counts as signalled while that socket is readable, so one wait
// over several events is one poll over their descriptors. A wait that sees the
// socket readable records FD_READ for WSAEnumNetworkEvents, which reports and
// clears the record as Windows does.
#include "native.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <new>
#include <sys/eventfd.h>

namespace win {
namespace {

struct Event {
    int fd = -1;
    std::mutex lock;         // orders set and reset against the eventfd
    std::atomic<bool> set{false};  // written under the lock only
    std::atomic<int> socket{-1};            // selected socket, or -1
    std::atomic<bool> readRecorded{false};  // FD_READ seen by a wait
};

constexpr DWORD kMaxWaitEvents = 64;

Event* AsEvent(WSAEVENT event) { return static_cast<Event*>(event); }

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLERR));
}

}  // namespace

WSAEVENT WSACreateEvent() {
    Event* event = new (std::nothrow) Event;
    if (!event) {
        errno = ENOMEM;
        return WSA_INVALID_EVENT;
    }
    event->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event->fd < 0) {
        delete event;
        return WSA_INVALID_EVENT;
    }
    return event;
}

BOOL WSACloseEvent(WSAEVENT handle) {
    Event* event = AsEvent(handle);
    if (!event) return FALSE;
    ::close(event->fd);
    delete event;
    return TRUE;
}

BOOL WSASetEvent(WSAEVENT handle) {
    Event* event = AsEvent(handle);
    if (!event) return FALSE;
    std::lock_guard<std::mutex> guard(event->lock);
    if (!event->set) {
        const std::uint64_t one = 1;
        if (::write(event->fd, &one, sizeof one) != sizeof one) return FALSE;
        event->set = true;
    }
    return TRUE;
}

BOOL WSAResetEvent(WSAEVENT handle) {
    Event* event = AsEvent(handle);
    if (!event) return FALSE;
    // The receive loop resets its network event for every datagram, and that
    // event is almost never set: such a reset takes no lock. A set racing with
    // it simply lands after it.
    if (!event->set.load()) return TRUE;
    std::lock_guard<std::mutex> guard(event->lock);
    if (event->set) {
        std::uint64_t count;
        if (::read(event->fd, &count, sizeof count) != sizeof count) return FALSE;
        event->set = false;
    }
    return TRUE;
}

int WSAEventSelect(SOCKET s, WSAEVENT handle, long networkEvents) {
    Event* event = AsEvent(handle);
    const int fd = Descriptor(s);
    if (!event || networkEvents != FD_READ) return Fail(EINVAL);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return SOCKET_ERROR;
    event->readRecorded.store(false);
    event->socket.store(fd);
    return 0;
}

DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll,
                               DWORD timeout, BOOL) {
    if (!events || count == 0 || count > kMaxWaitEvents || waitAll) {
        errno = EINVAL;
        return WSA_WAIT_FAILED;
    }
    // A selected socket goes before its event's own descriptor: when it is
    // already readable, poll then registers no wait for the rest.
    pollfd fds[2 * kMaxWaitEvents];
    bool selected[kMaxWaitEvents];
    nfds_t n = 0;
    for (DWORD i = 0; i < count; ++i) {
        Event* event = AsEvent(events[i]);
        if (!event) {
            errno = EINVAL;
            return WSA_WAIT_FAILED;
        }
        const int s = event->socket.load();
        selected[i] = s >= 0;
        if (selected[i]) fds[n++] = pollfd{s, POLLIN, 0};
        fds[n++] = pollfd{event->fd, POLLIN, 0};
    }
    const int wait = timeout == WSA_INFINITE ? -1 : static_cast<int>(timeout > INT_MAX ? INT_MAX : timeout);
    int ready;
    do {
        ready = ::poll(fds, n, wait);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return WSA_WAIT_FAILED;
    if (ready == 0) return WSA_WAIT_TIMEOUT;

    // The lowest signalled index wins, as on Windows.
    const pollfd* slot = fds;
    for (DWORD i = 0; i < count; ++i) {
        const bool readable = selected[i] && ((slot++)->revents & (POLLIN | POLLERR));
        const bool set = (slot++)->revents & POLLIN;
        if (readable) AsEvent(events[i])->readRecorded.store(true);
        if (set || readable) return WSA_WAIT_EVENT_0 + i;
    }
    return WSA_WAIT_FAILED;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT handle, WSANETWORKEVENTS* record) {
    Event* event = AsEvent(handle);
    const int fd = Descriptor(s);
    if (!event || !record || event->socket.load() != fd || fd < 0) return Fail(EINVAL);
    const bool read = event->readRecorded.exchange(false) || Readable(fd);
    *record = WSANETWORKEVENTS{};
    record->lNetworkEvents = read ? FD_READ : 0;
    WSAResetEvent(event);
    return 0;
}

}  // namespace win
