// Points in the platform's thread and memory operations at which a test can
// hold the calling thread, to run a race one deterministic step at a time.
// Only test builds (VEKLINK_TEST_SEAMS) compile them in; elsewhere each point
// is an empty inline call.
#ifndef VEKLINK_POSIX_SEAMS_H
#define VEKLINK_POSIX_SEAMS_H

namespace win {
namespace seam {

enum Point {
    kThreadStart,        // a resumed thread, before its entry routine runs
    kCodeCheck,          // IsBadCodePtr entered
    kPageQuery,          // VirtualQuery entered
    kThreadWaitTimedOut,  // WaitForSingleObject about to report a time-out
    kEventWait            // WSAWaitForMultipleEvents entered
};
typedef void (*Hook)(Point point);

#if defined(VEKLINK_TEST_SEAMS)
// Installs hook (null removes it); it runs on the thread that reaches a point.
void SetHook(Hook hook);
void Reach(Point point);
#else
inline void Reach(Point) {}
#endif

}  // namespace seam
}  // namespace win

#endif
