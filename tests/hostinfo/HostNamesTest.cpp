#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "VekLink.h"
#include "support/HostFacts.h"
#include "support/Peer.h"

namespace {

// Wine answers gethostname without a start-up; Windows and the POSIX layer
// refuse it, so only they are held to the refusal.
TEST(HostName, NeedsTheSocketLayer) {
    char name[VEK_HOST_NAME_SIZE];
    if (!test::UnderWine()) EXPECT_EQ(0, VekGetHostName(name)) << "before VekInitInstance";

    ASSERT_EQ(1, VekInitInstance());
    std::memset(name, 0x7F, sizeof name);
    EXPECT_EQ(1, VekGetHostName(name));
    ASSERT_NE(nullptr, std::memchr(name, '\0', sizeof name)) << "name not terminated";
    EXPECT_EQ(test::HostName(), name);
    EXPECT_EQ(0, VekGetHostName(nullptr)) << "a null buffer is refused, not written";
    EXPECT_EQ(1, VekExitInstance());

    if (!test::UnderWine()) EXPECT_EQ(0, VekGetHostName(name)) << "after the last VekExitInstance";
}

TEST(CompName, WorksWithoutStartUpAndNeedsRoomForTheTerminator) {
    const std::string expected = test::ComputerName();
    ASSERT_FALSE(expected.empty());
    std::vector<char> buffer(expected.size() + 16, 0x7F);

    EXPECT_NE(0, VekGetCompName(buffer.data(), static_cast<unsigned long>(buffer.size())));
    EXPECT_STREQ(expected.c_str(), buffer.data());
    EXPECT_NE(0, VekGetCompName(buffer.data(), static_cast<unsigned long>(expected.size() + 1)))
        << "name and terminator fit exactly";
    EXPECT_EQ(0, VekGetCompName(buffer.data(), static_cast<unsigned long>(expected.size())))
        << "no room for the terminator";
    EXPECT_EQ(0, VekGetCompName(nullptr, 256)) << "a null buffer is refused, not written";
}

}  // namespace
