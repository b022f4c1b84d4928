#include "BaselineLoops.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <winsock2.h>
#else
#  include <poll.h>
#  include <sys/eventfd.h>
#  include <unistd.h>
#endif

#include "BenchSupport.h"

namespace bench {
namespace {

// One datagram into buffer, cleared first when asked: its length, or -1.
int Receive(plain::Socket s, std::vector<char>& buffer, bool clear, unsigned long* from, int* fromPort) {
    if (clear) std::memset(buffer.data(), 0, buffer.size());
    return plain::RecvFrom(s, buffer.data(), static_cast<int>(buffer.size()), from, fromPort);
}

class Blocking : public Loop {
public:
    explicit Blocking(bool clear) : clear(clear), buffer(kBufferSize) {}
    bool Start(plain::Socket socket, Handler handler) override {
        s = socket;
        // Only a fallback: Stop wakes the loop with a datagram of its own.
        plain::SetRecvTimeout(s, 100);
        thread = std::thread([this, handler] {
            unsigned long from;
            int fromPort;
            while (!stop.load(std::memory_order_relaxed)) {
                const int n = Receive(s, buffer, clear, &from, &fromPort);
                if (n >= 0 && !stop.load(std::memory_order_relaxed)) handler(buffer.data(), n, from, fromPort);
            }
        });
        return true;
    }
    void Stop() override {
        stop = true;
        plain::SendTo(s, "", 0, kLoopback, plain::BoundPort(s));
        thread.join();
    }

private:
    bool clear;
    std::vector<char> buffer;
    plain::Socket s = plain::kNoSocket;
    std::atomic<bool> stop{false};
    std::thread thread;
};

#if defined(_WIN32)
class EventSelect : public Loop {
public:
    EventSelect() : buffer(kBufferSize) {}
    ~EventSelect() override {
        for (WSAEVENT event : events)
            if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
    }
    bool Start(plain::Socket socket, Handler handler) override {
        const SOCKET s = static_cast<SOCKET>(socket);
        events[0] = WSACreateEvent();
        events[1] = WSACreateEvent();
        if (events[0] == WSA_INVALID_EVENT || events[1] == WSA_INVALID_EVENT ||
            WSAEventSelect(s, events[0], FD_READ) != 0)
            return false;
        thread = std::thread([this, s, handler] {
            unsigned long from;
            int fromPort;
            while (WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE) == WSA_WAIT_EVENT_0) {
                WSANETWORKEVENTS recorded;
                const bool enumerated = WSAEnumNetworkEvents(s, events[0], &recorded) == 0;
                WSAResetEvent(events[0]);
                if (!enumerated || !(recorded.lNetworkEvents & FD_READ)) continue;
                const int n = Receive(s, buffer, true, &from, &fromPort);
                if (n >= 0) handler(buffer.data(), n, from, fromPort);
            }
        });
        return true;
    }
    void Stop() override {
        WSASetEvent(events[1]);
        thread.join();
    }

private:
    std::vector<char> buffer;
    WSAEVENT events[2] = {WSA_INVALID_EVENT, WSA_INVALID_EVENT};
    std::thread thread;
};
#else
class Poll : public Loop {
public:
    Poll() : buffer(kBufferSize) {}
    ~Poll() override {
        if (stopFd >= 0) close(stopFd);
    }
    bool Start(plain::Socket socket, Handler handler) override {
        const int s = static_cast<int>(socket);
        stopFd = eventfd(0, EFD_CLOEXEC);
        if (stopFd < 0) return false;
        thread = std::thread([this, s, handler] {
            unsigned long from;
            int fromPort;
            for (;;) {
                pollfd fds[2] = {{s, POLLIN, 0}, {stopFd, POLLIN, 0}};
                if (poll(fds, 2, -1) < 0 || fds[1].revents) break;
                if (!(fds[0].revents & POLLIN)) continue;
                const int n = Receive(s, buffer, true, &from, &fromPort);
                if (n >= 0) handler(buffer.data(), n, from, fromPort);
            }
        });
        return true;
    }
    void Stop() override {
        const std::uint64_t one = 1;
        if (write(stopFd, &one, sizeof one) != sizeof one) std::perror("eventfd");
        thread.join();
    }

private:
    std::vector<char> buffer;
    int stopFd = -1;
    std::thread thread;
};
#endif

}  // namespace

std::unique_ptr<Loop> BlockingLoop(bool clear) { return std::unique_ptr<Loop>(new Blocking(clear)); }
#if defined(_WIN32)
std::unique_ptr<Loop> ShapeLoop() { return std::unique_ptr<Loop>(new EventSelect); }
const char* const kShapeName = "W WSAEventSelect + clear";
#else
std::unique_ptr<Loop> ShapeLoop() { return std::unique_ptr<Loop>(new Poll); }
const char* const kShapeName = "P poll{sock,event}+clear";
#endif

}  // namespace bench
