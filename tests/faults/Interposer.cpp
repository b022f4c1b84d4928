#include "faults/Interposer.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <link.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace faults {
namespace {

// What a real failure of each call looks like: the usual error, and one the
// library must tell apart from it, if any.
struct Failure {
    const char* name;
    int error;
    int other;
};
const Failure kFailures[] = {{"malloc", ENOMEM, 0},
                             {"socket", EMFILE, 0},
                             {"bind", EADDRINUSE, 0},
                             {"setsockopt", ENOBUFS, 0},
                             {"getsockopt", ENOBUFS, 0},
                             {"fcntl", EINVAL, 0},
                             {"ioctl", EINVAL, 0},
                             {"poll", ENOMEM, EINTR},
                             {"recvfrom", ENOMEM, EAGAIN},  // EAGAIN: nothing queued
                             {"sendto", ENOBUFS, 0},
                             {"shutdown", ENOTCONN, 0},
                             {"close", EIO, 0},
                             {"eventfd", EMFILE, 0},
                             {"read", EAGAIN, 0},
                             {"write", EAGAIN, 0},
                             {"open", EMFILE, 0},
                             {"fopen", EMFILE, 0},
                             {"pread", EINTR, EIO},
                             {"pthread_create", EAGAIN, 0},
                             {"pthread_timedjoin_np", ETIMEDOUT, 0},
                             {"pthread_mutex_init", ENOMEM, 0},
                             {"pthread_mutex_lock", EINVAL, 0},
                             {"getifaddrs", ENOMEM, 0},
                             {"uname", EFAULT, 0},
                             {"clock_gettime", EINVAL, 0},
                             {"syscall", EINTR, 0}};  // the futex calls
static_assert(sizeof kFailures / sizeof *kFailures == kCallCount, "one failure for each call");

// Atomics through the compiler's built-ins, which are always inline: an
// out-of-line std::atomic member could come from an instrumented object, and
// this runs before a sanitizer's runtime is ready.
int Load(const int& value) { return __atomic_load_n(&value, __ATOMIC_ACQUIRE); }
void Store(int& value, int n) { __atomic_store_n(&value, n, __ATOMIC_RELEASE); }
int Add(int& value) { return __atomic_add_fetch(&value, 1, __ATOMIC_ACQ_REL); }

// The plan, written before active is set and read after.
int active = 0;
int counted[kCallCount];
int failedCalls = 0;
int target = -1, first = 0, last = 0, error = 0;
Scope scope = kAnyThread;
pthread_t armingThread;

int pausedTotal = 0, pausedLongest = 0;
int insidePoll = 0;

int startBuffers = 0;
int shortenSends = 0;
int drops = 0;

// The library's code: libveklink.so, or the program when it has none.
uintptr_t codeLow = 0, codeHigh = 0;

int FindLibrary(dl_phdr_info* info, size_t, void* program) {
    const bool library = strstr(info->dlpi_name, "libveklink.so") != nullptr;
    if (!library && !(*static_cast<bool*>(program) && info->dlpi_name[0] == '\0')) return 0;
    uintptr_t low = UINTPTR_MAX, high = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (start < low) low = start;
        if (start + segment.p_memsz > high) high = start + segment.p_memsz;
    }
    codeLow = low;
    codeHigh = high;
    return library ? 1 : 0;
}

// The library is loaded before the program starts: found once, then only read.
__attribute__((constructor)) void FindCode() {
    bool program = false;
    if (dl_iterate_phdr(FindLibrary, &program) == 0) {
        program = true;
        dl_iterate_phdr(FindLibrary, &program);
    }
}

bool FromLibrary(const void* caller) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(caller);
    return address >= codeLow && address < codeHigh;
}

bool InScope() {
    if (scope == kAnyThread) return true;
    return (pthread_equal(pthread_self(), armingThread) != 0) == (scope == kArmingThread);
}

// A call from the library's code, in scope, while counting.
bool Observed(const void* caller) { return Load(active) && FromLibrary(caller) && InScope(); }

}  // namespace

bool Fails(Call call, const void* caller) {
    if (!Observed(caller)) return false;
    const int n = Add(counted[call]);
    const bool fail = target == call && n >= first && n <= last;
    if (fail) Add(failedCalls);
    return fail;
}

