// What each command's arguments ask of it, read apart from doing it: a
// command takes its arguments with its option table (Arguments), shows help
// when they ask for it, starts the socket layer (names are looked up with it
// started) and only then reads its plan. Reading a plan opens no socket, file
// or standard input, so the arguments can be checked alone (tests/fuzz).
// Each Read*Plan throws UsageError for anything wrong, or NetworkError for a
// host name the resolver could not look up at all.
#ifndef VEKLINK_TOOL_COMMANDS_H
#define VEKLINK_TOOL_COMMANDS_H

#include "Cli.h"
#include "Views.h"

#include <cstddef>
#include <string>

extern const OptionTable kSendOptions, kListenOptions, kInfoOptions, kPingOptions, kEchoOptions;

// Where a send's payload comes from; the run reads the file or standard
// input.
enum class PayloadSource { kGiven, kFile, kBinaryInput, kLines };

struct SendPlan {
    Target target;
    PortNumber port = 0;
    PayloadSource source = PayloadSource::kGiven;
    std::string payload;         // kGiven: the bytes (MESSAGE, --size or --hex)
    std::string file;            // kFile: the path --file names
    bool series = false;         // progress lines and a summary
    unsigned long count = 1;     // datagrams, or with kLines the most lines to send
    unsigned long interval = 0;  // milliseconds between datagrams
};
SendPlan ReadSendPlan(const Arguments& args);

struct ListenPlan : ListenSpec {
    View view = View::kText;
    std::string pcapPath;  // empty: no capture
};
ListenPlan ReadListenPlan(const Arguments& args);

struct InfoPlan {
    bool json = false;
};
InfoPlan ReadInfoPlan(const Arguments& args);

struct PingPlan {
    Target target;
    PortNumber port = 0;
    unsigned long count = 10;
    unsigned long interval = 1000;  // milliseconds
    std::size_t size = 64;
    double wait = 1;  // seconds after the last probe
    bool json = false, histogram = false, quiet = false;
};
PingPlan ReadPingPlan(const Arguments& args);

struct EchoPlan : ListenSpec {
    bool quiet = false;
};
EchoPlan ReadEchoPlan(const Arguments& args);

#endif
