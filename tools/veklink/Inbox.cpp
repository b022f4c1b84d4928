#include "Inbox.h"

#include "support.h"

#include <string>
#include <utility>

void Inbox::Put(const void* data, int length, unsigned long source, int sourcePort,
                int replyError) noexcept {
    const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
    // Read before the lock: the time a datagram arrived, not when the main
    // thread let go of the queue.
    const std::chrono::system_clock::time_point time = std::chrono::system_clock::now();
    const std::chrono::steady_clock::time_point arrived = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(lock_);
    bool kept = false;
    if (queuedBytes_ + size <= kMaxQueuedBytes) {
        try {
            queue_.push_back(Delivery{time, arrived, source, sourcePort, length,
                                      std::string(static_cast<const char*>(data), size),
                                      replyError});
            kept = true;
        } catch (...) {}
    }
    if (kept)
        queuedBytes_ += size;
    else
        ++dropped_;
    // One wake-up per wait: under a flood a notification per datagram would
    // cost the receive thread a system call (under Wine a server request) each.
    if (waiting_) {
        waiting_ = false;
        arrived_.notify_one();
    }
}

void Inbox::TakeUntil(std::chrono::steady_clock::time_point deadline, std::deque<Delivery>* batch) {
    std::unique_lock<std::mutex> guard(lock_);
    if (queue_.empty()) {
        waiting_ = true;
        arrived_.wait_until(guard, deadline, [&] { return !queue_.empty(); });
        waiting_ = false;
    }
    if (batch->empty()) {
        batch->swap(queue_);
    } else {
        for (Delivery& d : queue_) batch->push_back(std::move(d));
        queue_.clear();
    }
    queuedBytes_ = 0;
}

unsigned long Inbox::Dropped() {
    std::lock_guard<std::mutex> guard(lock_);
    return dropped_;
}

// Runs on the listener's receive thread: nothing may throw back into the
// library.
void QueueDatagram(void* data, int length, void* context, unsigned long source, int sourcePort) {
    static_cast<Inbox*>(context)->Put(data, length, source, sourcePort);
}

const char* Receive(Inbox& inbox, const ListenSpec& listening, DeliverySink& sink) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(listening.timeout));
    unsigned long counted = 0;
    std::deque<Delivery> batch;
    for (;;) {
        sink.EndBatch();
        if (support::StopRequested()) return "interrupted";
        if (listening.count && counted >= listening.count) return "--count reached";
        const Clock::time_point now = Clock::now();
        if (listening.timeout > 0 && now >= deadline) return "--timeout reached";
        // Short waits keep Ctrl-C, the deadline and the status line responsive.
        Clock::time_point until = now + std::chrono::milliseconds(100);
        if (listening.timeout > 0 && deadline < until) until = deadline;
        inbox.TakeUntil(until, &batch);
        if (batch.empty()) continue;
        for (; !batch.empty() && !(listening.count && counted >= listening.count);
             batch.pop_front())
            counted += sink.Take(batch.front());
        batch.clear();
        // Under a flood, taking each datagram as it comes would make the
        // receive thread wait for the lock and wake this thread for nearly
        // every one; a short pause lets the next batch gather instead.
        support::SleepMs(1);
    }
}
