// Setting up a sender or listener, and why one could not be set up: the
// library reports only that it failed, so a plain socket takes the same
// steps again to find the one that fails, and the error names it with a
// hint. Also the free port that "listen 0" shows.
#ifndef VEKLINK_TOOL_DIAGNOSE_H
#define VEKLINK_TOOL_DIAGNOSE_H

#include "Cli.h"
#include "VekLink.h"

#include <string>

// The steps the library takes to set up a sender or listener.
enum class SetupStep { kNone, kSocket, kBind, kJoin, kRoute };
struct SetupFailure {
    SetupStep step;
    int error;  // the platform's error at that step
};

// Opens a UDP socket, binds port on interfaceAddress and, when group is not 0,
// joins it there. A refused join on the default interface is put down to the
// route when no route leads to the group.
SetupFailure RetrySetup(IPv4Address interfaceAddress, int port, IPv4Address group);
// True when the failed step was a bind to a port another socket holds.
bool PortTaken(const SetupFailure& failure);

// A port that no socket holds on interfaceAddress: bound by a plain socket,
// which is closed again. Returns -1 with failure filled in.
int PickFreePort(IPv4Address interfaceAddress, SetupFailure* failure);

// The NetworkError for a sender or listener that the library could not set
// up: context ("could not listen on 0.0.0.0:5000"), then the step that
// failed when RetrySetup took the same set-up again (failure), the
// platform's text and a hint. libraryError, the platform's error read right
// after the library's call, is reported when every step went through.
NetworkError SetupError(const std::string& context, const SetupFailure& failure,
                        IPv4Address interfaceAddress, int port, IPv4Address group,
                        int libraryError);

// Sets sender up for target; throws the SetupError of the step that failed.
void SetUpSender(CVekSend& sender, const Target& target);

// Runs listener on the port, interface and group that listening names, with
// callback and context, and returns its port: that one, or for port 0 a free
// one that it picks (and picks again, up to ten times, when another program
// takes it before the listener binds it), so that it can be shown. Throws
// the SetupError of the step that failed.
int SetUpListener(CVekListen& listener, const ListenSpec& listening, ReceiveCallback callback,
                  void* context);

#endif
