// A host program as a customer writes it: compiled with the public header
// alone and linked with the import library, it sends datagrams through the
// DLL and checks with a plain Winsock socket that they arrive byte for byte.
// Prints one "ok"/"not ok" line per check.
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "VekLink.h"

static int failures = 0;

static void Check(bool passed, const char* what) {
    std::printf("%s %s\n", passed ? "ok" : "not ok", what);
    if (!passed) ++failures;
}

static bool Arrives(SOCKET s, const std::vector<char>& expected) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit = {3, 0};
    if (select(0, &set, nullptr, nullptr, &limit) != 1) return false;
    std::vector<char> buffer(65536);
    const int n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
    return n == static_cast<int>(expected.size()) &&
           std::equal(expected.begin(), expected.end(), buffer.begin());
}

int main() {
    Check(VekInitInstance() == 1, "VekInitInstance");
    SOCKET receiver = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(47200);
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    Check(bind(receiver, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0, "plain socket bound");

    CVekSend sender;
    Check(sender.InitInstance(VEK_MODE_UNICAST, 0, 0) == 1, "CVekSend::InitInstance");
    std::vector<char> everyByte(256), largest(65507, 'x'), empty;
    for (int i = 0; i < 256; ++i) everyByte[i] = static_cast<char>(i);
    for (std::vector<char>* payload : {&everyByte, &largest, &empty}) {
        const int sent = sender.Send(payload->data(), static_cast<unsigned long>(payload->size()),
                                     47200, inet_addr("127.0.0.1"));
        Check(sent == 1 && Arrives(receiver, *payload), "datagram arrives byte for byte");
    }
    sender.ExitInstance();
    closesocket(receiver);
    Check(VekExitInstance() == 1, "VekExitInstance");
    return failures ? 1 : 0;
}
