// Points at which a test build of the tool (VEKLINK_TEST_SEAMS) lets a test
// hold it, as the library's test builds do; the shipped tool compiles each
// into an empty inline call and reads no test variable.
#ifndef VEKLINK_TOOL_SEAMS_H
#define VEKLINK_TOOL_SEAMS_H

#if defined(VEKLINK_TEST_SEAMS)
// With VEKLINK_HOLD_PICKED_PORT naming a file, writes a picked port to that
// file and waits (at most 10 s) until the file is gone: a test takes the port
// in that moment, which no timing could arrange.
void HoldPickedPort(int port);
#else
inline void HoldPickedPort(int) {}
#endif

#endif
