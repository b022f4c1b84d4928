// Handing datagrams from a listener's receive thread to a thread of the
// host's own. The callback only copies each datagram into a bounded queue,
// holding the lock for no longer than the copy, and wakes the host thread;
// the host thread takes them out and works on them at its own pace. At
// shutdown, Stop first (after it no callback starts, and the datagrams
// already at the socket have been queued while its wait lasted), then drain
// what the queue still holds. Exits 0 when every datagram sent was taken
// exactly once.
//
// It sends itself kCount datagrams over loopback on port 47301. C headers
// only, and the platform's own lock and condition variable, so that it
// builds for every DLL, the Microsoft-ABI one included, whose hosts here
// have no C++ library.
#include <VekLink.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#  include <windows.h>
struct Lock {
    CRITICAL_SECTION section;
    CONDITION_VARIABLE changed;
    void Init() {
        InitializeCriticalSection(&section);
        InitializeConditionVariable(&changed);
    }
    void Enter() { EnterCriticalSection(&section); }
    void Leave() { LeaveCriticalSection(&section); }
    void Signal() { WakeConditionVariable(&changed); }
    void Wait(int milliseconds) { SleepConditionVariableCS(&changed, &section, milliseconds); }
};
#else
#  include <pthread.h>
#  include <time.h>
struct Lock {
    pthread_mutex_t mutex;
    pthread_cond_t changed;
    void Init() {
        pthread_mutex_init(&mutex, nullptr);
        pthread_cond_init(&changed, nullptr);
    }
    void Enter() { pthread_mutex_lock(&mutex); }
    void Leave() { pthread_mutex_unlock(&mutex); }
    void Signal() { pthread_cond_signal(&changed); }
    void Wait(int milliseconds) {
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += milliseconds * 1000000L;
        until.tv_sec += until.tv_nsec / 1000000000L;
        until.tv_nsec %= 1000000000L;
        pthread_cond_timedwait(&changed, &mutex, &until);
    }
};
#endif

const int kPort = 47301;
const int kCount = 20;
const int kSlots = 8;          // the queue's bound: a full queue drops, never blocks
const int kSlotBytes = 65536;  // the most one datagram can hold

struct Datagram {
    int length;
    unsigned long source;
    int sourcePort;
    char bytes[kSlotBytes];
};

// A ring of kSlots datagrams. Filled on the receive thread, emptied on the
// host's thread.
struct Queue {
    Lock lock;
    Datagram slots[kSlots];
    int first, held;
    int dropped;  // arrived while the queue was full
};
static Queue queue;

// On the receive thread: copy and go. Never wait here for the host thread:
// while the callback runs, the listener receives nothing, and Stop's wait
// (1000 ms) runs out.
static void OnDatagram(void* data, int length, void*, unsigned long source, int sourcePort) {
    if (length < 0) return;  // a failed receive
    queue.lock.Enter();
    if (queue.held == kSlots) {
        ++queue.dropped;
    } else {
        Datagram& slot = queue.slots[(queue.first + queue.held) % kSlots];
        slot.length = length;
        slot.source = source;
        slot.sourcePort = sourcePort;
        memcpy(slot.bytes, data, static_cast<size_t>(length));
        ++queue.held;
    }
    queue.lock.Leave();
    queue.lock.Signal();
}

// On the host's thread: takes the oldest datagram into *out, waiting up to
// milliseconds for one; false when none came.
static bool Take(Datagram* out, int milliseconds) {
    queue.lock.Enter();
    if (queue.held == 0 && milliseconds > 0) queue.lock.Wait(milliseconds);
    const bool taken = queue.held > 0;
    if (taken) {
        memcpy(out, &queue.slots[queue.first], sizeof *out);
        queue.first = (queue.first + 1) % kSlots;
        --queue.held;
    }
    queue.lock.Leave();
    return taken;
}

// 127.0.0.1 in network byte order: the first octet in the lowest-addressed byte.
static unsigned long Loopback() {
    const unsigned char octets[4] = {127, 0, 0, 1};
    uint32_t address;
    memcpy(&address, octets, sizeof address);
    return address;
}

static int seen[kCount + 1];  // how often each datagram was taken

// "datagram N", written and read without the C library's formatting, which
// the Microsoft-ABI build here does not import.
static int Label(int number, char (&text)[32]) {
    int length = 0;
    for (const char* p = "datagram "; *p; ++p) text[length++] = *p;
    char digits[12];
    int n = 0;
    do digits[n++] = static_cast<char>('0' + number % 10);
    while ((number /= 10) > 0);
    while (n > 0) text[length++] = digits[--n];
    text[length] = 0;
    return length;
}

static void Handle(const Datagram& d, const char* when) {
    char text[32] = {0};
    memcpy(text, d.bytes, d.length < 31 ? static_cast<size_t>(d.length) : 31);
    int number = 0;
    for (const char* p = text + 9; *p >= '0' && *p <= '9'; ++p) number = number * 10 + (*p - '0');
    if (memcmp(text, "datagram ", 9) == 0 && number >= 1 && number <= kCount) ++seen[number];
    printf("%s: %s (%d bytes from port %d)\n", when, text, d.length, d.sourcePort);
}

static Datagram taken;  // 64 KiB: not on the stack

int main() {
    queue.lock.Init();
    if (!VekInitInstance()) return 1;
    CVekListen listener;
    CVekSend sender;
    if (!listener.Run(VEK_MODE_UNICAST, OnDatagram, kPort, 0, 0, nullptr) ||
        !sender.InitInstance(VEK_MODE_UNICAST, 0, 0)) {
        printf("could not set up the listener or the sender\n");
        VekExitInstance();
        return 1;
    }
    // The host takes half a queue at a time, at its own pace, and leaves the
    // last kSlots datagrams (as many as the queue holds) for the drain.
    for (int i = 1; i <= kCount; ++i) {
        char text[32];
        sender.Send(text, static_cast<unsigned long>(Label(i, text)), kPort, Loopback());
        if (i % (kSlots / 2) == 0 && i <= kCount - kSlots)
            for (int k = 0; k < kSlots / 2 && Take(&taken, 1000); ++k) Handle(taken, "taken");
    }
    sender.ExitInstance();
    // Shutdown: Stop, then drain. After Stop no callback starts, so what the
    // queue holds now is all there will be.
    listener.Stop();
    while (Take(&taken, 0)) Handle(taken, "drained");
    VekExitInstance();

    int once = 0;
    for (int i = 1; i <= kCount; ++i) once += seen[i] == 1;
    printf("%d of %d datagrams taken exactly once, %d dropped\n", once, kCount, queue.dropped);
    return once == kCount && queue.dropped == 0 ? 0 : 1;
}
