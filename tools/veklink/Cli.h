// The command line: exit codes, the two kinds of error, the argument parser,
// the parsers of ports, addresses and numbers, help, and the socket layer's
// start-up that every command holds.
#ifndef VEKLINK_TOOL_CLI_H
#define VEKLINK_TOOL_CLI_H

#include "VekLink.h"

#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

enum ExitCode { kExitOk = 0, kExitNoReply = 1, kExitUsage = 2, kExitNetwork = 3 };

// The largest UDP payload that fits one IPv4 datagram: 65535 less the IPv4
// and UDP headers.
const unsigned long kMaxDatagram = 65507;

// Thrown for anything wrong on the command line; main prints it and exits 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown when the library or the platform refuses; main prints it and exits 3.
struct NetworkError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takesValue;
};
// A command's options: each command has one table, which reading its
// arguments and checking them alone (tests/fuzz) both use. A list, not a
// container, so that a table is built without allocating, before main.
using OptionTable = std::initializer_list<OptionSpec>;

// One command's arguments: "--name value", "--name=value" and flags from the
// command's own table, in any order among the operands. "--" ends the
// options; "-" and anything that looks like a negative number are operands,
// so that a bad port reads as a bad port and not as an unknown option.
class Arguments {
public:
    Arguments(int argc, char** argv, const OptionTable& options);

    bool WantsHelp() const { return help_; }
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    const std::string& Value(const std::string& name) const { return values_.at(name); }
    const std::vector<std::string>& Operands() const { return operands_; }

private:
    // Takes the option at argv[*i] (and its value, moving *i past it).
    void TakeOption(int argc, char** argv, int* i, const OptionTable& options);

    bool help_ = false;
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
};

// ": " and the platform's text for its last error; empty when there is none.
// Read it right after the failed call.
std::string LastErrorText();

// Prints help on standard output when the arguments ask for it; true then,
// and the command ends with kExitOk.
bool ShowHelp(const Arguments& args, const char* help);

// Parsers: each returns the value or throws UsageError naming what is wrong.
PortNumber ParsePort(const std::string& text);
IPv4Address ParseAddress(const std::string& text, const char* what);
// A dotted address (strictly a.b.c.d) or a host name with an IPv4 address;
// a name the resolver cannot look up at all throws NetworkError. Needs the
// socket layer (SocketLayer).
IPv4Address ResolveAddress(const std::string& text, const char* what);
// As ResolveAddress, for a multicast group (224.0.0.0/4).
IPv4Address ResolveGroup(const std::string& text);
unsigned long ParseNumber(const std::string& text, const char* what, unsigned long low,
                          unsigned long high);
// Decimal seconds up to a day; 0 only where zeroAllowed.
double ParseSeconds(const std::string& text, const char* what, bool zeroAllowed = false);

// Where a sending command sends: ADDRESS, or with --group the group, which
// ADDRESS must then be; from the interface --interface names.
struct Target {
    unsigned long mode = VEK_MODE_UNICAST;
    IPv4Address destination = 0;  // the group in multicast mode
    IPv4Address interfaceAddress = 0;
};
Target ReadTarget(const Arguments& args, const std::string& address);

// What a listening command listens on, and when it ends: its one operand
// PORT, --group, --interface, --count and --timeout.
struct ListenSpec {
    unsigned long mode = VEK_MODE_UNICAST;
    IPv4Address group = 0;
    IPv4Address interfaceAddress = 0;
    PortNumber port = 0;      // 0: a free port, picked and shown
    unsigned long count = 0;  // 0: no limit
    double timeout = 0;       // seconds; 0: no limit
};
ListenSpec ReadListenSpec(const Arguments& args);

// Holds the socket layer started, the library's and the support layer's, for
// the lifetime of a command; declare it before any sender or listener so
// that they end first.
class SocketLayer {
public:
    SocketLayer();
    ~SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
};

int RunSend(int argc, char** argv);
int RunListen(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunPing(int argc, char** argv);
int RunEcho(int argc, char** argv);

#endif