namespace {

void Arm(int call, int from, int to, Scope chosen, int chosenError) {
    Store(active, 0);
    for (int& c : counted) Store(c, 0);
    Store(failedCalls, 0);
    Store(pausedTotal, 0);
    Store(pausedLongest, 0);
    target = call;
    first = from;
    last = to;
    error = chosenError ? chosenError : call >= 0 ? kFailures[call].error : 0;
    scope = chosen;
    armingThread = pthread_self();
    Store(active, 1);
}

template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

const char* Name(Call call) { return kFailures[call].name; }
int Error(Call call) { return kFailures[call].error; }
int OtherError(Call call) { return kFailures[call].other; }
int FailingError() { return error; }
void Count(Scope chosen) { Arm(-1, 0, 0, chosen, 0); }
void Fail(Call call, int from, int to, Scope chosen, int chosenError) {
    Arm(call, from, to, chosen, chosenError);
}
int InsidePoll() { return Load(insidePoll); }
void Stop() { Store(active, 0); }
int Failed() { return Load(failedCalls); }

Counts Counted() {
    Counts counts;
    for (int i = 0; i < kCallCount; ++i) counts.calls[i] = Load(counted[i]);
    return counts;
}

void StartSocketsWithBuffers(int bytes) { Store(startBuffers, bytes); }
void ShortenSends(bool shorten) { Store(shortenSends, shorten); }
int MembershipsDropped() { return Load(drops); }

Pauses Paused() {
    Pauses pauses;
    pauses.total = Load(pausedTotal);
    pauses.longest = Load(pausedLongest);
    return pauses;
}

}  // namespace faults

using faults::Fails;

#define FAIL_WITH_ERRNO(call, result)                       \
    if (Fails(faults::call, __builtin_return_address(0))) { \
        errno = faults::FailingError();                     \
        return result;                                      \
    }
#define REAL(function) static const auto real = faults::Real<decltype(&::function)>(#function)
#define INTERPOSED extern "C" __attribute__((visibility("default")))

// A call that fails (returns failed, errno set) or goes on to the next
// definition; kind is noexcept where the system declares it so.
#define PASS_ON(call, failed, type, name, parameters, arguments, kind) \
    INTERPOSED type name parameters kind {                             \
        FAIL_WITH_ERRNO(call, failed);                                 \
        REAL(name);                                                    \
        return real arguments;                                         \
    }
// The same for a call that returns its error instead of setting errno.
#define PASS_ON_RESULT(call, name, parameters, arguments, kind)                              \
    INTERPOSED int name parameters kind {                                                    \
        if (Fails(faults::call, __builtin_return_address(0))) return faults::FailingError(); \
        REAL(name);                                                                          \
        return real arguments;                                                               \
    }

PASS_ON(kBind, -1, int, bind, (int s, const sockaddr* a, socklen_t n), (s, a, n), noexcept)
PASS_ON(kGetsockopt, -1, int, getsockopt, (int s, int l, int o, void* v, socklen_t* n),
        (s, l, o, v, n), noexcept)
PASS_ON(kRecvfrom, -1, ssize_t, recvfrom,
        (int s, void* b, size_t n, int f, sockaddr* from, socklen_t* fromLength),
        (s, b, n, f, from, fromLength), )
PASS_ON(kShutdown, -1, int, shutdown, (int s, int how), (s, how), noexcept)
PASS_ON(kEventfd, -1, int, eventfd, (unsigned int initial, int f), (initial, f), noexcept)
PASS_ON(kRead, -1, ssize_t, read, (int fd, void* b, size_t n), (fd, b, n), )
PASS_ON(kWrite, -1, ssize_t, write, (int fd, const void* b, size_t n), (fd, b, n), )
PASS_ON(kFopen, nullptr, FILE*, fopen, (const char* path, const char* mode), (path, mode), )
PASS_ON(kPread, -1, ssize_t, pread, (int fd, void* b, size_t n, off_t at), (fd, b, n, at), )
PASS_ON(kGetifaddrs, -1, int, getifaddrs, (ifaddrs * *list), (list), noexcept)
PASS_ON(kUname, -1, int, uname, (utsname * names), (names), noexcept)
PASS_ON(kClockGettime, -1, int, clock_gettime, (clockid_t c, timespec* t), (c, t), noexcept)
PASS_ON_RESULT(kThreadCreate, pthread_create,
               (pthread_t * t, const pthread_attr_t* a, void* (*start)(void*), void* argument),
               (t, a, start, argument), noexcept)
