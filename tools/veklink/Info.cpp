// veklink info: what the library's host queries report, each asked the way
// the header documents (two calls where it takes two), with the names the
// platform gives the interfaces beside each address and adapter.
#include "Cli.h"
#include "Commands.h"
#include "support.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

const char kHelp[] =
    "usage: veklink info [--json]\n"
    "Shows the host name, the computer name, the usable IPv4 interfaces with their\n"
    "netmasks and the adapters' hardware addresses, as the library reports them, each\n"
    "with the name of its interface.\n"
    "\n"
    "options:\n"
    "  --json         the same as one JSON object\n"
    "\n"
    "exit status: 0 shown, 2 bad usage, 3 the socket layer did not start, or the host\n"
    "has more than 8 IPv4 interface records (127.0.0.1 included), which the library's\n"
    "interface query cannot report\n";

struct Interface {
    IPv4Address address;
    IPv4Address netmask;
    std::vector<std::string> names;
};

struct Adapter {
    std::string hardwareAddress;  // 6 bytes
    std::vector<std::string> names;
};

struct Report {
    bool hasHostName = false, hasComputerName = false;
    std::string hostName, computerName;
    int records = 0;  // IPv4 addresses of interfaces that are up, as the platform lists them
    std::vector<Interface> interfaces;
    std::vector<Adapter> adapters;

    bool OverLimit() const { return interfaces.empty() && records > VEK_MAX_INTERFACES; }
};

using Interfaces = std::vector<support::NetworkInterface>;

std::vector<std::string> NamesOf(
    const Interfaces& known, const std::function<bool(const support::NetworkInterface&)>& matches) {
    std::vector<std::string> names;
    for (const support::NetworkInterface& candidate : known)
        if (matches(candidate)) names.push_back(candidate.name);
    return names;
}

int CountRecords(const Interfaces& known) {
    int records = 0;
    for (const support::NetworkInterface& candidate : known)
        if (candidate.up) records += static_cast<int>(candidate.addresses.size());
    return records;
}

void ReadNames(Report& report) {
    char host[VEK_HOST_NAME_SIZE] = {};
    report.hasHostName = VekGetHostName(host) != 0;
    report.hostName = host;
    char computer[256] = {};
    report.hasComputerName = VekGetCompName(computer, sizeof computer) != 0;
    report.computerName = computer;
}

void ReadInterfaces(Report& report, const Interfaces& known) {
    // The filling call writes at most VEK_MAX_INTERFACES entries whatever the
    // first call said.
    unsigned long addresses[VEK_MAX_INTERFACES], netmasks[VEK_MAX_INTERFACES];
    const int n = VekGetHostIP(nullptr, nullptr) > 0 ? VekGetHostIP(addresses, netmasks) : 0;
    for (int i = 0; i < n && i < VEK_MAX_INTERFACES; ++i) {
        const IPv4Address address = addresses[i];
        report.interfaces.push_back(
            {address, netmasks[i], NamesOf(known, [address](const support::NetworkInterface& c) {
                 for (IPv4Address own : c.addresses)
                     if (own == address) return true;
                 return false;
             })});
    }
    report.records = CountRecords(known);
}

void ReadAdapters(Report& report, const Interfaces& known) {
    unsigned char cards[VEK_ADAPTER_ADDRESS_SIZE * VEK_MAX_ADAPTERS];
    const int n = VekGetNetCard(nullptr) > 0 ? VekGetNetCard(cards) : 0;
    for (int i = 0; i < n && i < VEK_MAX_ADAPTERS; ++i) {
        const unsigned char* card = cards + static_cast<std::size_t>(VEK_ADAPTER_ADDRESS_SIZE) * i;
        const std::string hardware(reinterpret_cast<const char*>(card), VEK_ADAPTER_ADDRESS_SIZE);
        report.adapters.push_back(
            {hardware, NamesOf(known, [&hardware](const support::NetworkInterface& c) {
                 return c.hardwareAddress == hardware;
             })});
    }
}

// The prefix length of a contiguous netmask, or -1 for any other mask.
int PrefixLength(IPv4Address netmask) {
    unsigned char bytes[4];
    const std::uint32_t network = static_cast<std::uint32_t>(netmask);
    std::memcpy(bytes, &network, sizeof bytes);
    const std::uint32_t mask =
        static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length))) ++length;
    const std::uint32_t expected = length ? 0xFFFFFFFFu << (32 - length) : 0;
    return mask == expected ? length : -1;
}

std::string FormatHardware(const std::string& hardware) {
    return support::Mac(reinterpret_cast<const unsigned char*>(hardware.data()));
}

std::string Joined(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : separator) + name;
    return text;
}

