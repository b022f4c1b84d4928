// A host program as a customer writes it: compiled with the public header
// alone and linked with the import library, it sends datagrams through the
// DLL and checks with a plain Winsock socket (the support layer's) that they
// arrive byte for byte. Prints one "ok"/"not ok" line per check.
#include <algorithm>
#include <vector>

#include "VekLink.h"
#include "support.h"

using support::Check;

static bool Arrives(support::Socket s, const std::vector<char>& expected) {
    if (!support::WaitReadable(s, 3000)) return false;
    std::vector<char> buffer(VEK_RECEIVE_BUFFER_SIZE);
    const int n =
        support::RecvFrom(s, buffer.data(), static_cast<int>(buffer.size()), nullptr, nullptr);
    return n == static_cast<int>(expected.size()) &&
           std::equal(expected.begin(), expected.end(), buffer.begin());
}

int main() {
    Check(VekInitInstance() == 1, "VekInitInstance");
    const unsigned long loopback = support::Ipv4("127.0.0.1");
    const support::Socket receiver = support::OpenUdp(loopback, 0);
    const int port = support::BoundPort(receiver);
    Check(receiver != support::kNoSocket && port > 0, "plain socket bound");

    CVekSend sender;
    Check(sender.InitInstance(VEK_MODE_UNICAST, 0, 0) == 1, "CVekSend::InitInstance");
    std::vector<char> everyByte(256), largest(65507, 'x'), empty;
    for (int i = 0; i < 256; ++i) everyByte[i] = static_cast<char>(i);
    for (std::vector<char>* payload : {&everyByte, &largest, &empty}) {
        const int sent = sender.Send(payload->data(), static_cast<unsigned long>(payload->size()),
                                     port, loopback);
        Check(sent == 1 && Arrives(receiver, *payload), "datagram arrives byte for byte");
    }
    sender.ExitInstance();
    support::Close(receiver);
    Check(VekExitInstance() == 1, "VekExitInstance");
    return support::FailedChecks() ? 1 : 0;
}
