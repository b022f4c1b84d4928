// Test support for the host queries: which host layout the test runs on, and
// the host's interfaces, adapters and group memberships read without the
// library, and without the support layer's own reading of them (natively
// from the kernel, HostFactsPosix.cpp; on Windows from the IP helper tables,
// HostFactsWindows.cpp): an independent oracle.
#ifndef VEKLINK_TEST_HOSTFACTS_H
#define VEKLINK_TEST_HOSTFACTS_H

#include <array>
#include <string>
#include <vector>

namespace test {

// The layout scripts/with-layout built, from VEKLINK_LAYOUT: "loopback",
// "one", "two", "many", or empty when the test runs elsewhere.
std::string Layout();

struct InterfaceAddress {
    unsigned long address;  // network byte order
    unsigned long netmask;
};
typedef std::array<unsigned char, 6> HardwareAddress;

// Every IPv4 address of an interface that is up, loopback included.
std::vector<InterfaceAddress> InterfaceAddresses();
// Hardware addresses of the interfaces other than loopback that have an
// IPv4 address, in the order of the interfaces.
std::vector<HardwareAddress> AdapterAddresses();
std::string ComputerName();
// The host name as the platform's own socket layer reports it.
std::string HostName();
// Whether the host has joined group, as the kernel lists its memberships.
// Wine's sockets live in the wineserver, out of a Windows program's sight:
// always false there, so ask only natively.
bool JoinedGroup(unsigned long group);

}  // namespace test

#endif
