// The thread operations the listener relies on, checked against the platform
// underneath: the POSIX layer natively, Win32 under Wine.
#include <gtest/gtest.h>

#include <atomic>

#include "VekLink.h"
#include "platform/platform.h"

namespace {

constexpr DWORD kLongEnough = 10000;  // ms; only ever waited out when a test fails

struct Work {
    std::atomic<int> runs{0};
    WSAEVENT go = WSA_INVALID_EVENT;  // when set, the thread waits for it before ending
    HANDLE self = nullptr;
    DWORD selfWait = 0;  // what waiting for its own handle returned
};

unsigned long VEK_THREAD_ENTRY Count(void* argument) {
    static_cast<Work*>(argument)->runs.fetch_add(1);
    return 0;
}

unsigned long VEK_THREAD_ENTRY WaitForGo(void* argument) {
    Work* work = static_cast<Work*>(argument);
    WSAWaitForMultipleEvents(1, &work->go, FALSE, WSA_INFINITE, FALSE);
    work->runs.fetch_add(1);
    return 0;
}

unsigned long VEK_THREAD_ENTRY WaitForItself(void* argument) {
    Work* work = static_cast<Work*>(argument);
    work->selfWait = WaitForSingleObject(work->self, 0);
    return 0;
}

HANDLE Suspended(unsigned long(VEK_THREAD_ENTRY* entry)(void*), Work* work) {
    DWORD id;
    return CreateThread(nullptr, 0, entry, work, CREATE_SUSPENDED, &id);
}

}  // namespace

// A thread let run by mistake would have ended long before the first wait's
// 200 ms are over; a suspended one never ends, so the test cannot flake.
TEST(Threads, ASuspendedThreadRunsOnlyOnceResumed) {
    Work work;
    const HANDLE thread = Suspended(Count, &work);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 200));
    EXPECT_EQ(0, work.runs.load());
    ResumeThread(thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongEnough));
    EXPECT_EQ(1, work.runs.load());
    CloseHandle(thread);
}

TEST(Threads, AWaitTellsATimeOutFromTheEndAndAnEndedThreadStaysEnded) {
    Work work;
    work.go = WSACreateEvent();
    ASSERT_NE(WSA_INVALID_EVENT, work.go);
    const HANDLE thread = Suspended(WaitForGo, &work);
    ASSERT_NE(nullptr, thread);
    ResumeThread(thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));
    WSASetEvent(work.go);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongEnough));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    EXPECT_EQ(1, work.runs.load());
    CloseHandle(thread);
    WSACloseEvent(work.go);
}

// Stop called from inside a callback waits for the receive thread itself.
TEST(Threads, AThreadWaitingForItselfTimesOut) {
    Work work;
    work.self = Suspended(WaitForItself, &work);
    ASSERT_NE(nullptr, work.self);
    ResumeThread(work.self);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(work.self, kLongEnough));
    EXPECT_EQ(WAIT_TIMEOUT, work.selfWait);
    CloseHandle(work.self);
}
