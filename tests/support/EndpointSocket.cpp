// Reads the field through the library's own class definition; nothing here
// calls into the library.
#include "support/EndpointSocket.h"

#include "transport/UdpEndpoint.h"

namespace test {
std::uintptr_t SocketOf(const CUdpEndpoint* endpoint) {
    return static_cast<std::uintptr_t>(endpoint->GetSocket());
}
}  // namespace test
