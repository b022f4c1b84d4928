// The smallest VekLink host: a listener on port 47300 and a sender that sends
// it one datagram over loopback. Exits 0 once the callback has seen it.
#include <VekLink.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

static std::atomic<int> received{0};

// 127.0.0.1 in network byte order: the first octet in the lowest-addressed byte.
static unsigned long Loopback() {
    const unsigned char octets[4] = {127, 0, 0, 1};
    std::uint32_t address;
    std::memcpy(&address, octets, sizeof address);
    return address;
}

static void OnDatagram(void* data, int length, void*, unsigned long, int sourcePort) {
    std::printf("received %d bytes from port %d: %.*s\n", length, sourcePort,
                length > 0 ? length : 0, static_cast<const char*>(data));
    received = 1;
}

int main() {
    if (!VekInitInstance()) return 1;
    CVekListen listener;
    CVekSend sender;
    char text[] = "hello from the example";
    const bool sent = listener.Run(VEK_MODE_UNICAST, OnDatagram, 47300, 0, 0, nullptr) &&
                      sender.InitInstance(VEK_MODE_UNICAST, 0, 0) &&
                      sender.Send(text, sizeof text - 1, 47300, Loopback());
    for (int i = 0; sent && i < 300 && !received; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sender.ExitInstance();
    listener.Stop();
    VekExitInstance();
    return received ? 0 : 1;
}
