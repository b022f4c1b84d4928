// Start and stop of the platform's socket layer on behalf of the host. The
// platform counts start-ups; the library keeps no state of its own.
#include "VekLink.h"
#include "platform/platform.h"

namespace {
constexpr WORD kVersion22 = 0x0202;  // major in the low byte, minor in the high byte
}

int VekInitInstance(void) {
    WSADATA data;
    if (WSAStartup(kVersion22, &data) != 0) return 0;
    if (data.wVersion != kVersion22) {
        // Any other grant is refused; undo it so no start-up stays counted.
        WSACleanup();
        return 0;
    }
    return 1;
}

int VekExitInstance(void) { return WSACleanup() == 0 ? 1 : 0; }
