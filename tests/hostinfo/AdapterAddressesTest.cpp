#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VekLink.h"
#include "support/HostFacts.h"
#include "support/Memory.h"
#include "support.h"

namespace {

constexpr int kCardSize = VEK_ADAPTER_ADDRESS_SIZE;
constexpr unsigned char kUnwritten = 0xA5;
// Room for every adapter the query can report, and one more.
constexpr int kRoom = kCardSize * (VEK_MAX_ADAPTERS + 1);

std::vector<std::string> Cards(const unsigned char* cards, int count) {
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) result.push_back(support::Mac(cards + kCardSize * i));
    return result;
}

// The hardware addresses of the addressed interfaces, from the platform's
// own tables, in interface order.
std::vector<std::string> ExpectedCards() {
    std::vector<std::string> result;
    for (const test::HardwareAddress& address : test::AdapterAddresses())
        result.push_back(support::Mac(address.data()));
    return result;
}

bool AllUnwritten(const unsigned char* bytes, std::size_t size) {
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == kUnwritten; });
}

TEST(NetCard, CountAndFillingCallsReportEveryAddressedAdapter) {
    const std::vector<std::string> expected = ExpectedCards();
    const int count = VekGetNetCard(nullptr);
    ASSERT_EQ(static_cast<int>(expected.size()), count);

    std::vector<unsigned char> cards(kRoom, kUnwritten);
    ASSERT_EQ(count, VekGetNetCard(cards.data()));
    EXPECT_EQ(expected, Cards(cards.data(), count));
    EXPECT_TRUE(AllUnwritten(cards.data() + kCardSize * count, cards.size() - kCardSize * count));
}

TEST(NetCard, ReportsTheLayoutsAdapters) {
    const std::string layout = test::Layout();
    if (layout.empty()) GTEST_SKIP() << "VEKLINK_LAYOUT not set (run through scripts/with-layout)";
    std::vector<unsigned char> cards(kRoom, kUnwritten);
    const int count = VekGetNetCard(cards.data());
    if (layout == "loopback") EXPECT_EQ(0, count);
    if (layout == "one")
        EXPECT_EQ(std::vector<std::string>{"02:11:22:33:44:55"}, Cards(cards.data(), count));
    if (layout == "two")
        EXPECT_EQ((std::vector<std::string>{"02:11:22:33:44:55", "02:11:22:33:44:66"}),
                  Cards(cards.data(), count));
    if (layout == "eight") EXPECT_EQ(7, count);
    if (layout == "many") EXPECT_EQ(8, count);
}

// The destination is tested for the bytes written and nothing more: 6 per
// adapter up to an inaccessible page is enough, one byte less is not.
TEST(NetCard, DestinationMustBeWritableForSixBytesPerAdapter) {
    const int count = VekGetNetCard(nullptr);
    if (count == 0) GTEST_SKIP() << "no adapter on this host";

    test::GuardedBytes exact(kCardSize * count, kUnwritten);
    ASSERT_NE(nullptr, exact.data());
    EXPECT_EQ(count, VekGetNetCard(exact.data()));
    EXPECT_EQ(ExpectedCards(), Cards(exact.data(), count));

    test::GuardedBytes tooShort(kCardSize * count - 1, kUnwritten);
    ASSERT_NE(nullptr, tooShort.data());
    EXPECT_EQ(0, VekGetNetCard(tooShort.data()));
    EXPECT_TRUE(AllUnwritten(tooShort.data(), kCardSize * count - 1));

    test::GuardedBytes readOnly(kCardSize * count, kUnwritten);
    ASSERT_NE(nullptr, readOnly.data());
    ASSERT_TRUE(readOnly.MakeReadOnly());
    EXPECT_EQ(0, VekGetNetCard(readOnly.data()));
    EXPECT_TRUE(AllUnwritten(readOnly.data(), kCardSize * count));
}

}  // namespace
