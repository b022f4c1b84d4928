// The host demo: a host program's tour of VekLink. What the host queries
// report, a sender's datagrams reaching a plain socket, and a sender and a
// listener exchanging datagrams, unicast and multicast. scripts/demo runs it
// inside a private network namespace, before the veklink tool's tour
// (scripts/tool-tour).
#include "VekLink.h"
#include "support.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const char* kGroup = "239.255.42.99";

using support::Dotted;
using support::Endpoint;

// A plain UDP socket on 0.0.0.0:port that joins the group, as any program
// that knows nothing of VekLink would open it.
support::Socket PlainReceiver(int port) {
    const support::Socket s = support::OpenUdp(0, port);
    if (s == support::kNoSocket || !support::JoinGroup(s, support::Ipv4(kGroup), 0)) {
        std::printf("  could not open a plain receiving socket on port %d\n", port);
        support::Close(s);
        return support::kNoSocket;
    }
    return s;
}

void ReceivePlain(support::Socket s) {
    char buffer[2048];
    unsigned long source = 0;
    int sourcePort = 0;
    if (!support::WaitReadable(s, 2000)) {
        std::printf("  plain socket: nothing arrived\n");
        return;
    }
    const int n = support::RecvFrom(s, buffer, sizeof buffer, &source, &sourcePort);
    std::printf("  plain socket received %d bytes from %s: \"%.*s\"\n", n,
                Endpoint(source, sourcePort).c_str(), n > 0 ? n : 0, buffer);
}

void HostQueries() {
    std::printf("\n-- the host\n");
    char name[VEK_HOST_NAME_SIZE];
    std::printf("host name:       %s\n", VekGetHostName(name) ? name : "(failed)");
    char computer[256];
    std::printf("computer name:   %s\n",
                VekGetCompName(computer, sizeof computer) ? computer : "(failed)");

    unsigned long addresses[VEK_MAX_INTERFACES], netmasks[VEK_MAX_INTERFACES];
    const int interfaces = VekGetHostIP(nullptr, nullptr);
    std::printf("IPv4 interfaces: %d\n", interfaces);
    const int listed = interfaces > 0 ? VekGetHostIP(addresses, netmasks) : 0;
    for (int i = 0; i < listed; ++i)
        std::printf("  %-15s netmask %s\n", Dotted(addresses[i]).c_str(),
                    Dotted(netmasks[i]).c_str());

    unsigned char cards[VEK_ADAPTER_ADDRESS_SIZE * VEK_MAX_ADAPTERS];
    const int adapters = VekGetNetCard(nullptr);
    std::printf("adapters:        %d\n", adapters);
    const int reported = adapters > 0 ? VekGetNetCard(cards) : 0;
    for (int i = 0; i < reported; ++i)
        std::printf("  %s\n", support::Mac(cards + VEK_ADAPTER_ADDRESS_SIZE * i).c_str());
}

void SenderToPlainSocket() {
    std::printf("\n-- CVekSend -> a plain socket\n");
    const int port = 47100;
    const support::Socket receiver = PlainReceiver(port);
    if (receiver == support::kNoSocket) return;

    CVekSend unicast;
    char text1[] = "hello over unicast";
    std::printf("unicast to 127.0.0.1:%d: Send -> %d\n", port,
                unicast.InitInstance(VEK_MODE_UNICAST, 0, 0) &&
                    unicast.Send(text1, sizeof text1 - 1, port, support::Ipv4("127.0.0.1")));
    ReceivePlain(receiver);

    CVekSend multicast;
    char text2[] = "hello over multicast";
    std::printf("multicast to %s:%d: Send -> %d\n", kGroup, port,
                multicast.InitInstance(VEK_MODE_MULTICAST, support::Ipv4(kGroup), 0) &&
                    multicast.Send(text2, sizeof text2 - 1, port, 0));
    ReceivePlain(receiver);
    unicast.ExitInstance();
    multicast.ExitInstance();
    support::Close(receiver);
}

struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    int count = 0;
};

void PrintDelivery(void* data, int length, void* context, unsigned long source, int sourcePort) {
    Inbox* inbox = static_cast<Inbox*>(context);
    std::printf("  callback: %d bytes from %s: \"%.*s\"\n", length,
                Endpoint(source, sourcePort).c_str(), length > 0 ? length : 0,
                static_cast<const char*>(data));
    std::fflush(stdout);
    std::lock_guard<std::mutex> guard(inbox->lock);
    ++inbox->count;
    inbox->arrived.notify_all();
}

void Exchange(const char* title, unsigned long mode, int port, char* text) {
    Inbox inbox;
    CVekListen listener;
    CVekSend sender;
    const unsigned long group = mode == VEK_MODE_MULTICAST ? support::Ipv4(kGroup) : 0;
    if (!listener.Run(mode, PrintDelivery, port, 0, group, &inbox) ||
        !sender.InitInstance(mode, group, 0)) {
        std::printf("%s: set-up failed\n", title);
        return;
    }
    const int sent = sender.Send(text, static_cast<unsigned long>(std::strlen(text)), port,
                                 support::Ipv4("127.0.0.1"));
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
    std::printf("== VekLink demo: %s\n",
                support::OnWindows() ? "VekLink.dll (Windows)" : "libveklink.so (native)");
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
