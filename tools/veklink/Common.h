// What the veklink commands share: exit codes, the two kinds of error, the
// argument parser and the parsing and formatting of addresses and numbers.
#ifndef VEKLINK_TOOL_COMMON_H
#define VEKLINK_TOOL_COMMON_H

#include "Platform.h"
#include "VekLink.h"

#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

enum ExitCode { kExitOk = 0, kExitUsage = 2, kExitNetwork = 3 };

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

// One command's arguments: "--name value", "--name=value" and flags from the
// command's own table, in any order among the operands. "--" ends the
// options; "-" and anything that looks like a negative number are operands,
// so that a bad port reads as a bad port and not as an unknown option.
class Arguments {
public:
    Arguments(int argc, char** argv, std::initializer_list<OptionSpec> options);

    bool WantsHelp() const { return help_; }
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    const std::string& Value(const std::string& name) const { return values_.at(name); }
    const std::vector<std::string>& Operands() const { return operands_; }

private:
    bool help_ = false;
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
};

// Parsers: each returns the value or throws UsageError naming what is wrong.
PortNumber ParsePort(const std::string& text);
IPv4Address ParseAddress(const std::string& text, const char* what);
// A dotted address (strictly a.b.c.d) or a host name with an IPv4 address;
// a name the resolver cannot look up at all throws NetworkError. Needs the
// socket layer (SocketLayer) on Windows.
IPv4Address ResolveAddress(const std::string& text, const char* what);
// As ResolveAddress, for a multicast group (224.0.0.0/4).
IPv4Address ResolveGroup(const std::string& text);
unsigned long ParseNumber(const std::string& text, const char* what, unsigned long low,
                          unsigned long high);
double ParseSeconds(const std::string& text, const char* what);

std::string FormatAddress(IPv4Address address);
std::string FormatEndpoint(IPv4Address address, int port);
std::string Counted(unsigned long long n, const char* noun);  // "1 datagram", "5 datagrams"
std::string FormatBytes(unsigned long long bytes);          // "1 byte", "5 bytes"
std::string FormatRate(unsigned long datagrams, double seconds);  // "12.5 datagrams/s"
// "N datagrams, B bytes in T s (R datagrams/s, R bytes/s)"
std::string FormatTotals(unsigned long datagrams, unsigned long long bytes, double seconds);

// text as a JSON string, quotes included. Bytes that are not valid UTF-8
// must not be passed.
std::string JsonString(const std::string& text);

// The NetworkError for a sender or listener that the library could not set
// up: context ("could not listen on 0.0.0.0:5000"), then the step that
// failed when platform::RetrySetup took the same set-up again (failure), the
// platform's text and a hint. libraryError, the platform's error read right
// after the library's call, is reported when every step went through.
NetworkError SetupError(const std::string& context, const platform::SetupFailure& failure,
                        IPv4Address interfaceAddress, int port, IPv4Address group, int libraryError);

// A progress line rewritten in place while standard output is a terminal;
// on anything else it shows nothing, so redirected output stays a plain log.
class StatusLine {
public:
    StatusLine();
    bool Live() const { return live_; }
    void Show(const std::string& text);  // cut to 79 characters
    // Blanks the line, for a final line printed in its place.
    void Clear();

private:
    bool live_;
    std::size_t shown_ = 0;
};

// Holds the socket layer started for the lifetime of a command; declare it
// before any sender or listener so that they end first.
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

#endif
