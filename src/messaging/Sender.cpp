// The endpoint is defined before the public header declares it: mingw would
// otherwise export its type information along with the exported classes.
#include "transport/UdpEndpoint.h"
#include "VekLink.h"

#include <limits.h>

CVekSend::CVekSend() : endpoint(nullptr), groupAddress(0), mode(0) {}

CVekSend::~CVekSend() { ExitInstance(); }

CVekSend& CVekSend::operator=(const CVekSend& other) {
    // The socket stays with its owner: the copy takes only the recorded set-up.
    if (this != &other) {
        ExitInstance();
        groupAddress = other.groupAddress;
        mode = other.mode;
    }
    return *this;
}

int CVekSend::InitInstance(unsigned long newMode, unsigned long group,
                           unsigned long interfaceAddress) {
    ExitInstance();
    CUdpEndpoint* created = new CUdpEndpoint;
    if (!created) return 0;
    const bool multicast = newMode == VEK_MODE_MULTICAST;
    if (!created->Create(0, interfaceAddress) || !created->SetSendBuffer(kSocketBufferSize) ||
        (multicast && !created->JoinGroup(group))) {
        ReleaseEndpoint(created);
        return 0;
    }
    endpoint = created;
    if (multicast) groupAddress = group;
    mode = newMode;
    return 1;
}

int CVekSend::Send(void* data, unsigned long length, int port, unsigned long address) {
    if (!endpoint) return 0;
    if (mode != VEK_MODE_UNICAST && mode != VEK_MODE_MULTICAST) return 1;
    if (length > INT_MAX) return 0;
    const unsigned long to = mode == VEK_MODE_MULTICAST ? groupAddress : address;
    return endpoint->SendTo(data, static_cast<int>(length), to, port);
}

void CVekSend::ExitInstance() {
    if (!endpoint) return;
    ReleaseEndpoint(endpoint);
    endpoint = nullptr;
}
