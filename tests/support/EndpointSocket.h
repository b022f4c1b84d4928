// The socket inside a sender's or listener's endpoint, for tests that look
// at it with the platform's own calls.
#ifndef VEKLINK_TEST_ENDPOINT_SOCKET_H
#define VEKLINK_TEST_ENDPOINT_SOCKET_H

#include <cstdint>

class CUdpEndpoint;

namespace test {
std::uintptr_t SocketOf(const CUdpEndpoint* endpoint);
}

#endif
