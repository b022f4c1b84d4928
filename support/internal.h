// What the process files share among themselves.
#ifndef VEKLINK_SUPPORT_INTERNAL_H
#define VEKLINK_SUPPORT_INTERNAL_H

namespace support {

// Sets the flag StopRequested reads; safe in a signal handler and on the
// console's control thread.
void RequestStop();

}  // namespace support

#endif
