// The C library calls that the library's code makes, counted and failed on
// demand. The program that links this defines those functions itself; a
// program's own definitions come first for every object in the process, so
// the library's calls land here and go on to the C library (or a sanitizer
// in front of it). Only calls made from the library's code count: from
// libveklink.so when a program links it, else from the program itself (the
// seam tests, which link the library's objects). Allocations are interposed
// only where FailedAllocation.cpp is linked too: the loader's own then pass
// through it, which the leak checker cannot tell from the program's.
#ifndef VEKLINK_TEST_INTERPOSER_H
#define VEKLINK_TEST_INTERPOSER_H

namespace faults {

enum Call {
    kMalloc,
    kSocket,
    kBind,
    kSetsockopt,
    kGetsockopt,
    kFcntl,
    kIoctl,
    kPoll,
    kRecvfrom,
    kSendto,
    kShutdown,
    kClose,
    kEventfd,
    kRead,
    kWrite,
    kOpen,
    kFopen,
    kPread,
    kThreadCreate,
    kThreadJoin,
    kMutexInit,
    kMutexLock,
    kGetifaddrs,
    kUname,
    kClockGettime,
    kSyscall,
    kCallCount
};
const char* Name(Call call);

// Which threads' calls count: every thread, the one that armed, or the others.
enum Scope { kAnyThread, kArmingThread, kOtherThreads };

struct Counts {
    int calls[kCallCount] = {};
};

// Counts from now on, failing nothing.
void Count(Scope scope = kAnyThread);
// Counts from now on, and fails the calls of call numbered first to last
// (1 for the first call) with error, else with Error(call).
constexpr int kEveryLater = 1 << 30;
void Fail(Call call, int first, int last, Scope scope = kAnyThread, int error = 0);
// Stops counting and failing.
void Stop();
Counts Counted();
int Failed();  // calls failed since the last Count or Fail

// The errors a real failure of call gives, which the suite tries in turn:
// the usual one first, then, for some calls, one the library must tell
// apart from it (0 when there is none).
int Error(Call call);
int OtherError(Call call);

// For the interposing definitions: counts one call made from caller and
// tells whether it is to fail, and with which error.
bool Fails(Call call, const void* caller);
int FailingError();

// The library's threads inside the system's poll right now: a receive
// thread that is in its wait.
int InsidePoll();

// The pauses (nanosleep) the library took since the last Count or Fail, in
// the same scope, in milliseconds.
struct Pauses {
    int total = 0;
    int longest = 0;
};
Pauses Paused();

// Observations for the seam tests, in force until changed.
// Sockets start with send and receive buffers of this size (0: the system's).
void StartSocketsWithBuffers(int bytes);
// sendto reports one byte fewer than it was given.
void ShortenSends(bool shorten);
// IP_DROP_MEMBERSHIP calls that succeeded, over the whole run.
int MembershipsDropped();

}  // namespace faults

#endif
