// Test support for the host queries: which host layout the test runs on, and
// the host's interfaces and adapters read without the library (natively from
// the kernel, on Windows from the IP helper tables).
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

}  // namespace test

#endif
