// The smallest VekLink host: a listener on port 47300 and a sender that sends
// it one datagram over loopback. Exits 0 once the callback has seen it.
// It uses C headers only, so it builds for every DLL, the Microsoft-ABI one
// included, whose hosts here have no C++ library; the wait for the receive
// thread therefore uses the platform's own calls.
#include <VekLink.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#  include <windows.h>
static volatile LONG received = 0;
static void MarkReceived() { InterlockedExchange(&received, 1); }
static bool Received() { return InterlockedCompareExchange(&received, 0, 0) != 0; }
static void Pause() { Sleep(10); }
#else
#  include <time.h>
static int received = 0;
static void MarkReceived() { __atomic_store_n(&received, 1, __ATOMIC_RELEASE); }
static bool Received() { return __atomic_load_n(&received, __ATOMIC_ACQUIRE) != 0; }
static void Pause() {
    const timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}
#endif

// 127.0.0.1 in network byte order: the first octet in the lowest-addressed byte.
static unsigned long Loopback() {
    const unsigned char octets[4] = {127, 0, 0, 1};
    uint32_t address;
    memcpy(&address, octets, sizeof address);
    return address;
}

static void OnDatagram(void* data, int length, void*, unsigned long, int sourcePort) {
    printf("received %d bytes from port %d: %.*s\n", length, sourcePort, length > 0 ? length : 0,
           static_cast<const char*>(data));
    MarkReceived();
}

int main() {
    if (!VekInitInstance()) return 1;
    CVekListen listener;
    CVekSend sender;
    char text[] = "hello from the example";
    const bool sent = listener.Run(VEK_MODE_UNICAST, OnDatagram, 47300, 0, 0, nullptr) &&
                      sender.InitInstance(VEK_MODE_UNICAST, 0, 0) &&
                      sender.Send(text, sizeof text - 1, 47300, Loopback());
    for (int i = 0; sent && i < 300 && !Received(); ++i) Pause();
    sender.ExitInstance();
    listener.Stop();
    VekExitInstance();
    return Received() ? 0 : 1;
}
