// A listener callback that records every delivery, and can hold a delivery
// inside the callback until the test opens its gate.
#ifndef VEKLINK_TEST_RECORDER_H
#define VEKLINK_TEST_RECORDER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

struct Delivery {
    std::string bytes;
    int length = 0;
    void* context = nullptr;
    unsigned long sourceAddress = 0;
    int sourcePort = 0;
    bool zeroPastEnd = true;
};

struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Delivery> deliveries;
    bool gateOpen = true;
    int started = 0;                        // callbacks entered
    std::atomic<bool> stopReturned{false};  // set by the test once Stop returned
    std::atomic<int> startedAfterStop{0};

    // Waits (bounded) until count deliveries are recorded or entered.
    bool WaitFor(std::size_t count, int timeoutMs = 3000);
    bool WaitStarted(int count, int timeoutMs = 3000);
    void SetGate(bool open);
    std::size_t Count();
};

// A callback that holds every delivery until the gate opens, built on
// atomics alone: mingw's mutexes and conditions open handles of their own at
// first contention, which a leak check would count.
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<int> entered{0};
    std::atomic<bool> stopReturned{false};  // set by the test once Stop returned
    std::atomic<int> enteredAfterStop{0};
    std::atomic<int> left{0};  // callbacks returned: their last touch of the gate

    // Waits (bounded) until every entered callback has returned.
    bool WaitLeft(int timeoutMs = 3000);
};
void HoldAtGate(void* data, int length, void* context, unsigned long sourceAddress, int sourcePort);

// The ReceiveCallback: context is a Recorder. It also scribbles past the
// datagram, so that a later delivery shows whether the buffer was cleared.
void Record(void* data, int length, void* context, unsigned long sourceAddress, int sourcePort);

#endif
