// A multicast chat: each line typed is sent to a group, and the lines that
// others send to it are printed with their sender. Every host on the subnet
// that runs it with the same group and port takes part.
//
//   chat [--interface A] [GROUP [PORT]]      (239.255.70.3, port 5010)
//
// --interface A sends from, and joins on, the interface with address A:
// on a host with several interfaces the platform's own choice is often not
// the one the others are on ('veklink info' lists them). Linux, natively
// and under Wine, delivers a group only to a listener bound to any address,
// so there the listener keeps interface 0.
//
// Multicast loops back to the sender's own host, so each line carries a tag
// of this process, by which its own lines are told apart. C headers only,
// and the platform's own read of standard input, so that it builds for every
// DLL, the Microsoft-ABI one included, whose hosts here have no C++ library.
#include <VekLink.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#  include <windows.h>
static bool ReadByte(char* c) {
    DWORD got = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), c, 1, &got, nullptr) && got == 1;
}
const bool kListenOnInterface = true;
#else
#  include <unistd.h>
static bool ReadByte(char* c) { return read(0, c, 1) == 1; }
const bool kListenOnInterface = false;
#endif

// A dotted quad as an address in network byte order; false when it is not one.
static bool ParseAddress(const char* text, unsigned long* address) {
    unsigned char octets[4];
    for (int i = 0; i < 4; ++i) {
        unsigned value = 0;
        int digits = 0;
        for (; *text >= '0' && *text <= '9' && digits < 4; ++text, ++digits)
            value = value * 10 + static_cast<unsigned>(*text - '0');
        if (digits == 0 || value > 255 || *text != (i < 3 ? '.' : '\0')) return false;
        octets[i] = static_cast<unsigned char>(value);
        ++text;
    }
    uint32_t network;
    memcpy(&network, octets, sizeof network);
    *address = network;
    return true;
}

static void PrintAddress(unsigned long address) {
    const uint32_t network = static_cast<uint32_t>(address);
    unsigned char octets[4];
    memcpy(octets, &network, sizeof octets);
    printf("%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
}

const int kTagSize = 9;  // eight hex digits and a space
static char tag[kTagSize + 1];

// On the receive thread: print what others said.
static void OnDatagram(void* data, int length, void*, unsigned long source, int sourcePort) {
    const char* text = static_cast<const char*>(data);
    if (length < kTagSize || memcmp(text, tag, kTagSize) == 0) return;  // a failure, or our own
    PrintAddress(source);
    printf(":%d: %.*s\n", sourcePort, length - kTagSize, text + kTagSize);
    fflush(nullptr);  // every stream: the Microsoft-ABI build here has no stdout to name
}

// Reads a line of standard input into line (without its line end); false
// at the end of input.
static bool ReadLine(char* line, int capacity, int* length) {
    char c;
    *length = 0;
    bool any = false;
    while (ReadByte(&c)) {
        any = true;
        if (c == '\n') break;
        if (c != '\r' && *length < capacity) line[(*length)++] = c;
    }
    return any;
}

static bool ParsePort(const char* text, int* port) {
    *port = 0;
    for (; *text >= '0' && *text <= '9' && *port <= 65535; ++text)
        *port = *port * 10 + (*text - '0');
    return *text == '\0' && *port <= 65535;
}

int main(int argc, char** argv) {
    unsigned long group = 0, interfaceAddress = 0;
    ParseAddress("239.255.70.3", &group);
    int port = 5010, operands = 0;
    for (int i = 1; i < argc; ++i) {
        const bool ok = strcmp(argv[i], "--interface") == 0
                            ? ++i < argc && ParseAddress(argv[i], &interfaceAddress)
                        : operands == 0 ? ParseAddress(argv[i], &group)
                        : operands == 1 ? ParsePort(argv[i], &port)
                                        : false;
        if (!ok) {
            printf("usage: chat [--interface A] [GROUP [PORT]]\n");
            return 2;
        }
        if (strcmp(argv[i - 1], "--interface") != 0) ++operands;
    }
    // The tag: where this process's stack lies, which differs from run to run.
    const uintptr_t where = reinterpret_cast<uintptr_t>(&group) >> 4;
    for (int i = 0; i < 8; ++i) tag[i] = "0123456789abcdef"[(where >> (4 * i)) & 15];
    tag[8] = ' ';

    if (!VekInitInstance()) return 1;
    CVekListen listener;
    CVekSend sender;
    if (!listener.Run(VEK_MODE_MULTICAST, OnDatagram, port,
                      kListenOnInterface ? interfaceAddress : 0, group, nullptr) ||
        !sender.InitInstance(VEK_MODE_MULTICAST, group, interfaceAddress)) {
        printf("could not join the group on port %d (is the port in use?)\n", port);
        VekExitInstance();
        return 1;
    }
    printf("chatting on ");
    PrintAddress(group);
    printf(":%d; type lines, end with Ctrl-D (Ctrl-Z on Windows)\n", port);
    fflush(nullptr);  // every stream: the Microsoft-ABI build here has no stdout to name
    static char message[kTagSize + 1400];
    memcpy(message, tag, kTagSize);
    int length = 0;
    while (ReadLine(message + kTagSize, static_cast<int>(sizeof message) - kTagSize, &length))
        sender.Send(message, static_cast<unsigned long>(kTagSize + length), port, group);
    sender.ExitInstance();
    listener.Stop();
    VekExitInstance();
    return 0;
}
