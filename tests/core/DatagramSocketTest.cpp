// The polled UDP socket and the dotted-address arithmetic, on 127.0.0.1 only.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>

#include "platform/DatagramSocket.h"
#include "support/Loopback.h"

namespace {

using bcx::DatagramSocket;
using bcx::ParseDottedAddress;

// Waits (bounded) until the socket is readable, then polls Receive until it keeps a datagram.
bool ReceiveSoon(DatagramSocket& s, std::vector<char>& data, sockaddr_in& from)
{
    for (int i = 0; i < 20; ++i) {
        pollfd pfd{s.Handle(), POLLIN, 0};
        ::poll(&pfd, 1, 100);
        if (s.Receive(data, from))
            return true;
    }
    return false;
}

TEST(DatagramSocketTest, LongDatagramDroppedAndSixtyFourBytesKept)
{
    DatagramSocket s;
    const uint16_t port = bcxtest::FreeUdpPort();
    ASSERT_TRUE(s.Open(port));
    EXPECT_EQ(s.LocalPort(), port);

    std::vector<char> data{'x'};
    sockaddr_in from;
    EXPECT_FALSE(s.Receive(data, from));  // nothing waits
    EXPECT_TRUE(data.empty());

    bcxtest::LoopbackUdp peer;
    ASSERT_TRUE(peer.Open());
    ASSERT_TRUE(peer.SendTo(port, std::string(100, 'L')));
    ASSERT_TRUE(peer.SendTo(port, std::string(65, 'M')));
    const std::string kept(64, 'K');
    ASSERT_TRUE(peer.SendTo(port, kept));

    ASSERT_TRUE(ReceiveSoon(s, data, from));
    EXPECT_EQ(std::string(data.begin(), data.end()), kept);
    EXPECT_EQ(from.sin_family, AF_INET);
    EXPECT_EQ(ntohs(from.sin_port), peer.Port());
    EXPECT_EQ(ntohl(from.sin_addr.s_addr), INADDR_LOOPBACK);
    // The two long ones were consumed and dropped, not left waiting.
    EXPECT_FALSE(s.Receive(data, from));

    // An empty datagram is not a datagram of the protocol either.
    ASSERT_TRUE(peer.SendTo(port, "", 0));
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(s.Receive(data, from));
    ASSERT_TRUE(peer.SendTo(port, "ab", 2));
    ASSERT_TRUE(ReceiveSoon(s, data, from));
    EXPECT_EQ(std::string(data.begin(), data.end()), "ab");
}

TEST(DatagramSocketTest, SendReachesTheAddress)
{
    DatagramSocket s;
    ASSERT_TRUE(s.Open(bcxtest::FreeUdpPort()));
    bcxtest::LoopbackUdp peer;
    ASSERT_TRUE(peer.Open());
    const sockaddr_in to = bcxtest::LoopbackAddress(peer.Port());
    EXPECT_EQ(s.SendTo("\xF7\x2F\x10\x00", 4, to), 4);
    std::string got;
    uint16_t fromPort = 0;
    ASSERT_TRUE(peer.Receive(got, fromPort));
    EXPECT_EQ(got, std::string("\xF7\x2F\x10\x00", 4));
    EXPECT_EQ(fromPort, s.LocalPort());
}

TEST(DatagramSocketTest, TakenPortStillSends)
{
    bcxtest::LoopbackUdp holder;
    ASSERT_TRUE(holder.Open());
    const uint16_t port = holder.Port();

    DatagramSocket second;
    EXPECT_FALSE(second.Open(port));
    ASSERT_TRUE(second.IsOpen());

    bcxtest::LoopbackUdp target;
    ASSERT_TRUE(target.Open());
    EXPECT_EQ(second.SendTo("hi", 2, bcxtest::LoopbackAddress(target.Port())), 2);
    std::string got;
    uint16_t fromPort = 0;
    ASSERT_TRUE(target.Receive(got, fromPort));
    EXPECT_EQ(got, "hi");
    EXPECT_NE(fromPort, port);
    EXPECT_NE(fromPort, 0);
    EXPECT_EQ(second.LocalPort(), fromPort);

    // It hears nothing sent to the taken port; the holder does.
    ASSERT_TRUE(target.SendTo(port, "search", 6));
    std::vector<char> data;
    sockaddr_in from;
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(second.Receive(data, from));
    ASSERT_TRUE(holder.Receive(got, fromPort));
    EXPECT_EQ(got, "search");
}

TEST(DatagramSocketTest, CloseAndReopen)
{
    DatagramSocket s;
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Handle(), -1);
    EXPECT_EQ(s.LocalPort(), 0);
    std::vector<char> data;
    sockaddr_in from;
    EXPECT_FALSE(s.Receive(data, from));
    errno = 0;
    EXPECT_EQ(s.SendTo("x", 1, bcxtest::LoopbackAddress(9)), -1);
    EXPECT_EQ(errno, EBADF);

    const uint16_t port = bcxtest::FreeUdpPort();
    ASSERT_TRUE(s.Open(port));
    s.Close();
    EXPECT_EQ(s.Handle(), -1);
    s.Close();  // twice is harmless
    // The port is free again after the close.
    ASSERT_TRUE(s.Open(port));
    ASSERT_TRUE(s.Open(port));  // reopening closes the old socket first
    EXPECT_EQ(s.LocalPort(), port);
}

TEST(DottedAddressTest, Arithmetic)
{
    uint32_t a = 0;
    ASSERT_TRUE(ParseDottedAddress("192.168.0.5", a));
    EXPECT_EQ(a, 0xC0A80005u);
    ASSERT_TRUE(ParseDottedAddress("10.0.0.256", a));
    EXPECT_EQ(a, 0x0A000100u);  // 10.0.1.0
    ASSERT_TRUE(ParseDottedAddress(" 127.0.0.1\n", a));
    EXPECT_EQ(a, 0x7F000001u);
    ASSERT_TRUE(ParseDottedAddress("255.255.255.255", a));
    EXPECT_EQ(a, 0xFFFFFFFFu);
    ASSERT_TRUE(ParseDottedAddress("0.0.1.300", a));
    EXPECT_EQ(a, 256u + 300u);
}

TEST(DottedAddressTest, JunkIsRefusedAndLeavesTheResult)
{
    uint32_t a = 0x12345678;
    for (const char* junk : {"", "junk", "1.2.3", "1.2.3.4.5", "1.2..4", "1.2.3.x", "1.2.3.4x", "-1.2.3.4",
                             "+1.2.3.4", "1 .2.3.4", "1.2.3.", "a.b.c.d", "99999999999.0.0.1", "0x10.0.0.1"}) {
        EXPECT_FALSE(ParseDottedAddress(junk, a)) << junk;
        EXPECT_EQ(a, 0x12345678u) << junk;
    }
}

} // namespace