PASS_ON_RESULT(kThreadJoin, pthread_timedjoin_np, (pthread_t t, void** r, const timespec* d),
               (t, r, d), )
PASS_ON_RESULT(kMutexInit, pthread_mutex_init, (pthread_mutex_t * m, const pthread_mutexattr_t* a),
               (m, a), noexcept)
PASS_ON_RESULT(kMutexLock, pthread_mutex_lock, (pthread_mutex_t * m), (m), noexcept)

// The calls that do more: variadic ones, and those that also observe.
INTERPOSED int socket(int domain, int type, int protocol) noexcept {
    FAIL_WITH_ERRNO(kSocket, -1);
    REAL(socket);
    const int s = real(domain, type, protocol);
    const int bytes = faults::Load(faults::startBuffers);
    if (s >= 0 && bytes && faults::FromLibrary(__builtin_return_address(0))) {
        REAL(setsockopt);
        real(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        real(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    return s;
}

INTERPOSED int setsockopt(int s, int level, int option, const void* value,
                          socklen_t length) noexcept {
    FAIL_WITH_ERRNO(kSetsockopt, -1);
    REAL(setsockopt);
    const int result = real(s, level, option, value, length);
    if (result == 0 && level == IPPROTO_IP && option == IP_DROP_MEMBERSHIP &&
        faults::FromLibrary(__builtin_return_address(0)))
        faults::Add(faults::drops);
    return result;
}

INTERPOSED int fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    FAIL_WITH_ERRNO(kFcntl, -1);
    REAL(fcntl);
    return real(fd, command, argument);
}

INTERPOSED int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    FAIL_WITH_ERRNO(kIoctl, -1);
    REAL(ioctl);
    return real(fd, request, argument);
}

INTERPOSED int poll(pollfd* fds, nfds_t count, int timeout) {
    FAIL_WITH_ERRNO(kPoll, -1);
    REAL(poll);
    const bool library = faults::FromLibrary(__builtin_return_address(0));
    if (library) faults::Add(faults::insidePoll);
    const int result = real(fds, count, timeout);
    if (library) __atomic_sub_fetch(&faults::insidePoll, 1, __ATOMIC_ACQ_REL);
    return result;
}

INTERPOSED ssize_t sendto(int s, const void* data, size_t length, int flags, const sockaddr* to,
                          socklen_t toLength) {
    FAIL_WITH_ERRNO(kSendto, -1);
    REAL(sendto);
    const bool shorten = length > 0 && faults::Load(faults::shortenSends) &&
                         faults::FromLibrary(__builtin_return_address(0));
    return real(s, data, shorten ? length - 1 : length, flags, to, toLength);
}

// Linux releases the descriptor even when close reports an error.
INTERPOSED int close(int fd) {
    REAL(close);
    const int result = real(fd);
    FAIL_WITH_ERRNO(kClose, -1);
    return result;
}

INTERPOSED int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    FAIL_WITH_ERRNO(kOpen, -1);
    REAL(open);
    return real(path, flags, mode);
}

INTERPOSED int nanosleep(const timespec* request, timespec* remaining) {
    if (faults::Observed(__builtin_return_address(0))) {
        const int ms = static_cast<int>(request->tv_sec * 1000 + request->tv_nsec / 1000000);
        __atomic_add_fetch(&faults::pausedTotal, ms, __ATOMIC_ACQ_REL);
        if (ms > faults::Load(faults::pausedLongest)) faults::Store(faults::pausedLongest, ms);
    }
    REAL(nanosleep);
    return real(request, remaining);
}

// The library calls it for futexes only, with at most six arguments.
INTERPOSED long syscall(long number, ...) noexcept {
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long& argument : a) argument = va_arg(arguments, long);
    va_end(arguments);
    FAIL_WITH_ERRNO(kSyscall, -1);
    REAL(syscall);
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
