// Points in the platform's thread and memory operations at which a test can
// hold the calling thread, to run a race one deterministic step at a time,
// and the outcomes a test can choose for operations that cannot otherwise
// be made to fail or to answer differently.
// Only test builds (VEKLINK_TEST_SEAMS) compile them in; elsewhere each point
// is an empty inline call and each outcome the operation's own.
#ifndef VEKLINK_POSIX_SEAMS_H
#define VEKLINK_POSIX_SEAMS_H

#include <stdint.h>

namespace win {
namespace seam {

enum Point {
    kThreadStart,         // a resumed thread, before its entry routine runs
    kCodeCheck,           // IsBadCodePtr entered
    kPageQuery,           // VirtualQuery entered
    kThreadWaitTimedOut,  // WaitForSingleObject about to report a time-out
    kEventWait,           // WSAWaitForMultipleEvents entered
    kResume               // ResumeThread entered: a test may make it fail
};
typedef void (*Hook)(Point point);
// True when the operation at point is to fail.
typedef bool (*Failure)(Point point);
// The Windows Sockets version WSAStartup grants instead of granted.
typedef uint16_t (*Grant)(uint16_t granted);

#if defined(VEKLINK_TEST_SEAMS)
// Each installs its function (null removes it); it runs on the thread that
// reaches a point.
void SetHook(Hook hook);
void SetFailure(Failure failure);
void SetGrant(Grant grant);
void Reach(Point point);
bool Fails(Point point);
uint16_t Granted(uint16_t granted);
#else
inline void Reach(Point) {}
inline bool Fails(Point) { return false; }
inline uint16_t Granted(uint16_t granted) { return granted; }
#endif

}  // namespace seam
}  // namespace win

#endif
