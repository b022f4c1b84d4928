// The library's objects: each input drives up to 16 calls on two senders
// and two listeners (set-up, send of any size, stop, copy, assignment,
// destruction) and the host queries with odd buffer sizes, over loopback
// in the test's namespace. A small model of each object says what each call
// returns and what the object's fields hold afterwards; every datagram sent
// to a running listener's port is delivered once, and at the end of each
// input nothing is left open.
#include "Fuzz.h"
#include "VekLink.h"
#include "support.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/utsname.h>
#include <thread>
#include <vector>

using fuzz::Require;

namespace {

// Outside the ephemeral range, so that no port the platform picks (for a
// sender, or a listener on port 0) is one of them.
const int kPorts[] = {20001, 20002};
const unsigned long kLoopback = support::Ipv4("127.0.0.1");
const unsigned long kGroup = support::Ipv4("239.1.2.3");

// What one slot's listeners were handed.
struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::string> datagrams;
    std::size_t expected = 0;  // sent to this slot's running listener
};

// Checks the zero tail the header promises past each datagram.
void Receive(void* data, int length, void* context, unsigned long, int) {
    const char* bytes = static_cast<const char*>(data);
    Require(std::all_of(bytes + std::max(length, 0), bytes + VEK_RECEIVE_BUFFER_SIZE,
                        [](char c) { return c == 0; }),
            "zeros after the datagram");
    Inbox* inbox = static_cast<Inbox*>(context);
    std::lock_guard<std::mutex> guard(inbox->lock);
    inbox->datagrams.push_back(length < 0 ? "failed"
                                          : std::string(static_cast<char*>(data), length));
    inbox->arrived.notify_all();
}

// The state each call leaves an object in, as the header describes it;
// live: a sender set up, a listener running.
struct SenderModel {
    bool live = false;
    unsigned long mode = 0, group = 0;
};
struct ListenerModel {
    bool live = false;
    unsigned long mode = VEK_MODE_UNICAST, group = 0;
    int port = 0;
    void* context = nullptr;
    ReceiveCallback callback = nullptr;
};

// Two objects of a kind with their models. A copy, or an object assigned
// to, takes the other's recorded fields but is never live.
template <typename Object, typename Model>
struct Slots {
    std::optional<Object> objects[2];
    Model models[2];

    Object& operator[](int i) {  // made when there is none
        if (!objects[i]) objects[i].emplace();
        return *objects[i];
    }
    void Copy(int i, int from) {
        if (i == from) return;
        const Object copy((*this)[from]);
        objects[i].reset();
        objects[i].emplace(copy);
        Took(i, from);
    }
    void Assign(int i, int from) {
        (*this)[i] = (*this)[from];
        if (i != from) Took(i, from);
    }
    void Destroy(int i) {
        objects[i].reset();
        models[i] = Model();
    }
    void Took(int i, int from) {
        models[i] = models[from];
        models[i].live = false;
    }
};

struct World {
    Inbox inboxes[2];  // first, so that it outlives the listeners that fill it
    Slots<CVekSend, SenderModel> senders;
    Slots<CVekListen, ListenerModel> listeners;
    unsigned sent = 0;

    // The slot whose running listener holds port, or -1.
    int Holder(int port) const {
        for (int i = 0; i < 2; ++i)
            if (listeners.models[i].live && listeners.models[i].port == port) return i;
        return -1;
    }
    void Check() const {
        for (int i = 0; i < 2; ++i) {
            const SenderModel& s = senders.models[i];
            const CVekSend* o = senders.objects[i] ? &*senders.objects[i] : nullptr;
            Require(!o || ((o->endpoint != nullptr) == s.live && o->mode == s.mode &&
                           o->groupAddress == s.group),
                    "sender fields as the model has them");
            const ListenerModel& l = listeners.models[i];
            const CVekListen* p = listeners.objects[i] ? &*listeners.objects[i] : nullptr;
            Require(!p || ((p->endpoint != nullptr) == l.live && (p->thread != nullptr) == l.live &&
                           p->mode == l.mode && p->groupAddress == l.group && p->port == l.port &&
                           p->context == l.context && p->callback == l.callback),
                    "listener fields as the model has them");
        }
    }
};

// Waits (at most 2 s) until inbox holds what was sent to it, then checks
// that, and the last datagram's bytes where last is given.
void CheckDelivered(Inbox& inbox, const std::string* last) {
    std::unique_lock<std::mutex> guard(inbox.lock);
    inbox.arrived.wait_for(guard, std::chrono::seconds(2),
                           [&] { return inbox.datagrams.size() >= inbox.expected; });
    Require(inbox.datagrams.size() == inbox.expected, "each datagram delivered once");
    Require(!last || inbox.datagrams.back() == *last, "the datagram's bytes");
}

// Half the time a size at an edge, else any that the next two bytes give.
std::size_t PickSize(fuzz::Input& in) {
    static const std::size_t kEdges[] = {0, 1, 2, 65506, 65507, 65508, 65535};
    const std::uint8_t pick = in.Byte();
    return pick % 2 ? kEdges[pick / 2 % (sizeof kEdges / sizeof kEdges[0])]
                    : in.Number<std::uint16_t>();
}

void SenderSetUp(World& w, fuzz::Input& in, int i, int) {
    const unsigned long mode = 1 + in.Byte() % 3;  // 3: accepted, sends nothing
    const unsigned long from = in.Byte() % 2 ? kLoopback : 0;
    Require(w.senders[i].InitInstance(mode, kGroup, from) == 1, "sender set up");
    SenderModel& m = w.senders.models[i];
    m = {true, mode, mode == VEK_MODE_MULTICAST ? kGroup : m.group};
}

