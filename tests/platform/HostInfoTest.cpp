// The interface-list query and the NetBIOS commands the host queries rely
// on, checked against the platform underneath: the POSIX layer natively,
// Windows Sockets and NetBIOS under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/HostFacts.h"
#include "support/Network.h"

namespace {

constexpr DWORD kRecordSize = 76;
constexpr DWORD kRoomForAll = 64 * kRecordSize;  // more interfaces than any test host has

std::uint32_t At(const unsigned char* record, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

std::string Entry(unsigned long address, unsigned long netmask) {
    return test::Dotted(address) + "/" + test::Dotted(netmask);
}

// Runs the interface-list query into size bytes; false when it fails.
bool ListInterfaces(std::vector<unsigned char>* list, DWORD size, DWORD* bytes) {
    const SOCKET s = WSASocketA(AF_INET, SOCK_DGRAM, 0, nullptr, 0, 0);
    list->assign(size, 0);
    const int result = WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, list->data(), size, bytes,
                                nullptr, nullptr);
    closesocket(s);
    return result == 0;
}

UCHAR Command(UCHAR command, UCHAR lana, void* buffer = nullptr, WORD length = 0) {
    NCB block = {};
    block.ncb_command = command;
    block.ncb_lana_num = lana;
    block.ncb_buffer = static_cast<UCHAR*>(buffer);
    block.ncb_length = length;
    std::memset(block.ncb_callname, ' ', NCBNAMSZ);
    block.ncb_callname[0] = '*';
    return Netbios(&block);
}

}  // namespace

class HostInfo : public NetworkTest {};

// The NT family's records are 76 bytes, the address 8 bytes in and the
// netmask 56, one record for every address the platform's tables list.
TEST_F(HostInfo, InterfaceRecordsHoldAddressAndNetmaskAt8And56) {
    std::vector<unsigned char> list;
    DWORD bytes = 0;
    ASSERT_TRUE(ListInterfaces(&list, kRoomForAll, &bytes));
    ASSERT_EQ(0u, bytes % kRecordSize);
    std::vector<std::string> listed, expected;
    for (DWORD offset = 0; offset < bytes; offset += kRecordSize)
        listed.push_back(Entry(At(&list[offset], 8), At(&list[offset], 56)));
    for (const test::InterfaceAddress& a : test::InterfaceAddresses())
        expected.push_back(Entry(a.address, a.netmask));
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);
}

TEST_F(HostInfo, AnInterfaceListThatDoesNotFitFails) {
    std::vector<unsigned char> list;
    DWORD bytes = 0;
    ASSERT_TRUE(ListInterfaces(&list, kRoomForAll, &bytes));
    ASSERT_GE(bytes, kRecordSize) << "the namespace has its loopback interface";
    EXPECT_FALSE(ListInterfaces(&list, bytes - 1, &bytes));
}

// Every command on an adapter number the enumeration did not give fails.
TEST(Netbios, CommandsOnAnAdapterNumberNotEnumeratedFail) {
    LANA_ENUM numbers = {};
    ASSERT_EQ(NRC_GOODRET, Command(NCBENUM, 0, &numbers, sizeof numbers));
    UCHAR unknown = 0;
    while (std::count(numbers.lana, numbers.lana + numbers.length, unknown)) ++unknown;
    unsigned char status[600];
    EXPECT_NE(NRC_GOODRET, Command(NCBRESET, unknown));
    EXPECT_NE(NRC_GOODRET, Command(NCBASTAT, unknown, status, sizeof status));
}
