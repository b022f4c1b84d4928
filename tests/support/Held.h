// Leak checks: what this process holds (support::HeldHandles and
// HeldThreads), counted so that a check can fail.
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
