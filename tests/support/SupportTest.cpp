// The support layer's contracts, natively and under Wine: what its callers
// (the tool, the tests' peer, the demo, the benchmarks) take on trust.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "support.h"

namespace {

class Support : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(support::StartSockets()); }
    void TearDown() override { support::StopSockets(); }

    const unsigned long loopback = support::Ipv4("127.0.0.1");
};

TEST(SupportText, OnlyStrictDottedQuadsAreAddresses) {
    const struct {
        const char* text;
        bool parses;
    } cases[] = {{"127.0.0.1", true},  {"0.0.0.0", true},     {"255.255.255.255", true},
                 {"10.1", false},      {"0x7f.0.0.1", false}, {"1..2.3", false},
                 {"1.2.3.256", false}, {"1.2.3.4.", false},   {"01234.1.1.1", false},
                 {"", false},          {"1.2.3.4 ", false}};
    for (const auto& c : cases) {
        unsigned long address = 0;
        EXPECT_EQ(c.parses, support::ParseIpv4(c.text, &address)) << c.text;
        if (c.parses) EXPECT_EQ(c.text, support::Dotted(address));
    }
    const std::uint32_t loopback = static_cast<std::uint32_t>(support::Ipv4("127.0.0.1"));
    EXPECT_EQ(0, std::memcmp(&loopback, "\x7f\x00\x00\x01", 4)) << "network byte order";
    EXPECT_EQ(0xFFFFFFFFul, support::Ipv4("localhost"));
    EXPECT_EQ("127.0.0.1:65535", support::Endpoint(support::Ipv4("127.0.0.1"), 65535));
}

TEST(SupportText, HexJsonAndHardwareAddressesAreSpelledExactly) {
    const std::string bytes("\x00\x7f\x80\xff", 4);
    EXPECT_EQ("00 7f 80 ff", support::Hex(bytes, " "));
    std::string back;
    ASSERT_TRUE(support::ParseHex("007F80fF", &back));
    EXPECT_EQ(bytes, back);
    EXPECT_FALSE(support::ParseHex("abc", &back));
    EXPECT_FALSE(support::ParseHex("0g", &back));
    EXPECT_EQ("\"a\\\"\\\\\\n\\r\\t\\u0001\\u007fé\"", support::JsonString("a\"\\\n\r\t\x01\x7f"
                                                                           "é"));
    const unsigned char mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0xAB};
    EXPECT_EQ("02:11:22:33:44:ab", support::Mac(mac));
}

TEST_F(Support, ABoundPortIsFoundAndATakenOneReadsAsInUse) {
    const support::Socket s = support::OpenUdp(loopback, 0);
    ASSERT_NE(support::kNoSocket, s);
    const int port = support::BoundPort(s);
    ASSERT_GT(port, 0);
    EXPECT_EQ(s, support::FindSocketOfPort(port));
    const support::Socket second = support::NewUdp();
    ASSERT_NE(support::kNoSocket, second);
    EXPECT_FALSE(support::Bind(second, loopback, port));
    EXPECT_EQ(support::ErrorKind::kInUse, support::KindOf(support::LastError()));
    EXPECT_FALSE(support::ErrorText(support::LastError()).empty());
    support::Close(second);
    support::Close(s);
}

TEST_F(Support, ARaisedReceiveBufferIsNeverLowered) {
    const support::Socket s = support::OpenUdp(loopback, 0);
    ASSERT_NE(support::kNoSocket, s);
    const int before = support::BufferSize(s, true);
    ASSERT_GT(before, 0);
    EXPECT_EQ(before, support::RaiseRecvBuffer(s, 1024));
    EXPECT_GT(support::RaiseRecvBuffer(s, before + 1), before);
    support::Close(s);
}

TEST_F(Support, ASocketWaitEndsOnADatagramAndOnWake) {
    const support::Socket receiver = support::OpenUdp(loopback, 0);
    const support::Socket sender = support::OpenUdp(loopback, 0);
    ASSERT_NE(support::kNoSocket, receiver);
    support::SocketWait wait(receiver);
    ASSERT_TRUE(wait.Valid());
    ASSERT_TRUE(support::SendTo(sender, "x", 1, loopback, support::BoundPort(receiver)));
    EXPECT_EQ(support::SocketWait::kReadable, wait.Wait());
    char byte = 0;
    unsigned long from = 0;
    int fromPort = 0;
    EXPECT_EQ(1, support::RecvFrom(receiver, &byte, 1, &from, &fromPort));
    EXPECT_EQ(loopback, from);
    EXPECT_EQ(support::BoundPort(sender), fromPort);
    // Should Wake not end the wait, a datagram does, three seconds on.
    std::atomic<bool> returned{false};
    std::thread fallback([&] {
        for (int i = 0; i < 300 && !returned; ++i) support::SleepMs(10);
        if (!returned) support::SendTo(sender, "x", 1, loopback, support::BoundPort(receiver));
    });
    std::thread([&] { wait.Wake(); }).join();
    EXPECT_EQ(support::SocketWait::kWoken, wait.Wait());
    returned = true;
    fallback.join();
    support::Close(sender);
    support::Close(receiver);
}

TEST_F(Support, LoopbackIsListedAndLocalhostResolves) {
    bool listed = false;
    for (const support::NetworkInterface& i : support::ListInterfaces())
        for (unsigned long address : i.addresses) listed = listed || (address == loopback && i.up);
    EXPECT_TRUE(listed);
    unsigned long address = 0;
    std::string reason;
    EXPECT_EQ(support::Lookup::kFound, support::LookUpIpv4("localhost", &address, &reason))
        << reason;
    EXPECT_EQ(loopback, address);
    EXPECT_TRUE(support::IsNumericAddress("127.0.0.1"));
    EXPECT_FALSE(support::IsNumericAddress("localhost"));
}

TEST(SupportProcess, AThreadsCpuClockMovesWithWork) {
    support::CpuClock clock = support::ThreadCpuClock();
    ASSERT_TRUE(clock.valid);
    const double start = support::CpuSeconds(clock);
    volatile unsigned long spin = 0;
    while (support::CpuSeconds(clock) - start < 0.05 && spin < 20000000ul) ++spin;
    EXPECT_GE(support::CpuSeconds(clock) - start, 0.05);
    support::ReleaseCpuClock(clock);
}

TEST_F(Support, HandlesAndThreadsAreCounted) {
    const long handles = support::HeldHandles(), threads = support::HeldThreads();
    ASSERT_GT(handles, 0);
    ASSERT_GT(threads, 0);
    const support::Socket s = support::NewUdp();
    ASSERT_NE(support::kNoSocket, s);
    EXPECT_GT(support::HeldHandles(), handles);
    support::Close(s);
}

TEST_F(Support, ATraceMarkHoldsNothingAfterwards) {
    // Windows opens the directory of named objects once, at the first name.
    support::MarkInTrace("veklink-count begin test");
    const long handles = support::HeldHandles();
    ASSERT_GT(handles, 0);
    for (int i = 0; i < 3; ++i) support::MarkInTrace("veklink-count begin test");
    EXPECT_EQ(handles, support::HeldHandles());
}

}  // namespace
