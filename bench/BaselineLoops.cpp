#include "BaselineLoops.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace bench {
namespace {

// One datagram into buffer, cleared first when asked: its length, or -1.
int Receive(support::Socket s, std::vector<char>& buffer, bool clear, unsigned long* from,
            int* fromPort) {
    if (clear) std::memset(buffer.data(), 0, buffer.size());
    return support::RecvFrom(s, buffer.data(), static_cast<int>(buffer.size()), from, fromPort);
}

class Blocking : public Loop {
public:
    explicit Blocking(bool clear) : clear(clear), buffer(kBufferSize) {}
    bool Start(support::Socket socket, Handler handler) override {
        s = socket;
        // Only a fallback: Stop wakes the loop with a datagram of its own.
        support::SetRecvTimeout(s, 100);
        thread = std::thread([this, handler] {
            unsigned long from;
            int fromPort;
            while (!stop.load(std::memory_order_relaxed)) {
                const int n = Receive(s, buffer, clear, &from, &fromPort);
                if (n >= 0 && !stop.load(std::memory_order_relaxed))
                    handler(buffer.data(), n, from, fromPort);
            }
        });
        return true;
    }
    void Stop() override {
        stop = true;
        support::SendTo(s, "", 0, kLoopback, support::BoundPort(s));
        thread.join();
    }

private:
    bool clear;
    std::vector<char> buffer;
    support::Socket s = support::kNoSocket;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// The listener's shape: the support layer's wait (see support::SocketWait),
// then clear and receive one datagram.
class Shape : public Loop {
public:
    Shape() : buffer(kBufferSize) {}
    bool Start(support::Socket s, Handler handler) override {
        wait.reset(new support::SocketWait(s));
        if (!wait->Valid()) return false;
        thread = std::thread([this, s, handler] {
            unsigned long from;
            int fromPort;
            while (wait->Wait() == support::SocketWait::kReadable) {
                const int n = Receive(s, buffer, true, &from, &fromPort);
                if (n >= 0) handler(buffer.data(), n, from, fromPort);
            }
        });
        return true;
    }
    void Stop() override {
        wait->Wake();
        thread.join();
    }

private:
    std::vector<char> buffer;
    std::unique_ptr<support::SocketWait> wait;
    std::thread thread;
};

}  // namespace

std::unique_ptr<Loop> BlockingLoop(bool clear) {
    return std::unique_ptr<Loop>(new Blocking(clear));
}

std::unique_ptr<Loop> ShapeLoop() { return std::unique_ptr<Loop>(new Shape); }

const char* ShapeName() {
    return support::OnWindows() ? "W WSAEventSelect + clear" : "P poll{sock,event}+clear";
}

}  // namespace bench