// A line of the listing, with the interface names after it, in a column,
// when there are any.
void PrintRow(std::string row, std::size_t width, const std::vector<std::string>& names) {
    if (!names.empty()) {
        if (row.size() < width) row.resize(width, ' ');
        row += "  " + Joined(names, ", ");
    }
    std::printf("%s\n", row.c_str());
}

std::string TooManyRecords(const Report& report) {
    return "more than " + std::to_string(VEK_MAX_INTERFACES) + " interface records (" +
           std::to_string(report.records) +
           " on this host, 127.0.0.1 included), the limit of the library's query";
}

void PrintText(const Report& report) {
    std::printf("host name:       %s\n",
                report.hasHostName ? report.hostName.c_str() : "(not reported)");
    std::printf("computer name:   %s\n",
                report.hasComputerName ? report.computerName.c_str() : "(not reported)");
    if (report.OverLimit())
        std::printf("IPv4 interfaces: %s\n", TooManyRecords(report).c_str());
    else if (report.interfaces.empty())
        std::printf("IPv4 interfaces: none usable\n");
    else
        std::printf("IPv4 interfaces: %d\n", static_cast<int>(report.interfaces.size()));
    for (const Interface& i : report.interfaces) {
        const int prefix = PrefixLength(i.netmask);
        const std::string slash =
            prefix >= 0 ? "/" + std::to_string(prefix) : std::string(" (mask not contiguous)");
        char row[96];
        std::snprintf(row, sizeof row, "  %-18s netmask %s",
                      (support::Dotted(i.address) + slash).c_str(),
                      support::Dotted(i.netmask).c_str());
        PrintRow(row, 44, i.names);  // room for the longest netmask
    }
    if (report.adapters.empty())
        std::printf("adapters:        none reported\n");
    else
        std::printf("adapters:        %d\n", static_cast<int>(report.adapters.size()));
    for (std::size_t n = 0; n < report.adapters.size(); ++n) {
        char row[48];
        std::snprintf(row, sizeof row, "  %-3d %s", static_cast<int>(n),
                      FormatHardware(report.adapters[n].hardwareAddress).c_str());
        PrintRow(row, 0, report.adapters[n].names);
    }
}

std::string JsonNames(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + support::JsonString(name);
    return "[" + list + "]";
}

std::string JsonOptional(bool present, const std::string& text) {
    return present ? support::JsonString(text) : "null";
}

void PrintJson(const Report& report) {
    std::printf("{\n  \"host_name\": %s,\n  \"computer_name\": %s,\n",
                JsonOptional(report.hasHostName, report.hostName).c_str(),
                JsonOptional(report.hasComputerName, report.computerName).c_str());
    std::printf(
        "  \"interface_records\": %d,\n  \"interfaces_over_limit\": %s,\n  \"interfaces\": [",
        report.records, report.OverLimit() ? "true" : "false");
    for (std::size_t n = 0; n < report.interfaces.size(); ++n) {
        const Interface& i = report.interfaces[n];
        const int prefix = PrefixLength(i.netmask);
        std::printf(
            "%s\n    {\"address\": \"%s\", \"netmask\": \"%s\", \"prefix\": %s, \"names\": %s}",
            n ? "," : "", support::Dotted(i.address).c_str(), support::Dotted(i.netmask).c_str(),
            prefix >= 0 ? std::to_string(prefix).c_str() : "null", JsonNames(i.names).c_str());
    }
    std::printf("%s],\n  \"adapters\": [", report.interfaces.empty() ? "" : "\n  ");
    for (std::size_t n = 0; n < report.adapters.size(); ++n)
        std::printf("%s\n    {\"number\": %d, \"hardware_address\": \"%s\", \"names\": %s}",
                    n ? "," : "", static_cast<int>(n),
                    FormatHardware(report.adapters[n].hardwareAddress).c_str(),
                    JsonNames(report.adapters[n].names).c_str());
    std::printf("%s]\n}\n", report.adapters.empty() ? "" : "\n  ");
}

}  // namespace

const OptionTable kInfoOptions = {{"json", false}};

InfoPlan ReadInfoPlan(const Arguments& args) {
    if (!args.Operands().empty())
        throw UsageError("unexpected operand '" + args.Operands()[0] + "'");
    InfoPlan plan;
    plan.json = args.Has("json");
    return plan;
}

int RunInfo(int argc, char** argv) {
    const Arguments args(argc, argv, kInfoOptions);
    if (ShowHelp(args, kHelp)) return kExitOk;
    const InfoPlan plan = ReadInfoPlan(args);
    SocketLayer sockets;
    const Interfaces known = support::ListInterfaces();
    Report report;
    ReadNames(report);
    ReadInterfaces(report, known);
    ReadAdapters(report, known);
    if (plan.json)
        PrintJson(report);
    else
        PrintText(report);
    if (report.OverLimit()) throw NetworkError(TooManyRecords(report));
    return kExitOk;
}
