// Win32 threads over POSIX threads.
//
// A thread handle is a small control block shared by the handle and the
// thread itself; whichever lets go of it last frees it, so closing the handle
// of a running thread lets that thread finish on its own.
#include "native.h"
#include "seams.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace win {
namespace {

struct Thread {
    LPTHREAD_START_ROUTINE entry;
    void* argument;
    std::mutex lock;
    std::condition_variable changed;
    bool resumed = false;
    bool ended = false;
    int holders = 2;  // the handle and the thread
};

void LetGo(Thread* thread) {
    bool last;
    {
        std::lock_guard<std::mutex> guard(thread->lock);
        last = --thread->holders == 0;
    }
    if (last) delete thread;
}

void* Run(void* argument) {
    Thread* thread = static_cast<Thread*>(argument);
    {
        std::unique_lock<std::mutex> guard(thread->lock);
        thread->changed.wait(guard, [thread] { return thread->resumed; });
    }
    seam::Reach(seam::kThreadStart);
    thread->entry(thread->argument);
    {
        std::lock_guard<std::mutex> guard(thread->lock);
        thread->ended = true;
        thread->changed.notify_all();
    }
    LetGo(thread);
    return nullptr;
}

}  // namespace

HANDLE CreateThread(SECURITY_ATTRIBUTES* security, std::size_t stackSize,
                    LPTHREAD_START_ROUTINE entry, void* argument, DWORD flags, DWORD* threadId) {
    if (security || stackSize || !entry || (flags & ~CREATE_SUSPENDED)) {
        errno = EINVAL;
        return nullptr;
    }
    Thread* thread = new (std::nothrow) Thread;
    if (!thread) {
        errno = ENOMEM;
        return nullptr;
    }
    thread->entry = entry;
    thread->argument = argument;
    thread->resumed = !(flags & CREATE_SUSPENDED);

    pthread_attr_t attributes;
    pthread_t id;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    const int error = pthread_create(&id, &attributes, Run, thread);
    pthread_attr_destroy(&attributes);
    if (error) {
        delete thread;
        errno = error;
        return nullptr;
    }
    if (threadId) *threadId = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(thread));
    return thread;
}

DWORD ResumeThread(HANDLE handle) {
    Thread* thread = static_cast<Thread*>(handle);
    if (!thread) return static_cast<DWORD>(-1);
    // Notified under the lock: once resumed, the thread may end and free the
    // block as soon as the lock is released (its handle closed meanwhile).
    std::lock_guard<std::mutex> guard(thread->lock);
    const bool wasSuspended = !thread->resumed;
    thread->resumed = true;
    thread->changed.notify_all();
    return wasSuspended ? 1 : 0;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Thread* thread = static_cast<Thread*>(handle);
    if (!thread) return WAIT_FAILED;
    std::unique_lock<std::mutex> guard(thread->lock);
    const auto ended = [thread] { return thread->ended; };
    if (milliseconds == INFINITE) {
        thread->changed.wait(guard, ended);
        return WAIT_OBJECT_0;
    }
    if (thread->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ended))
        return WAIT_OBJECT_0;
    guard.unlock();
    seam::Reach(seam::kThreadWaitTimedOut);
    return WAIT_TIMEOUT;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

BOOL CloseHandle(HANDLE handle) {
    Thread* thread = static_cast<Thread*>(handle);
    if (!thread) return FALSE;
    LetGo(thread);
    return TRUE;
}

}  // namespace win