void SenderEnd(World& w, fuzz::Input&, int i, int) {
    w.senders[i].ExitInstance();
    w.senders.models[i].live = false;
}

void SenderSend(World& w, fuzz::Input& in, int i, int to) {
    const SenderModel& m = w.senders.models[i];
    std::string payload(PickSize(in), '\0');
    const unsigned tag = ++w.sent;
    for (std::size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<char>(tag + k);
    const bool sends = m.live && (m.mode == VEK_MODE_UNICAST || m.mode == VEK_MODE_MULTICAST);
    const bool fits = payload.size() <= 65507;
    const int result = w.senders[i].Send(&payload[0], static_cast<unsigned long>(payload.size()),
                                         kPorts[to], kLoopback);
    Require(result == (m.live && (fits || !sends)), "send result");
    const int holder = w.Holder(kPorts[to]);
    if (!sends || !fits || holder < 0) return;
    ++w.inboxes[holder].expected;
    CheckDelivered(w.inboxes[holder], &payload);
}

void ListenerRun(World& w, fuzz::Input& in, int i, int) {
    const unsigned long mode = 1 + in.Byte() % 2;
    const std::uint8_t choice = in.Byte() % 3;
    const int port = choice < 2 ? kPorts[choice] : 0;  // 0: the platform's choice
    ListenerModel& m = w.listeners.models[i];
    const bool free = !m.live && (port == 0 || w.Holder(port) < 0);
    const int result = w.listeners[i].Run(mode, Receive, port, 0, kGroup, &w.inboxes[i]);
    Require(result == free, "run result");
    if (result) m = {true, mode, kGroup, port, &w.inboxes[i], Receive};
}

void ListenerStop(World& w, fuzz::Input&, int i, int) {
    w.listeners[i].Stop();
    w.listeners.models[i].live = false;
}

// The host queries, into buffers of exactly the size given: a write past
// one is one ASan sees, and a call that fails writes nothing.
void Queries(World&, fuzz::Input& in, int, int) {
    utsname node;
    uname(&node);
    const std::size_t size = in.Byte() % 80;
    std::vector<char> name(size, '\x5A');
    const bool fits = size > std::strlen(node.nodename);
    Require((VekGetCompName(name.data(), static_cast<unsigned long>(size)) != 0) == fits &&
                (fits ? std::strcmp(name.data(), node.nodename) == 0
                      : name == std::vector<char>(size, '\x5A')),
            "computer name");
    char host[VEK_HOST_NAME_SIZE];
    Require(!VekGetHostName(host) || std::memchr(host, '\0', sizeof host), "host name ends");
    const int interfaces = VekGetHostIP(nullptr, nullptr);
    std::vector<unsigned long> addresses(VEK_MAX_INTERFACES);
    Require(interfaces >= 0 && interfaces <= VEK_MAX_INTERFACES &&
                (!interfaces || VekGetHostIP(addresses.data(), nullptr) == interfaces),
            "interface list");
    const int cards = VekGetNetCard(nullptr);
    std::vector<unsigned char> records(VEK_ADAPTER_ADDRESS_SIZE * static_cast<std::size_t>(cards));
    Require(cards >= 0 && (!cards || VekGetNetCard(records.data()) == cards), "adapter list");
}

using Operation = void (*)(World&, fuzz::Input&, int, int);
const Operation kOperations[] = {
    SenderSetUp,
    SenderEnd,
    SenderSend,
    [](World& w, fuzz::Input&, int i, int from) { w.senders.Copy(i, from); },
    [](World& w, fuzz::Input&, int i, int from) { w.senders.Assign(i, from); },
    [](World& w, fuzz::Input&, int i, int) { w.senders.Destroy(i); },
    ListenerRun,
    ListenerStop,
    [](World& w, fuzz::Input&, int i, int from) { w.listeners.Copy(i, from); },
    [](World& w, fuzz::Input&, int i, int from) { w.listeners.Assign(i, from); },
    [](World& w, fuzz::Input&, int i, int) { w.listeners.Destroy(i); },
    Queries};

// Waits (at most 2 s) for what the process holds to come back to count: a
// receive thread ends just after Stop has seen it end.
bool Settles(long (*held)(), long count) {
    for (int i = 0; i < 2000 && held() != count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return held() == count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::RequireNamespace();
    Require(VekInitInstance() == 1, "socket layer");
    // The counts move with one socket or thread more, so their staying put
    // proves something.
    const long before = support::HeldHandles();
    const support::Socket socket = support::OpenUdp(kLoopback, 0);
    Require(support::HeldHandles() == before + 1, "a socket shows in the count");
    support::Close(socket);
    // So does the count of threads, with one thread more.
    const long threads = support::HeldThreads();
    std::thread([threads] {
        Require(support::HeldThreads() == threads + 1, "a thread shows in the count");
    }).join();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const long handles = support::HeldHandles(), threads = support::HeldThreads();
    fuzz::Input input(data, size);
    {
        World world;
        for (int n = 0; n < 16 && !input.Empty(); ++n) {
            const std::uint8_t op = input.Byte();
            kOperations[(op & 0x3F) % (sizeof kOperations / sizeof kOperations[0])](
                world, input, op >> 6 & 1, op >> 7);
            world.Check();
        }
        for (auto& listener : world.listeners.objects) listener.reset();
        for (auto& sender : world.senders.objects) sender.reset();
        for (Inbox& inbox : world.inboxes) CheckDelivered(inbox, nullptr);
    }
    Require(Settles(support::HeldHandles, handles), "no descriptor left open");
    Require(Settles(support::HeldThreads, threads), "no thread left running");
    return 0;
}
