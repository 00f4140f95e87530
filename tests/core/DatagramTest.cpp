#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "core/ClientCore.h"
#include "platform/Registry.h"
#include "support/LogCapture.h"
#include "support/Loopback.h"

namespace {

// A plain UDP socket on 127.0.0.1 with a port the system picked.
class RawUdp {
public:
    RawUdp()
    {
        mFd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = bcxtest::LoopbackAddress(0);
        ::bind(mFd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t len = sizeof local;
        ::getsockname(mFd, reinterpret_cast<sockaddr*>(&local), &len);
        mPort = ntohs(local.sin_port);
    }
    ~RawUdp() { ::close(mFd); }

    uint16_t Port() const { return mPort; }

    void SendTo(uint16_t port, const std::string& bytes)
    {
        sockaddr_in to = bcxtest::LoopbackAddress(port);
        ASSERT_EQ(::sendto(mFd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Waits up to timeoutMs for one datagram; false when none came.
    bool Receive(std::string& bytes, sockaddr_in& from, int timeoutMs = 2000)
    {
        pollfd pfd{mFd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) != 1)
            return false;
        char buffer[2048];
        socklen_t len = sizeof from;
        ssize_t got = ::recvfrom(mFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (got < 0)
            return false;
        bytes.assign(buffer, static_cast<size_t>(got));
        return true;
    }

private:
    int mFd;
    uint16_t mPort;
};

ClientCore* CreateCore(const std::string& net = "DatagramPort=0\n")
{
    bcx::SetFakeRegistryForTesting(false, std::nullopt);
    std::ofstream("bcxClient.ini", std::ios::binary) << "[Net]\n" << net;
    return ClientCore::Get(false);
}

std::string AddressText(const sockaddr_in& a)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string Target(int broadcast, int localhost, const std::string& custom)
{
    ClientSettings settings;
    settings.mUseBroadcast = broadcast;
    settings.mUseLocalhost = localhost;
    settings.mCustomAddress = custom;
    sockaddr_in to;
    std::memset(&to, 0xEE, sizeof to);
    if (!ClientCore::ComputeLanTarget(settings, to))
        return "refused";
    EXPECT_EQ(to.sin_family, AF_INET);
    return AddressText(to);
}

TEST(Datagram, LanTargetFollowsTheThreeSettings)
{
    EXPECT_EQ(ClientCore::LanPort(), 6112);
    // Broadcast wins over localhost.
    EXPECT_EQ(Target(1, 1, "10.1.2.3"), "255.255.255.255:6112");
    EXPECT_EQ(Target(0, 1, "10.1.2.3"), "127.0.0.1:6112");
    // Only the value 1 switches either way on.
    EXPECT_EQ(Target(2, 1, "10.1.2.3"), "127.0.0.1:6112");
    EXPECT_EQ(Target(-1, 2, "10.1.2.3"), "10.1.2.3:6112");
    EXPECT_EQ(Target(0, 0, "192.168.0.5"), "192.168.0.5:6112");
    // A part above 255 carries into the part before it.
    EXPECT_EQ(Target(0, 0, "10.0.0.256"), "10.0.1.0:6112");
    // An address that does not read is refused.
    EXPECT_EQ(Target(0, 0, "lan.example"), "refused");
    EXPECT_EQ(Target(0, 0, "10.0.0"), "refused");
    EXPECT_EQ(Target(0, 0, ""), "refused");
    // Neither switch matters for the refusal when one of them is on.
    EXPECT_EQ(Target(0, 1, "garbage"), "127.0.0.1:6112");

    ClientCore::SetLanPortForTesting(12345);
    EXPECT_EQ(Target(0, 0, "192.168.0.5"), "192.168.0.5:12345");
    EXPECT_EQ(Target(1, 0, ""), "255.255.255.255:12345");
}

TEST(Datagram, AddresslessSendGoesToLocalhostOnTheLanPort)
{
    RawUdp warcraft;
    ClientCore::SetLanPortForTesting(warcraft.Port());
    ClientCore* core = CreateCore("DatagramPort=0\nUseBroadcast=0\nUseLocalhost=1\n");
    ASSERT_NE(core, nullptr);
    const uint16_t corePort = core->DatagramLocalPort();
    ASSERT_NE(corePort, 0);

    bcxtest::LogCapture log;
    core->DatagramSendTo("\xF7\x30\x05\x00x", 5);
    std::string bytes;
    sockaddr_in from;
    ASSERT_TRUE(warcraft.Receive(bytes, from));
    EXPECT_EQ(bytes, std::string("\xF7\x30\x05\x00x", 5));
    EXPECT_EQ(AddressText(from), "127.0.0.1:" + std::to_string(corePort));

    // A custom address that does not read: refused with a log line, nothing sent. The next datagram (to
    // localhost again) is the first to arrive.
    core->Settings().mUseLocalhost = 0;
    core->Settings().mCustomAddress = "not.an.address";
    core->DatagramSendTo("lost", 4);
    EXPECT_TRUE(log.Contains("ClientCore::DatagramSendTo: CustomAddress \"not.an.address\" is not an address"));
    core->Settings().mCustomAddress = "127.0.0.1";
    core->DatagramSendTo("next", 4);
    ASSERT_TRUE(warcraft.Receive(bytes, from));
    EXPECT_EQ(bytes, "next");

    ClientCore::Get(true);
}

TEST(Datagram, ReceiveKeepsUpTo64BytesWithTheSenderAndDropsLongerOnes)
{
    ClientCore* core = CreateCore();
    ASSERT_NE(core, nullptr);
    const uint16_t corePort = core->DatagramLocalPort();
    ASSERT_NE(corePort, 0);

    char* data = reinterpret_cast<char*>(1);
    int32_t length = 99;
    sockaddr_in* from = reinterpret_cast<sockaddr_in*>(1);
    // Nothing waits: false, nothing handed out.
    EXPECT_FALSE(core->DatagramReceive(data, length, from));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(from, nullptr);
    EXPECT_EQ(length, 0);

    RawUdp peer;
    std::string exact(64, '\0');
    for (size_t i = 0; i < exact.size(); ++i)
        exact[i] = static_cast<char>(i * 7 + 1);
    peer.SendTo(corePort, std::string(100, 'L'));
    peer.SendTo(corePort, std::string(65, 'M'));
    peer.SendTo(corePort, exact);
    peer.SendTo(corePort, "z");

    // The two long datagrams are consumed and dropped; the first one handed out is the 64-byte one.
    std::vector<std::string> received;
    std::vector<std::string> senders;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        if (!core->DatagramReceive(data, length, from)) {
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(from, nullptr);
            EXPECT_EQ(length, 0);
            continue;
        }
        ASSERT_NE(data, nullptr);
        ASSERT_NE(from, nullptr);
        ASSERT_GE(length, 1);
        ASSERT_LE(length, 64);
        received.emplace_back(data, static_cast<size_t>(length));
        senders.push_back(AddressText(*from));
        // The buffer is the full 64 bytes whatever the datagram's length (ASan checks the access).
        data[63] = 0;
        DeleteAndNull(data);
        DeleteAndNull(from);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(from, nullptr);
    }
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], exact);
    EXPECT_EQ(received[1], "z");
    EXPECT_EQ(senders[0], "127.0.0.1:" + std::to_string(peer.Port()));
    EXPECT_EQ(senders[1], senders[0]);

    EXPECT_FALSE(core->DatagramReceive(data, length, from));
    ClientCore::Get(true);
}

TEST(Datagram, SendFailureIsLogged)
{
    ClientCore* core = CreateCore();
    ASSERT_NE(core, nullptr);
    RawUdp peer;
    bcxtest::LogCapture log;

    // Larger than any UDP datagram.
    std::vector<char> huge(70000, 'x');
    core->DatagramSendTo(huge.data(), static_cast<int32_t>(huge.size()), bcxtest::LoopbackAddress(peer.Port()));
    EXPECT_TRUE(log.Contains("ClientCore::DatagramSendTo: could not send (error: " + std::to_string(EMSGSIZE) + ")"));

    log.Clear();
    core->DatagramSendTo("abc", -1, bcxtest::LoopbackAddress(peer.Port()));
    EXPECT_TRUE(log.Contains("ClientCore::DatagramSendTo: could not send (error: "));

    // After closing, a send reports the error instead of reaching the peer.
    log.Clear();
    core->CloseDatagramSocket();
    EXPECT_EQ(core->DatagramLocalPort(), 0);
    core->DatagramSendTo("abc", 3, bcxtest::LoopbackAddress(peer.Port()));
    EXPECT_TRUE(log.Contains("ClientCore::DatagramSendTo: could not send (error: " + std::to_string(EBADF) + ")"));
    char* data = nullptr;
    int32_t length = 5;
    sockaddr_in* from = nullptr;
    EXPECT_FALSE(core->DatagramReceive(data, length, from));
    EXPECT_EQ(length, 0);
    ClientCore::Get(true);
}

TEST(Datagram, TakenDatagramPortStillSends)
{
    // Another program holds the port on every address.
    int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any;
    std::memset(&any, 0, sizeof any);
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    socklen_t len = sizeof any;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&any), &len);
    const uint16_t taken = ntohs(any.sin_port);

    bcxtest::LogCapture log;
    ClientCore* core = CreateCore("DatagramPort=" + std::to_string(taken) + "\n");
    ASSERT_NE(core, nullptr);
    // Said in the user's words: which port, why, and the setting that changes it.
    EXPECT_TRUE(log.Contains("UDP port " + std::to_string(taken) +
                             ", the port for Warcraft III's LAN game searches, is in use, perhaps by another copy "
                             "of Brawlcast: this copy still announces its games but does not hear the searches. "
                             "The setting DatagramPort under [Net] in bcxClient.ini chooses another port."));

    RawUdp warcraft;
    core->DatagramSendTo("hi", 2, bcxtest::LoopbackAddress(warcraft.Port()));
    std::string bytes;
    sockaddr_in from;
    ASSERT_TRUE(warcraft.Receive(bytes, from));
    EXPECT_EQ(bytes, "hi");
    EXPECT_NE(ntohs(from.sin_port), taken);

    ClientCore::Get(true);
    ::close(holder);
}

} // namespace
