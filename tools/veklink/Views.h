// How "listen" shows each datagram: a line of text, a hex dump, nothing
// (--quiet), the raw payload, or a JSON object.
#ifndef VEKLINK_TOOL_VIEWS_H
#define VEKLINK_TOOL_VIEWS_H

#include "Cli.h"
#include "VekLink.h"

#include <chrono>
#include <string>

// One datagram as the listener's callback handed it over.
struct Delivery {
    std::chrono::system_clock::time_point time;     // shown
    std::chrono::steady_clock::time_point arrived;  // for measuring
    IPv4Address source;
    int port;
    int length;  // -1 for a failed receive
    std::string bytes;
    // For echo: 0 once the datagram went back, else the platform's error for
    // the reply that failed (-1 when it gave none).
    int replyError;
};

enum class View { kText, kHex, kQuiet, kRaw, kJson };

// The view the options choose; at most one of --hex, --quiet, --raw, --json.
View ReadView(const Arguments& args);
// d as view shows it: one line ending in a newline, the payload alone
// (kRaw), or nothing (kQuiet).
std::string Render(const Delivery& d, View view);
// Writes d's Render to standard output.
void Print(const Delivery& d, View view);

#endif
