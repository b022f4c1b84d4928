// veklink: UDP/IPv4 messaging and host queries from the command line, through
// the VekLink library's public interface alone.
#include "Cli.h"

#include "support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

const char kHelp[] =
    "usage: veklink COMMAND [OPTIONS] [OPERANDS]\n"
    "UDP/IPv4 messaging and host queries through the VekLink library.\n"
    "\n"
    "commands:\n"
    "  send    send datagrams, unicast or to a multicast group\n"
    "  listen  print the datagrams arriving on a port\n"
    "  info    show the host's names, IPv4 interfaces and adapter addresses\n"
    "  ping    probe a host or a multicast group: loss, duplicates, reordering and\n"
    "          round-trip times per responder\n"
    "  echo    return every datagram arriving on a port, for ping and UDP echo clients\n"
    "\n"
    "'veklink COMMAND --help' describes a command; 'veklink --version' prints the version.\n"
    "exit status: 0 success (ping: a reply came back; 1 none did), 1 standard output\n"
    "could not be written, 2 bad usage, 3 network failure\n";

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {{"send", RunSend},
                             {"listen", RunListen},
                             {"info", RunInfo},
                             {"ping", RunPing},
                             {"echo", RunEcho}};

int Dispatch(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "";
    const Command* command = nullptr;
    for (const Command& candidate : kCommands)
        if (std::strcmp(name, candidate.name) == 0) command = &candidate;
    if (!command &&
        (!std::strcmp(name, "--help") || !std::strcmp(name, "-h") || !std::strcmp(name, "help"))) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (!command && !std::strcmp(name, "--version")) {
        std::puts("veklink " VEKLINK_VERSION);
        return kExitOk;
    }
    // Errors stay on one line, naming the command and where to read more.
    const std::string where =
        std::string("veklink") + (command ? std::string(" ") + command->name : "");
    try {
        if (!command)
            throw UsageError(argc > 1 ? "unknown command '" + std::string(name) + "'"
                                      : std::string("missing command"));
        return command->run(argc - 2, argv + 2);
    } catch (const UsageError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s (see '%s --help')\n", where.c_str(), e.what(), where.c_str());
        return kExitUsage;
    } catch (const NetworkError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", where.c_str(), e.what());
        return kExitNetwork;
    } catch (const std::exception& e) {
        // Only running out of memory gets here; report it rather than abort.
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", where.c_str(), e.what());
        return 1;
    }
}

// What went to standard output must have reached it: a full disk or a closed
// pipe makes a success a failure. The writes are checked here, once, rather
// than one by one.
int FinishOutput(int status) {
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout)) return status;
    const std::string reason = flushed ? std::string() : ": " + support::ErrnoText(errno);
    std::fprintf(stderr, "veklink: could not write standard output%s\n", reason.c_str());
    return status == kExitOk ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) { return FinishOutput(Dispatch(argc, argv)); }
