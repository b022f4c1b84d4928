// veklink info: what the library's host queries report, each asked the way
// the header documents (two calls where it takes two).
#include "Common.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] =
    "usage: veklink info\n"
    "Shows the host name, the computer name, the usable IPv4 interfaces with their\n"
    "netmasks and the adapters' hardware addresses, as the library reports them.\n"
    "\n"
    "exit status: 0 shown, 2 bad usage, 3 the socket layer did not start\n";

// The prefix length of a contiguous netmask, or -1 for any other mask.
int PrefixLength(IPv4Address netmask) {
    unsigned char bytes[4];
    const std::uint32_t network = static_cast<std::uint32_t>(netmask);
    std::memcpy(bytes, &network, sizeof bytes);
    const std::uint32_t mask = static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length))) ++length;
    const std::uint32_t expected = length ? 0xFFFFFFFFu << (32 - length) : 0;
    return mask == expected ? length : -1;
}

void PrintNames() {
    char host[64] = {};
    std::printf("host name:       %s\n", VekGetHostName(host) ? host : "(not reported)");
    char computer[256] = {};
    std::printf("computer name:   %s\n", VekGetCompName(computer, sizeof computer) ? computer : "(not reported)");
}

void PrintInterfaces() {
    // The filling call writes at most 8 entries whatever the first call said.
    unsigned long addresses[8], netmasks[8];
    const int n = VekGetHostIP(nullptr, nullptr) > 0 ? VekGetHostIP(addresses, netmasks) : 0;
    if (n <= 0) {
        std::printf("IPv4 interfaces: none usable\n");
        return;
    }
    std::printf("IPv4 interfaces: %d\n", n);
    for (int i = 0; i < n && i < 8; ++i) {
        const int prefix = PrefixLength(netmasks[i]);
        const std::string slash = prefix >= 0 ? "/" + std::to_string(prefix) : std::string(" (mask not contiguous)");
        std::printf("  %-18s netmask %s\n", (FormatAddress(addresses[i]) + slash).c_str(),
                    FormatAddress(netmasks[i]).c_str());
    }
}

void PrintAdapters() {
    // 255 adapter numbers of 6 bytes each are always enough.
    unsigned char cards[6 * 255];
    const int n = VekGetNetCard(nullptr) > 0 ? VekGetNetCard(cards) : 0;
    if (n <= 0) {
        std::printf("adapters:        none reported\n");
        return;
    }
    std::printf("adapters:        %d\n", n);
    for (int i = 0; i < n && i < 255; ++i) {
        const unsigned char* c = cards + 6 * i;
        std::printf("  %-3d %02x:%02x:%02x:%02x:%02x:%02x\n", i, c[0], c[1], c[2], c[3], c[4], c[5]);
    }
}

}  // namespace

int RunInfo(int argc, char** argv) {
    const Arguments args(argc, argv, {});
    if (args.WantsHelp()) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (!args.Operands().empty()) throw UsageError("unexpected operand '" + args.Operands()[0] + "'");
    SocketLayer sockets;
    PrintNames();
    PrintInterfaces();
    PrintAdapters();
    return kExitOk;
}
