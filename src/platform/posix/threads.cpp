// Win32 threads over POSIX threads.
//
// A new thread waits on a futex word until ResumeThread, TerminateThread or
// the closing of its handle settles whether it runs its entry routine.
// Settling is one atomic store, so it cannot fail: a wake-up that went
// missing is made up for by the thread looking at the word again every
// 100 ms. The word sits in a block that the thread and the handle share,
// freed by whichever lets go of it last. Each thread also gets its own
// descriptor on the process's mappings, opened by CreateThread (mappings.h).
// A wait is a join with a deadline, so one thread at a time waits for a
// handle (the listener's Stop); closing the handle of a thread not joined
// detaches it.
#include "winapi.h"
#include "mappings.h"
#include "seams.h"

#include <errno.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

enum Start { kSuspended, kResumed, kEnded };

struct Thread {
    pthread_t id;
    DWORD (*entry)(void*);
    void* argument;
    int mappings;  // handed to the thread
    int start;     // a Start, the futex word
    int holders;   // the thread and the handle
    bool joined;   // the handle's alone
};

void LetGo(Thread* thread) {
    if (__atomic_sub_fetch(&thread->holders, 1, __ATOMIC_ACQ_REL) == 0) free(thread);
}

// Settles a suspended thread's start; false when it was settled before.
bool Settle(Thread* thread, Start how) {
    int suspended = kSuspended;
    if (!__atomic_compare_exchange_n(&thread->start, &suspended, how, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE))
        return false;
    ::syscall(SYS_futex, &thread->start, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    return true;
}

Start AwaitStart(Thread* thread) {
    const timespec recheck{0, 100 * 1000000L};
    int start;
    while ((start = __atomic_load_n(&thread->start, __ATOMIC_ACQUIRE)) == kSuspended)
        ::syscall(SYS_futex, &thread->start, FUTEX_WAIT_PRIVATE, kSuspended, &recheck, nullptr, 0);
    return static_cast<Start>(start);
}

void* Run(void* argument) {
    Thread* thread = static_cast<Thread*>(argument);
    const win::ThreadMappings mappings(thread->mappings);
    const bool resumed = AwaitStart(thread) == kResumed;
    DWORD (*const entry)(void*) = thread->entry;
    void* const entryArgument = thread->argument;
    LetGo(thread);
    if (resumed) {
        win::seam::Reach(win::seam::kThreadStart);
        entry(entryArgument);
    }
    return nullptr;
}

// A clock that cannot be read leaves the time at zero: a deadline long past,
// never a wait without end.
timespec Deadline(DWORD milliseconds) {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    const long nanoseconds = t.tv_nsec + static_cast<long>(milliseconds % 1000) * 1000000;
    t.tv_sec += static_cast<time_t>(milliseconds / 1000 + nanoseconds / 1000000000);
    t.tv_nsec = nanoseconds % 1000000000;
    return t;
}

}  // namespace

HANDLE CreateThread(void*, size_t, DWORD (*entry)(void*), void* argument, DWORD flags, DWORD*) {
    if (flags != CREATE_SUSPENDED) return errno = EINVAL, nullptr;  // the library's only way
    Thread* thread = static_cast<Thread*>(malloc(sizeof(Thread)));
    if (!thread) return nullptr;
    *thread = Thread{pthread_t(), entry, argument, win::OpenMappings(), kSuspended, 2, false};
    const int error =
        thread->mappings < 0 ? errno : pthread_create(&thread->id, nullptr, Run, thread);
    if (error == 0) return thread;
    if (thread->mappings >= 0) ::close(thread->mappings);
    free(thread);
    return errno = error, nullptr;
}

// Never fails natively, except where a test seam makes it.
DWORD ResumeThread(HANDLE handle) {
    if (win::seam::Fails(win::seam::kResume)) return errno = EAGAIN, static_cast<DWORD>(-1);
    return Settle(static_cast<Thread*>(handle), kResumed) ? 1 : 0;
}

BOOL TerminateThread(HANDLE handle, DWORD) {
    if (!Settle(static_cast<Thread*>(handle), kEnded)) return errno = EINVAL, FALSE;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Thread* thread = static_cast<Thread*>(handle);
    // A thread waiting for itself waits the whole time, as on Windows. (It is
    // told apart before the join: ThreadSanitizer's join of the calling
    // thread fails a check of its own.)
    if (!thread->joined && pthread_equal(thread->id, pthread_self())) {
        Sleep(milliseconds);
    } else if (!thread->joined) {
        const timespec deadline = Deadline(milliseconds);
        // The deadline is on the wall clock: pthread_clockjoin_np would take the
        // monotonic one, but ThreadSanitizer does not see it as a join.
        if (pthread_timedjoin_np(thread->id, nullptr, &deadline) == 0) thread->joined = true;
    }
    if (thread->joined) return WAIT_OBJECT_0;
    win::seam::Reach(win::seam::kThreadWaitTimedOut);
    return WAIT_TIMEOUT;
}

// A thread that was never resumed ends before it runs.
BOOL CloseHandle(HANDLE handle) {
    Thread* thread = static_cast<Thread*>(handle);
    Settle(thread, kEnded);
    if (!thread->joined) pthread_detach(thread->id);
    LetGo(thread);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    const timespec delay{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000};
    if (milliseconds == 0)
        sched_yield();
    else
        ::nanosleep(&delay, nullptr);
}
