// The host name as the socket layer reports it and the computer name as the
// operating system reports it.
#include "VekLink.h"
#include "platform/platform.h"

int VekGetHostName(char* buffer) {
    return buffer && gethostname(buffer, VEK_HOST_NAME_SIZE) == 0 ? 1 : 0;
}

// The caller's size, passed by value, serves as the platform call's in/out
// size, so the length the platform writes back is not passed on.
// A null buffer is refused here: the platform call would write through it.
int VekGetCompName(char* buffer, unsigned long size) {
    return buffer ? GetComputerNameA(buffer, &size) : 0;
}
