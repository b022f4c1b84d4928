// A short tour of VekLink: what the host queries report, a sender's datagrams
// reaching a plain socket, and a sender and a listener exchanging datagrams,
// unicast and multicast. Meant to run inside a private network namespace
// (scripts/demo arranges it).
#include "VekLink.h"

#if defined(_WIN32)
#  include <winsock2.h>
#  include <ws2tcpip.h>
typedef SOCKET Native;
static const Native kNoSocket = INVALID_SOCKET;
static void CloseNative(Native s) { closesocket(s); }
static const char* kTarget = "VekLink.dll (32-bit Windows)";
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/select.h>
#  include <sys/socket.h>
#  include <unistd.h>
typedef int Native;
static const Native kNoSocket = -1;
static void CloseNative(Native s) { close(s); }
static const char* kTarget = "libveklink.so (native)";
#endif

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const char* kGroup = "239.255.42.99";

std::string Dotted(unsigned long address) {
    in_addr a;
    a.s_addr = static_cast<unsigned>(address);
    return inet_ntoa(a);
}

std::string Endpoint(unsigned long address, int port) {
    return Dotted(address) + ":" + std::to_string(port);
}

// A plain UDP socket on 0.0.0.0:port that joins the group, as any program
// that knows nothing of VekLink would open it.
Native PlainReceiver(int port) {
    Native s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<unsigned short>(port));
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = inet_addr(kGroup);
    if (s == kNoSocket || bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                   sizeof request) != 0) {
        std::printf("  could not open a plain receiving socket on port %d\n", port);
        if (s != kNoSocket) CloseNative(s);
        return kNoSocket;
    }
    return s;
}

void ReceivePlain(Native s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit = {2, 0};
    char buffer[2048];
    sockaddr_in from = {};
#if defined(_WIN32)
    int fromLength = sizeof from;
#else
    socklen_t fromLength = sizeof from;
#endif
    if (select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &limit) != 1) {
        std::printf("  plain socket: nothing arrived\n");
        return;
    }
    const int n = recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    std::printf("  plain socket received %d bytes from %s: \"%.*s\"\n", n,
                Endpoint(from.sin_addr.s_addr, ntohs(from.sin_port)).c_str(), n > 0 ? n : 0, buffer);
}

void HostQueries() {
    std::printf("\n-- the host\n");
    char name[64];
    std::printf("host name:       %s\n", VekGetHostName(name) ? name : "(failed)");
    char computer[256];
    std::printf("computer name:   %s\n", VekGetCompName(computer, sizeof computer) ? computer : "(failed)");

    unsigned long addresses[8], netmasks[8];
    const int interfaces = VekGetHostIP(nullptr, nullptr);
    std::printf("IPv4 interfaces: %d\n", interfaces);
    const int listed = interfaces > 0 ? VekGetHostIP(addresses, netmasks) : 0;
    for (int i = 0; i < listed; ++i)
        std::printf("  %-15s netmask %s\n", Dotted(addresses[i]).c_str(), Dotted(netmasks[i]).c_str());

    unsigned char cards[6 * 255];
    const int adapters = VekGetNetCard(nullptr);
    std::printf("adapters:        %d\n", adapters);
    const int reported = adapters > 0 ? VekGetNetCard(cards) : 0;
    for (int i = 0; i < reported; ++i) {
        const unsigned char* c = cards + 6 * i;
        std::printf("  %02x:%02x:%02x:%02x:%02x:%02x\n", c[0], c[1], c[2], c[3], c[4], c[5]);
    }
}

void SenderToPlainSocket() {
    std::printf("\n-- CVekSend -> a plain socket\n");
    const int port = 47100;
    Native receiver = PlainReceiver(port);
    if (receiver == kNoSocket) return;

    CVekSend unicast;
    char text1[] = "hello over unicast";
    std::printf("unicast to 127.0.0.1:%d: Send -> %d\n", port,
                unicast.InitInstance(VEK_MODE_UNICAST, 0, 0) &&
                    unicast.Send(text1, sizeof text1 - 1, port, inet_addr("127.0.0.1")));
    ReceivePlain(receiver);

    CVekSend multicast;
    char text2[] = "hello over multicast";
    std::printf("multicast to %s:%d: Send -> %d\n", kGroup, port,
                multicast.InitInstance(VEK_MODE_MULTICAST, inet_addr(kGroup), 0) &&
                    multicast.Send(text2, sizeof text2 - 1, port, 0));
    ReceivePlain(receiver);
    unicast.ExitInstance();
    multicast.ExitInstance();
    CloseNative(receiver);
}

struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    int count = 0;
};

void PrintDelivery(void* data, int length, void* context, unsigned long source, int sourcePort) {
    Inbox* inbox = static_cast<Inbox*>(context);
    std::printf("  callback: %d bytes from %s: \"%.*s\"\n", length, Endpoint(source, sourcePort).c_str(),
                length > 0 ? length : 0, static_cast<const char*>(data));
    std::fflush(stdout);
    std::lock_guard<std::mutex> guard(inbox->lock);
    ++inbox->count;
    inbox->arrived.notify_all();
}

void Exchange(const char* title, unsigned long mode, int port, char* text) {
    Inbox inbox;
    CVekListen listener;
    CVekSend sender;
    const unsigned long group = mode == VEK_MODE_MULTICAST ? inet_addr(kGroup) : 0;
    if (!listener.Run(mode, PrintDelivery, port, 0, group, &inbox) ||
        !sender.InitInstance(mode, group, 0)) {
        std::printf("%s: set-up failed\n", title);
        return;
    }
    const int sent = sender.Send(text, static_cast<unsigned long>(std::strlen(text)), port,
                                 inet_addr("127.0.0.1"));
    std::printf("%s to port %d: Send -> %d\n", title, port, sent);
    std::unique_lock<std::mutex> guard(inbox.lock);
    if (!inbox.arrived.wait_for(guard, std::chrono::seconds(2), [&] { return inbox.count > 0; }))
        std::printf("  nothing arrived\n");
    guard.unlock();
    listener.Stop();
    sender.ExitInstance();
}

void SenderToListener() {
    std::printf("\n-- CVekSend -> CVekListen\n");
    char unicastText[] = "unicast through the listener";
    char multicastText[] = "multicast through the listener";
    Exchange("unicast", VEK_MODE_UNICAST, 47101, unicastText);
    Exchange("multicast", VEK_MODE_MULTICAST, 47102, multicastText);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("== VekLink demo: %s\n", kTarget);
    if (!VekInitInstance()) {
        std::printf("VekInitInstance failed\n");
        return 1;
    }
    HostQueries();
    SenderToPlainSocket();
    SenderToListener();
    VekExitInstance();
    return 0;
}
