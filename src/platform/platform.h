// The one place that brings in operating-system declarations. The library
// core calls the platform only through the Windows Sockets, Win32 and NetBIOS
// names declared here: the real ones on Windows; elsewhere the POSIX layer's
// for what only Windows has, and the system's own for what both share.
#ifndef VEKLINK_PLATFORM_H
#define VEKLINK_PLATFORM_H

#if defined(_WIN32)
#  include <winsock2.h>
#  include <ws2tcpip.h>
#  include <windows.h>
#  include <nb30.h>
#else
#  include "posix/winapi.h"
#endif

#endif
