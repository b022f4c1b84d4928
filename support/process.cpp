// The process calls written once: the stop flag and sleeps.
#include "internal.h"
#include "support.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace support {
namespace {

// A lock-free atomic is safe to set from a signal handler.
std::atomic<bool> stopRequested(false);

}  // namespace

void RequestStop() { stopRequested = true; }

bool StopRequested() { return stopRequested; }

void SleepUnlessStopped(unsigned long milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopRequested) {
        const auto left = end - Clock::now();
        if (left <= Clock::duration::zero()) return;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(50)));
    }
}

void SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace support
