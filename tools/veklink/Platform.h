// The few things the tool does differently natively and on Windows; all of
// them live in Platform.cpp.
#ifndef VEKLINK_TOOL_PLATFORM_H
#define VEKLINK_TOOL_PLATFORM_H

#include <chrono>
#include <string>

namespace platform {

// Makes Ctrl-C (and SIGTERM natively) set a flag instead of ending the
// process, so that a command can stop its sender or listener and print its
// summary.
void InstallStopHandler();
bool StopRequested();

// Sleeps for about milliseconds, returning early once a stop is requested.
void SleepUnlessStopped(unsigned long milliseconds);

// "HH:MM:SS.mmm" in local time.
std::string TimeOfDay(std::chrono::system_clock::time_point when);

// ": <reason>" for the platform's last error, read right after a failed call
// (errno natively, GetLastError on Windows); empty when there is none.
std::string LastErrorText();

// Standard input as bytes: Windows would otherwise treat Ctrl-Z as the end
// and change line ends.
void UseBinaryInput();

}  // namespace platform

#endif
