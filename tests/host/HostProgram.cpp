// A host program as a customer writes it: compiled with the public header
// alone and linked with the import library, it sends datagrams through the
// DLL and checks with a plain Winsock socket that they arrive byte for byte.
// Prints one "ok"/"not ok" line per check.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "VekLink.h"
#include "support/PlainSocket.h"

static int failures = 0;

static void Check(bool passed, const char* what) {
    std::printf("%s %s\n", passed ? "ok" : "not ok", what);
    if (!passed) ++failures;
}

static bool Arrives(plain::Socket s, const std::vector<char>& expected) {
    if (!plain::WaitReadable(s, 3000)) return false;
    std::vector<char> buffer(65536);
    const int n = plain::RecvFrom(s, buffer.data(), static_cast<int>(buffer.size()), nullptr, nullptr);
    return n == static_cast<int>(expected.size()) &&
           std::equal(expected.begin(), expected.end(), buffer.begin());
}

int main() {
    Check(VekInitInstance() == 1, "VekInitInstance");
    const unsigned long loopback = plain::Ipv4("127.0.0.1");
    const plain::Socket receiver = plain::OpenUdp(loopback, 47200);
    Check(receiver != plain::kNoSocket, "plain socket bound");

    CVekSend sender;
    Check(sender.InitInstance(VEK_MODE_UNICAST, 0, 0) == 1, "CVekSend::InitInstance");
    std::vector<char> everyByte(256), largest(65507, 'x'), empty;
    for (int i = 0; i < 256; ++i) everyByte[i] = static_cast<char>(i);
    for (std::vector<char>* payload : {&everyByte, &largest, &empty}) {
        const int sent = sender.Send(payload->data(), static_cast<unsigned long>(payload->size()),
                                     47200, loopback);
        Check(sent == 1 && Arrives(receiver, *payload), "datagram arrives byte for byte");
    }
    sender.ExitInstance();
    plain::Close(receiver);
    Check(VekExitInstance() == 1, "VekExitInstance");
    return failures ? 1 : 0;
}
