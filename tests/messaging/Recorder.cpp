#include "messaging/Recorder.h"

#include "VekLink.h"

#include <chrono>
#include <cstring>
#include <thread>

bool Recorder::WaitFor(std::size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return deliveries.size() >= count; });
}

bool Recorder::WaitStarted(int count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return started >= count; });
}

void Recorder::SetGate(bool open) {
    {
        std::lock_guard<std::mutex> guard(lock);
        gateOpen = open;
    }
    changed.notify_all();
}

std::size_t Recorder::Count() {
    std::lock_guard<std::mutex> guard(lock);
    return deliveries.size();
}

void Record(void* data, int length, void* context, unsigned long sourceAddress, int sourcePort) {
    Recorder* recorder = static_cast<Recorder*>(context);
    if (recorder->stopReturned.load()) recorder->startedAfterStop.fetch_add(1);
    Delivery d;
    d.length = length;
    d.context = context;
    d.sourceAddress = sourceAddress;
    d.sourcePort = sourcePort;
    const char* bytes = static_cast<const char*>(data);
    if (length > 0) d.bytes.assign(bytes, static_cast<std::size_t>(length));
    for (int i = length > 0 ? length : 0; i < VEK_RECEIVE_BUFFER_SIZE; ++i) {
        if (bytes[i] != 0) {
            d.zeroPastEnd = false;
            break;
        }
    }
    std::memset(static_cast<char*>(data) + 60000, 0x5A, 16);

    std::unique_lock<std::mutex> guard(recorder->lock);
    ++recorder->started;
    recorder->changed.notify_all();
    recorder->changed.wait(guard, [recorder] { return recorder->gateOpen; });
    recorder->deliveries.push_back(d);
    recorder->changed.notify_all();
}

void HoldAtGate(void*, int, void* context, unsigned long, int) {
    Gate* gate = static_cast<Gate*>(context);
    if (gate->stopReturned.load()) gate->enteredAfterStop.fetch_add(1);
    gate->entered.fetch_add(1);
    // Bounded: a test that never opens the gate cannot hang the thread.
    for (int i = 0; i < 2000 && !gate->open.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    gate->left.fetch_add(1);
}

bool Gate::WaitLeft(int timeoutMs) {
    for (int waited = 0; left.load() < entered.load(); waited += 5) {
        if (waited >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
