#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VekLink.h"
#include "support/HostFacts.h"
#include "support/Network.h"
#include "support/Peer.h"

namespace {

constexpr std::size_t kRecords = VEK_MAX_INTERFACES;
const unsigned long kUnwritten = 0xA5A5A5A5ul;

std::string Entry(unsigned long address, unsigned long netmask) {
    return test::Dotted(address) + "/" + test::Dotted(netmask);
}

// The usable entries the platform's own tables hold, sorted: every address
// but 127.0.0.1 and 0.0.0.0, or none when the records overflow.
std::vector<std::string> ExpectedEntries() {
    const std::vector<test::InterfaceAddress> all = test::InterfaceAddresses();
    std::vector<std::string> usable;
    if (all.size() > kRecords) return usable;
    for (const test::InterfaceAddress& a : all)
        if (a.address != test::Ipv4("127.0.0.1") && a.address != 0)
            usable.push_back(Entry(a.address, a.netmask));
    std::sort(usable.begin(), usable.end());
    return usable;
}

// The entries scripts/with-layout gives each layout, sorted.
std::vector<std::string> LayoutEntries(const std::string& layout) {
    if (layout == "one") return {"198.51.100.7/255.255.255.0"};
    if (layout == "two")
        return {"127.0.0.2/255.0.0.0", "198.51.100.7/255.255.255.0", "203.0.113.9/255.255.255.0"};
    if (layout == "eight") {
        // 127.0.0.1 and seven more fill the 8 records exactly.
        std::vector<std::string> entries;
        for (int i = 0; i < 7; ++i)
            entries.push_back("198.51.100." + std::to_string(16 * i + 1) + "/255.255.255.240");
        std::sort(entries.begin(), entries.end());
        return entries;
    }
    return {};  // loopback only, and one record more than fits ("many")
}

class HostIP : public NetworkTest {
protected:
    // Runs the filling call on arrays one longer than any result can be and
    // returns its entries sorted; slots past the result must stay unwritten.
    std::vector<std::string> Fill(int expectedCount, bool withNetmasks) {
        std::vector<unsigned long> addresses(kRecords + 1, kUnwritten);
        std::vector<unsigned long> netmasks(kRecords + 1, kUnwritten);
        EXPECT_EQ(expectedCount,
                  VekGetHostIP(addresses.data(), withNetmasks ? netmasks.data() : nullptr));
        std::vector<std::string> entries;
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (i < static_cast<std::size_t>(expectedCount)) {
                entries.push_back(Entry(addresses[i], withNetmasks ? netmasks[i] : 0));
            } else {
                EXPECT_EQ(kUnwritten, addresses[i]) << "address slot " << i;
                EXPECT_EQ(kUnwritten, netmasks[i]) << "netmask slot " << i;
            }
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }
};

TEST_F(HostIP, CountAndFillingCallsAgreeWithThePlatformTables) {
    const std::vector<std::string> expected = ExpectedEntries();
    const int count = VekGetHostIP(nullptr, nullptr);
    EXPECT_EQ(static_cast<int>(expected.size()), count);
    EXPECT_EQ(expected, Fill(count, true));
}

TEST_F(HostIP, ReportsTheLayoutsUsableEntries) {
    const std::string layout = test::Layout();
    if (layout.empty()) GTEST_SKIP() << "VEKLINK_LAYOUT not set (run through scripts/with-layout)";
    const std::vector<std::string> expected = LayoutEntries(layout);
    EXPECT_EQ(static_cast<int>(expected.size()), VekGetHostIP(nullptr, nullptr));
    EXPECT_EQ(expected, Fill(static_cast<int>(expected.size()), true));
}

TEST_F(HostIP, NullNetmasksWritesOnlyAddresses) {
    std::vector<std::string> expected;
    for (const std::string& entry : ExpectedEntries())
        expected.push_back(entry.substr(0, entry.find('/')) + "/0.0.0.0");
    EXPECT_EQ(expected, Fill(static_cast<int>(expected.size()), false));
}

TEST_F(HostIP, QueriesLeaveNothingOpenWhetherTheyFailOrNot) {
    // In the "many" layout every query fails: the failure path must close
    // its socket as well.
    ExpectNothingLeft();
    unsigned long addresses[kRecords], netmasks[kRecords];
    for (int i = 0; i < 10; ++i) {
        VekGetHostIP(nullptr, nullptr);
        VekGetHostIP(addresses, netmasks);
    }
}

}  // namespace
