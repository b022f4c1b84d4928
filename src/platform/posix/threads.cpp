// Win32 threads over POSIX threads.
//
// A new thread blocks reading a pipe until ResumeThread writes to it. The
// thread owns the read end and the handle the write end, so closing the
// handle of a running thread frees nothing the thread still uses. A wait is a
// join with a deadline, so one thread at a time waits for a handle (the
// listener's Stop); closing the handle of a thread not joined detaches it.
#include "winapi.h"
#include "seams.h"

#include <errno.h>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Start {  // owned by the new thread
    DWORD (*entry)(void*);
    void* argument;
    int resumed;  // the pipe's read end
};

struct Thread {  // owned by the handle
    pthread_t id;
    int resume;  // the pipe's write end, -1 once resumed
    bool joined;
};

void* Run(void* argument) {
    const Start start = *static_cast<Start*>(argument);
    delete static_cast<Start*>(argument);
    char byte;
    // A handle closed without a resume ends the thread before it runs.
    const bool resumed = ::read(start.resumed, &byte, 1) == 1;
    ::close(start.resumed);
    if (resumed) {
        win::seam::Reach(win::seam::kThreadStart);
        start.entry(start.argument);
    }
    return nullptr;
}

timespec Deadline(DWORD milliseconds) {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    const long nanoseconds = t.tv_nsec + static_cast<long>(milliseconds % 1000) * 1000000;
    t.tv_sec += static_cast<time_t>(milliseconds / 1000 + nanoseconds / 1000000000);
    t.tv_nsec = nanoseconds % 1000000000;
    return t;
}

}  // namespace

HANDLE CreateThread(void*, size_t, DWORD (*entry)(void*), void* argument, DWORD flags, DWORD*) {
    int ends[2];
    if (flags != CREATE_SUSPENDED) return errno = EINVAL, nullptr;  // the library's only way
    if (::pipe2(ends, O_CLOEXEC) != 0) return nullptr;
    Thread* thread = new (std::nothrow) Thread{pthread_t(), ends[1], false};
    Start* start = new (std::nothrow) Start{entry, argument, ends[0]};
    const int error = thread && start ? pthread_create(&thread->id, nullptr, Run, start) : ENOMEM;
    if (error == 0) return thread;
    delete thread;
    delete start;
    ::close(ends[0]);
    ::close(ends[1]);
    return errno = error, nullptr;
}

DWORD ResumeThread(HANDLE handle) {
    Thread* thread = static_cast<Thread*>(handle);
    // The handle is updated before the thread is let go: the thread itself
    // may close it (a listener stopped from inside its callback).
    const int resume = thread->resume;
    if (resume < 0) return 0;
    thread->resume = -1;
    const bool written = ::write(resume, "", 1) == 1;
    ::close(resume);
    return written ? 1 : static_cast<DWORD>(-1);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Thread* thread = static_cast<Thread*>(handle);
    if (!thread->joined) {
        const timespec deadline = Deadline(milliseconds);
        // The deadline is on the wall clock: pthread_clockjoin_np would take the
        // monotonic one, but ThreadSanitizer does not see it as a join.
        const int error = pthread_timedjoin_np(thread->id, nullptr, &deadline);
        // A thread waiting for itself waits the whole time, as on Windows.
        if (error == EDEADLK) Sleep(milliseconds);
        if (error == 0) thread->joined = true;
    }
    if (thread->joined) return WAIT_OBJECT_0;
    win::seam::Reach(win::seam::kThreadWaitTimedOut);
    return WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE handle) {
    Thread* thread = static_cast<Thread*>(handle);
    if (thread->resume >= 0) ::close(thread->resume);
    if (!thread->joined) pthread_detach(thread->id);
    delete thread;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    const timespec delay{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000};
    if (milliseconds == 0) sched_yield();
    else ::nanosleep(&delay, nullptr);
}
