// The tool's argument parse: the input is one command's arguments (NUL
// separates them), read exactly as that command reads them, and each
// argument goes to each value parser alone. Any input ends in a plan or a
// usage error (or a failed lookup of a host name): never a crash, a hang, a
// read past an argument, or a value outside what the parser promises.
#include "Commands.h"
#include "Fuzz.h"
#include "support.h"

#include <algorithm>
#include <memory>
#include <vector>

using fuzz::Require;

namespace {

struct Command {
    const OptionTable* options;
    void (*read)(const Arguments& args);
};

const Command kCommands[] = {
    {&kSendOptions,
     [](const Arguments& args) {
         const SendPlan plan = ReadSendPlan(args);
         Require(plan.payload.size() <= kMaxDatagram && plan.count >= 1, "send plan in range");
     }},
    {&kListenOptions, [](const Arguments& args) { ReadListenPlan(args); }},
    {&kInfoOptions, [](const Arguments& args) { ReadInfoPlan(args); }},
    {&kPingOptions,
     [](const Arguments& args) {
         const PingPlan plan = ReadPingPlan(args);
         Require(plan.size >= 20 && plan.size <= kMaxDatagram, "probe size in range");
     }},
    {&kEchoOptions, [](const Arguments& args) { ReadEchoPlan(args); }},
};

// The arguments that NULs separate; none in empty text.
std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\0', at)) != std::string::npos; at = end + 1)
        parts.push_back(text.substr(at, end - at));
    parts.push_back(text.substr(at));
    return parts;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// What each value parser promises of a value it returns.
void CheckParsers(const std::string& text) {
    const auto refused = [](auto parse) {
        try {
            parse();
        } catch (const UsageError&) {}
    };
    refused([&] {
        const PortNumber port = ParsePort(text);
        Require(port >= 0 && port <= 65535, "port in range");
    });
    refused([&] {
        const IPv4Address address = ParseAddress(text, "address");
        Require(text.find_first_not_of("0123456789.") == std::string::npos &&
                    ParseAddress(support::Dotted(address), "dotted") == address,
                "address read back from its dotted form");
    });
    refused([&] {
        const unsigned long n = ParseNumber(text, "n", 3, 1000);
        Require(n >= 3 && n <= 1000 && IsDigits(text), "number in range");
    });
    refused([&] {
        const double seconds = ParseSeconds(text, "seconds");
        Require(seconds > 0 && seconds <= 86400, "seconds in range");
    });
    std::string bytes;
    const bool pairs = text.size() % 2 == 0 &&
                       text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    Require(support::ParseHex(text, &bytes) == pairs, "hex read exactly when it is pairs");
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'F' ? c + 32 : c);
    Require(!pairs || support::Hex(bytes, "") == lower, "hex read back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::RequireNamespace();  // host names are looked up where no resolver answers
    static SocketLayer sockets;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const Command& command = kCommands[input.Byte() % (sizeof kCommands / sizeof kCommands[0])];
    // Each argument in an allocation of its own, exactly its size and its
    // NUL, and argv without a null entry after the last: a read past either
    // is one ASan sees.
    std::vector<std::unique_ptr<char[]>> held;
    std::vector<char*> argv;
    for (const std::string& arg : Split(input.Rest())) {
        held.emplace_back(new char[arg.size() + 1]);
        std::copy(arg.c_str(), arg.c_str() + arg.size() + 1, held.back().get());
        argv.push_back(held.back().get());
        CheckParsers(arg);
    }
    try {
        const Arguments args(static_cast<int>(argv.size()), argv.data(), *command.options);
        if (!args.WantsHelp()) command.read(args);
    } catch (const UsageError&) {
    } catch (const NetworkError&) {}
    return 0;
}
