// Leak checks: what this process holds, counted so that a check can fail.
// Natively: open descriptors and threads (/proc/self/fd, /proc/self/task).
// On Windows: this process's entries in the system handle table and its
// threads. GetProcessHandleCount is not used: Wine 8 reports 0 whatever is
// open, so a check built on it could never fail.
#ifndef VEKLINK_TEST_HELD_H
#define VEKLINK_TEST_HELD_H

#include <gtest/gtest.h>

namespace test {

struct Held {
    long handles = -1;
    long threads = -1;
};

Held CountHeld();

// Proves the counters move before a test trusts them: one socket more raises
// the handle count by one, one thread more the thread count by one.
::testing::AssertionResult CountersMove();

// Waits up to timeoutMs (a thread takes a moment to be gone after it ended)
// until the count is back at before.
::testing::AssertionResult NothingLeaked(const Held& before, int timeoutMs = 3000);

}  // namespace test

#endif
