// One record of the interface list (SIO_GET_INTERFACE_LIST) as both Windows
// platform families return it, and as the POSIX layer produces it: a flags
// word, then the address, the broadcast address and the netmask, each in a
// 24-byte socket-address slot holding a sockaddr_in, whose IPv4 address sits
// 4 bytes into the slot. The core reads the records; the POSIX layer writes
// them.
#ifndef VEKLINK_PLATFORM_INTERFACE_RECORD_H
#define VEKLINK_PLATFORM_INTERFACE_RECORD_H

namespace interface_record {

constexpr unsigned kSize = 76;
constexpr unsigned kAddressSlot = 4;
constexpr unsigned kNetmaskSlot = 52;
constexpr unsigned kAddressOffset = kAddressSlot + 4;
constexpr unsigned kNetmaskOffset = kNetmaskSlot + 4;

}  // namespace interface_record

#endif
