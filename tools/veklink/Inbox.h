// The hand-over between a listener's receive thread and the tool's main
// thread: the callback only queues what arrives, and the main thread takes
// it in batches to print, count and answer.
#ifndef VEKLINK_TOOL_INBOX_H
#define VEKLINK_TOOL_INBOX_H

#include "Cli.h"
#include "Views.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

class Inbox {
public:
    // On the receive thread: queues a copy of the datagram, or counts it as
    // dropped once more than kMaxQueuedBytes of payload wait. Never throws.
    void Put(const void* data, int length, unsigned long source, int sourcePort,
             int replyError = 0) noexcept;
    // On the main thread: moves what is queued to the end of batch, first
    // waiting until something is or deadline passes.
    void TakeUntil(std::chrono::steady_clock::time_point deadline, std::deque<Delivery>* batch);
    unsigned long Dropped();

    // A flood can outrun a terminal; past this much waiting payload the
    // callback drops datagrams rather than let memory grow without bound.
    static const std::size_t kMaxQueuedBytes = 32u << 20;

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    bool waiting_ = false;  // the main thread waits for arrived_
    std::deque<Delivery> queue_;
    std::size_t queuedBytes_ = 0;
    unsigned long dropped_ = 0;
};

// What a listening command does with each delivery it takes.
class DeliverySink {
public:
    // True when d counts towards --count.
    virtual bool Take(const Delivery& d) = 0;
    // After each batch, and each wait that brought none: the status line,
    // flushing.
    virtual void EndBatch() = 0;

protected:
    ~DeliverySink() = default;
};

// Hands what arrives to sink until Ctrl-C, listening.count counted deliveries or
// listening.timeout seconds; returns which of them ended it.
const char* Receive(Inbox& inbox, const ListenSpec& listening, DeliverySink& sink);

// A callback's context for the rest of the process: Stop lets a callback
// that outlives its wait (a flood keeps the receive thread delivering for
// the whole second) run to its end, so what it touches is never freed.
template <typename T>
T& KeptToTheEnd() {
    return *new T();
}

// The callback that queues every delivery into the Inbox given as context.
void QueueDatagram(void* data, int length, void* context, unsigned long source, int sourcePort);

#endif
