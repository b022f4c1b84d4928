// The process calls natively: signals, the terminal, thread clocks, CPU
// affinity, /proc/self and mmap.
#include "internal.h"
#include "support.h"

#include <csignal>
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

namespace support {
namespace {

void OnSignal(int) { RequestStop(); }

long CountEntries(const char* directory) {
    DIR* listing = opendir(directory);
    if (!listing) return -1;
    long count = 0;
    // Each caller reads a stream of its own, which readdir keeps apart.
    while (readdir(listing)) ++count;  // NOLINT(concurrency-mt-unsafe)
    closedir(listing);
    return count;
}

bool PinTo(int cpu, bool wholeProcess) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return wholeProcess ? sched_setaffinity(0, sizeof set, &set) == 0
                        : pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

int Protection(PageAccess access) {
    switch (access) {
    case PageAccess::kNone: return PROT_NONE;
    case PageAccess::kReadOnly: return PROT_READ;
    case PageAccess::kReadWrite: break;
    }
    return PROT_READ | PROT_WRITE;
}

}  // namespace

bool UnderWine() { return false; }

bool OnWindows() { return false; }

void InstallStopHandler() {
    // No SA_RESTART: a read of standard input blocked at Ctrl-C returns.
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void UseBinaryInput() {}

void UseBinaryOutput() {}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool CalendarTime(std::time_t t, bool utc, std::tm* out) {
    return (utc ? gmtime_r(&t, out) : localtime_r(&t, out)) != nullptr;
}

void SleepUs(int microseconds) {
    // Timer slack (50 us by default) would stretch every short sleep.
    static thread_local const bool fine = prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
    static_cast<void>(fine);
    const timespec interval = {microseconds / 1000000, (microseconds % 1000000) * 1000L};
    nanosleep(&interval, nullptr);
}

CpuClock ThreadCpuClock() {
    CpuClock clock;
    clockid_t id;
    clock.valid = pthread_getcpuclockid(pthread_self(), &id) == 0;
    clock.id = clock.valid ? static_cast<std::intptr_t>(id) : 0;
    return clock;
}

double CpuSeconds(const CpuClock& clock) {
    timespec t;
    if (!clock.valid || clock_gettime(static_cast<clockid_t>(clock.id), &t) != 0) return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void ReleaseCpuClock(CpuClock& clock) { clock.valid = false; }

bool PinToOneCpu() { return PinTo(0, true); }

bool PinThread(int cpu) { return PinTo(cpu, false); }

void MarkInTrace(const std::string& text) {
    if (write(-1, text.data(), text.size()) < 0) return;
}

long HeldHandles() { return CountEntries("/proc/self/fd"); }

long HeldThreads() { return CountEntries("/proc/self/task"); }

std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

unsigned char* MapPages(std::size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<unsigned char*>(pages);
}

void UnmapPages(unsigned char* pages, std::size_t bytes) { munmap(pages, bytes); }

bool ProtectPages(unsigned char* pages, std::size_t bytes, PageAccess access) {
    return mprotect(pages, bytes, Protection(access)) == 0;
}

}  // namespace support
