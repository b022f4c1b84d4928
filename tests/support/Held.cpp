#include "support/Held.h"

#include "support/Peer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace test {
namespace {

std::string Describe(const Held& held) {
    return std::to_string(held.handles) + " handles, " + std::to_string(held.threads) + " threads";
}

Held CountNow() {
    Held held;
    held.handles = support::HeldHandles();
    held.threads = support::HeldThreads();
    return held;
}

bool Same(const Held& a, const Held& b) { return a.handles == b.handles && a.threads == b.threads; }

}  // namespace

// A thread that has just ended (a receive thread after Stop, say) is still
// counted for a moment, and sanitizers start threads of their own: the count
// is taken once it has held still for 20 ms.
Held CountHeld() {
    Held last = CountNow();
    for (int i = 0; i < 50; ++i) {
        SleepMs(20);
        const Held now = CountNow();
        if (Same(now, last)) break;
        last = now;
    }
    return last;
}

// One probe: the counts with one socket more and with one thread more.
void Probe(long* handlesWithSocket, long* threadsWithThread) {
    {
        Peer one;
        *handlesWithSocket = CountNow().handles;
    }
    std::mutex lock;
    std::condition_variable changed;
    bool counted = false;
    std::thread probe([&] {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return counted; });
    });
    *threadsWithThread = CountNow().threads;
    {
        std::lock_guard<std::mutex> guard(lock);
        counted = true;
    }
    changed.notify_all();
    probe.join();
}

::testing::AssertionResult CountersMove() {
    // Wine opens a handle of its own with the first socket of a process and
    // keeps it: open one before counting. Other threads may come or go during
    // a probe, so a few are made; one exact probe proves the counters.
    { Peer first; }
    Held before;
    long handlesWithSocket = -1, threadsWithThread = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        before = CountHeld();
        if (before.handles < 0 || before.threads < 0)
            return ::testing::AssertionFailure() << "cannot count: " << Describe(before);
        Probe(&handlesWithSocket, &threadsWithThread);
        if (handlesWithSocket == before.handles + 1 && threadsWithThread == before.threads + 1)
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "from " << Describe(before) << ", one socket more made " << handlesWithSocket
           << " handles and one thread more " << threadsWithThread
           << " threads: a leak check on these counts would be vacuous";
}

::testing::AssertionResult NothingLeaked(const Held& before, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Held now = CountNow();
    while (!Same(now, before) && std::chrono::steady_clock::now() < deadline) {
        SleepMs(10);
        now = CountNow();
    }
    if (Same(now, before)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "held " << Describe(before) << " before, " << Describe(now) << " after";
}

}  // namespace test
