// Self-tests of the test LAN game client against a tiny fake host written here with its own few lines of
// framing (nothing of the client's wire helpers is used to build what the fake host sends).

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peers/TestLanClient.h"
#include "platform/ProgramClock.h"
#include "support/Loopback.h"
#include "support/Pump.h"

namespace {

using bcxtest::ChecksumResult;
using bcxtest::PumpUntil;
using bcxtest::ScopedPumpHook;
using bcxtest::TestLanClient;

std::string U16(unsigned v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string U32(unsigned v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s.push_back(static_cast<char>(v));
    return s;
}
std::string Frame(int id, const std::string& body) { return Bytes({0xF7, id}) + U16(4 + body.size()) + body; }

// Bitwise CRC-32, independent of the client's table.
unsigned BitCrc32(const std::string& s)
{
    unsigned crc = 0xFFFFFFFFu;
    for (char ch : s) {
        crc ^= static_cast<unsigned char>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint16_t BoundPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

struct FakeUdp {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    uint16_t port = 0;
    FakeUdp()
    {
        sockaddr_in a = bcxtest::LoopbackAddress(0);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        port = BoundPort(fd);
    }
    ~FakeUdp() { close(fd); }
    void SendTo(uint16_t to, const std::string& bytes)
    {
        sockaddr_in a = bcxtest::LoopbackAddress(to);
        ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(bytes.size()));
    }
    bool Receive(std::string& out)
    {
        char buf[2048];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0)
            return false;
        out.assign(buf, static_cast<size_t>(n));
        return true;
    }
};

// A fake session-port host: accepts one connection, collects what the client writes.
struct FakeHost {
    int listenFd = socket(AF_INET, SOCK_STREAM, 0);
    int conn = -1;
    uint16_t port = 0;
    std::string in;
    int reads = 0;
    bool eof = false;
    FakeHost()
    {
        sockaddr_in a = bcxtest::LoopbackAddress(0);
        bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listenFd, 4);
        fcntl(listenFd, F_SETFL, O_NONBLOCK);
        port = BoundPort(listenFd);
    }
    ~FakeHost()
    {
        if (conn >= 0)
            close(conn);
        close(listenFd);
    }
    void Poll()
    {
        if (conn < 0) {
            conn = accept(listenFd, nullptr, nullptr);
            if (conn >= 0)
                fcntl(conn, F_SETFL, O_NONBLOCK);
            return;
        }
        char buf[4096];
        ssize_t n = recv(conn, buf, sizeof buf, 0);
        if (n > 0) {
            in.append(buf, static_cast<size_t>(n));
            ++reads;
        } else if (n == 0) {
            eof = true;
        }
    }
    void Write(const std::string& bytes)
    {
        ASSERT_GE(conn, 0);
        ASSERT_EQ(send(conn, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void CloseConnection()
    {
        close(conn);
        conn = -1;
    }
    // Frames the client sent, split by their length fields.
    std::vector<std::string> Frames() const
    {
        std::vector<std::string> out;
        size_t pos = 0;
        while (pos + 4 <= in.size()) {
            size_t len = static_cast<unsigned char>(in[pos + 2]) | (static_cast<unsigned char>(in[pos + 3]) << 8);
            if (len < 4 || pos + len > in.size())
                break;
            out.push_back(in.substr(pos, len));
            pos += len;
        }
        return out;
    }
    size_t Count(int id) const
    {
        size_t n = 0;
        for (const auto& f : Frames())
            n += static_cast<unsigned char>(f[1]) == id;
        return n;
    }
};

// The client under test and a fake host, both polled by the pump.
struct ClientWithHost {
    TestLanClient client{0};
    FakeHost host;
    ScopedPumpHook hook{[this] {
        client.Poll();
        host.Poll();
    }};
};

// The join options of player "Bob", whose request ExpectedJoin spells out.
bcxtest::JoinOptions BobJoining()
{
    bcxtest::JoinOptions o;
    o.playerName = "Bob";
    return o;
}

// The join request of player "Bob" for host counter 0x1234 as Warcraft III sends it.
std::string ExpectedJoin(unsigned counter)
{
    std::string body = U32(counter) + U32(0) + Bytes({0}) + U16(6112) + U32(0) + "Bob" + Bytes({0});
    body += U16(0) + U16(AF_INET) + Bytes({0x17, 0xE0, 127, 0, 0, 1}) + std::string(8, '\0');
    return Frame(0x1E, body);
}

TEST(TestLanClientTest, DecodesAnnouncementsGameInfoAndSendsSearches)
{
    TestLanClient client(0);
    ASSERT_TRUE(client.Ok()) << client.Error();
    ScopedPumpHook hook([&] { client.Poll(); });
    FakeUdp host;
    // A second client on the same port fails visibly instead of sharing the datagrams.
    TestLanClient other(client.UdpPort());
    EXPECT_FALSE(other.Ok());

    // Game info of a live game: 16 info bytes (the byte before the stat string, then two mask-led blocks,
    // the second one short of its seventh byte), the first map-path byte, further blocks and the 0.
    std::string info = Bytes({0x00, 0x01, 0x03, 0x49, 0x07, 0x41, 0x01, 0x75, 0x01, 0xA9, 0x75, 0x01,
                              0x11, 0x23, 0x33, 0x45});
    std::string encoded = Bytes({0x4D, 0x23, 0x61, 0x63, 0x01, 0x49, 0x6F, 0x01, 0x01, 0x00});
    std::string body = Bytes({'P', 'X', '3', 'W'}) + U32(26) + U32(0x1234) + U32(0x55) + "!Game 1" + Bytes({0}) +
                       info + encoded + U32(12) + U32(9) + U32(0) + U32(1) + U32(5000) + U16(10385);
    host.SendTo(client.UdpPort(), Frame(0x31, Bytes({'P', 'X', '3', 'W'}) + U32(26) + U32(0x1234)));
    host.SendTo(client.UdpPort(), Frame(0x30, body));
    host.SendTo(client.UdpPort(), Frame(0x33, U32(0x1234)));
    ASSERT_TRUE(PumpUntil([&] { return client.Datagrams().size() == 3; }));

    ASSERT_EQ(client.CreateGames().size(), 1u);
    EXPECT_EQ(client.CreateGames()[0].gameId, 0x1234u);
    EXPECT_EQ(client.CreateGames()[0].version, 26u);
    ASSERT_EQ(client.EndGames().size(), 1u);
    EXPECT_EQ(client.EndGames()[0].gameId, 0x1234u);
    ASSERT_EQ(client.GameInfos().size(), 1u);
    const auto& g = client.GameInfos()[0];
    EXPECT_TRUE(g.ok);
    EXPECT_TRUE(g.statStringOk);
    EXPECT_EQ(g.fromPort, host.port);
    EXPECT_EQ(g.hostCounter, 0x1234u);
    EXPECT_EQ(g.entryKey, 0x55u);
    EXPECT_TRUE(g.live);
    EXPECT_EQ(g.name, "!Game 1");
    EXPECT_EQ(g.gameName, "Game 1");
    EXPECT_EQ(g.infoBytes, info);
    EXPECT_EQ(g.mapFlags, 0x40064802u);
    EXPECT_EQ(g.mapWidth, 0x74u);
    EXPECT_EQ(g.mapHeight, 0x74u);
    EXPECT_EQ(g.mapCrc, 0x44332211u);
    EXPECT_EQ(g.mapPath, "Mab");
    EXPECT_EQ(g.secondText, "Ho");
    EXPECT_EQ(g.thirdText, "");
    EXPECT_EQ(g.wordD, 12u);
    EXPECT_EQ(g.wordE, 9u);
    EXPECT_EQ(g.word1, 1u);
    EXPECT_EQ(g.uptimeMs, 5000u);
    EXPECT_EQ(g.sessionPort, 10385);
    EXPECT_EQ(client.FindGame("Game 1"), &g);
    EXPECT_EQ(client.FindGame(0x1234u), &g);
    EXPECT_TRUE(client.ProtocolErrors().empty());

    // A game info whose stat string lacks its terminator is reported, not trusted.
    std::string cut = Bytes({'P', 'X', '3', 'W'}) + U32(26) + U32(7) + U32(0) + "Old" + Bytes({0}) + info +
                      Bytes({0x4D, 0x23, 0x61});
    host.SendTo(client.UdpPort(), Frame(0x30, cut));
    ASSERT_TRUE(PumpUntil([&] { return client.GameInfos().size() == 2; }));
    EXPECT_FALSE(client.GameInfos()[1].ok);
    EXPECT_EQ(client.FindGame("Old"), nullptr);
    EXPECT_FALSE(client.ProtocolErrors().empty());

    // Searches: the plain one, an oversized, an undersized one and one with a bad first byte.
    std::string got;
    ASSERT_TRUE(client.SendSearch(host.port, 0x1234));
    ASSERT_TRUE(PumpUntil([&] { return host.Receive(got); }));
    EXPECT_EQ(got, Bytes({0xF7, 0x2F, 0x10, 0x00, 'P', 'X', '3', 'W', 26, 0, 0, 0, 0x34, 0x12, 0, 0}));
    bcxtest::SearchOptions big;
    big.totalSize = 100;
    ASSERT_TRUE(client.SendSearch(host.port, 0x1234, big));
    ASSERT_TRUE(PumpUntil([&] { return host.Receive(got); }));
    EXPECT_EQ(got.size(), 100u);
    EXPECT_EQ(got.substr(12, 4), U32(0x1234));
    bcxtest::SearchOptions small;
    small.totalSize = 10;
    small.firstByte = 0xFF;
    ASSERT_TRUE(client.SendSearch(host.port, 0x1234, small));
    ASSERT_TRUE(PumpUntil([&] { return host.Receive(got); }));
    EXPECT_EQ(got, Bytes({0xFF, 0x2F, 0x10, 0x00, 'P', 'X', '3', 'W', 26, 0}));
}

TEST(TestLanClientTest, JoinsReassemblesByteByByteAndAnswersAsWarcraft)
{
    ClientWithHost peers;
    TestLanClient& client = peers.client;
    FakeHost& host = peers.host;
    bcxtest::JoinOptions o = BobJoining();
    ASSERT_TRUE(client.Join(host.port, 0x1234, o));
    const std::string join = ExpectedJoin(0x1234);
    ASSERT_TRUE(PumpUntil([&] { return host.in.size() >= join.size(); }));
    EXPECT_EQ(host.in, join);
    EXPECT_TRUE(client.Connected());
    host.in.clear();

    std::string slots = Bytes({1, 0x64, 2, 0, 0, 1, 1, 1, 100, 2, 0x64, 2, 0, 1, 5, 2, 1, 100});
    std::string stream =
        Frame(0x01, U32(0xA1B2C3D4)) +
        Frame(0x04, U16(9 * 2 + 7) + Bytes({2}) + slots + U32(0xBEEF) + Bytes({3, 2, 2}) + std::string(16, 'a')) +
        Frame(0x06, U32(1) + Bytes({1}) + "Grubby" + Bytes({0, 1, 0}) + std::string(32, '\0')) +
        Frame(0x3D, U32(1) + "Maps\\x.w3x" + Bytes({0}) + U32(0x1000) + U32(0x22) + U32(0x33)) +
        Frame(0x0F, Bytes({1, 0xFF, 1, 0x10}) + "[Bcx]hi" + Bytes({0})) + Frame(0x0A, "") + Frame(0x0B, "") +
        Frame(0x0F, Bytes({1, 0xFF, 1, 0x20}) + U32(0) + "in game" + Bytes({0}));
    for (char byte : stream) {
        uint64_t before = client.BytesReceived();
        host.Write(std::string(1, byte));
        ASSERT_TRUE(PumpUntil([&] { return client.BytesReceived() > before; }));
    }
    EXPECT_TRUE(client.ProtocolErrors().empty()) << client.ProtocolErrors()[0];
    ASSERT_EQ(client.Frames().size(), 8u);

    ASSERT_EQ(client.Pings().size(), 1u);
    EXPECT_EQ(client.Pings()[0].stamp, 0xA1B2C3D4u);
    ASSERT_EQ(client.SlotTables().size(), 1u);
    const auto& t = client.SlotTables()[0];
    EXPECT_EQ(t.seq, 1u);
    ASSERT_EQ(t.slots.size(), 2u);
    EXPECT_EQ(t.slots[1].playerId, 2);
    EXPECT_EQ(t.slots[1].team, 1);
    EXPECT_EQ(t.slots[1].colour, 5);
    EXPECT_EQ(t.randomSeed, 0xBEEFu);
    EXPECT_EQ(t.viewPlayerId, 2);
    EXPECT_EQ(client.OwnPlayerId(), 2);
    ASSERT_EQ(client.Players().size(), 1u);
    EXPECT_EQ(client.Players()[0].name, "Grubby");
    ASSERT_EQ(client.MapChecks().size(), 1u);
    EXPECT_EQ(client.MapChecks()[0].mapPath, "Maps\\x.w3x");
    EXPECT_EQ(client.MapChecks()[0].mapSize, 0x1000u);
    ASSERT_EQ(client.Chats().size(), 2u);
    EXPECT_EQ(client.Chats()[0].text, "[Bcx]hi");
    EXPECT_EQ(client.Chats()[0].flag, 0x10);
    EXPECT_EQ(client.Chats()[0].sender, 1);
    EXPECT_TRUE(client.Chats()[1].hasExtra);
    EXPECT_EQ(client.Chats()[1].text, "in game");
    ASSERT_EQ(client.CountdownStarts().size(), 1u);
    ASSERT_EQ(client.CountdownEnds().size(), 1u);
    EXPECT_LT(client.CountdownStarts()[0], client.CountdownEnds()[0]);

    // Answers: the ping echoed, the map size reported, the loaded notice after the countdown; then a chat
    // line from our own player id in the in-game form.
    client.SendChat("/speed 2");
    ASSERT_TRUE(PumpUntil([&] { return host.Count(0x28) == 1; }));
    auto frames = host.Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], Bytes({0xF7, 0x46, 8, 0, 0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(frames[1], Frame(0x42, U32(1) + Bytes({1}) + U32(0x1000)));
    EXPECT_EQ(frames[2], Bytes({0xF7, 0x23, 4, 0}));
    EXPECT_EQ(frames[3], Frame(0x28, Bytes({1, 1, 2, 0x20}) + U32(0) + "/speed 2" + Bytes({0})));
    client.SendTeamChange(12);
    client.SendLeave();
    ASSERT_TRUE(PumpUntil([&] { return host.Count(0x21) == 1; }));
    frames = host.Frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[4], Frame(0x28, Bytes({1, 1, 2, 0x11, 12})));
    EXPECT_EQ(frames[5], Frame(0x21, U32(7)));

    host.CloseConnection();
    ASSERT_TRUE(PumpUntil([&] { return client.HostClosed(); }));
    EXPECT_EQ(client.ClosedAtSeq(), 8u);
}

TEST(TestLanClientTest, VerifiesActionChecksumsAndSendsKeepAlives)
{
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(777);
    ClientWithHost peers;
    TestLanClient& client = peers.client;
    FakeHost& host = peers.host;
    ASSERT_TRUE(client.Join(host.port, 1));
    ASSERT_TRUE(PumpUntil([&] { return host.Count(0x1E) == 1; }));

    std::string blocks = Bytes({1, 3, 0, 0x18, 0x02, 0x03, 2, 1, 0, 0x01});
    unsigned crc = BitCrc32(blocks) & 0xFFFF;
    std::string good = Frame(0x0C, U16(100) + U16(crc) + blocks);
    std::string bad = Frame(0x0C, U16(50) + U16(crc ^ 0x0101) + blocks);
    std::string empty = Frame(0x0C, U16(250));
    std::string both = good + bad + empty;
    // Coalesced, and split in the middle of a header.
    host.Write(both.substr(0, good.size() + 3));
    ASSERT_TRUE(PumpUntil([&] { return client.Actions().size() == 1; }));
    host.Write(both.substr(good.size() + 3));
    ASSERT_TRUE(PumpUntil([&] { return client.Actions().size() == 3; }));

    const auto& a = client.Actions();
    EXPECT_EQ(a[0].checksumResult, ChecksumResult::Ok);
    EXPECT_EQ(a[0].increment, 100);
    EXPECT_EQ(a[0].blockBytes, blocks);
    ASSERT_EQ(a[0].blocks.size(), 2u);
    EXPECT_EQ(a[0].blocks[0].playerId, 1);
    EXPECT_EQ(a[0].blocks[0].actions, Bytes({0x18, 0x02, 0x03}));
    EXPECT_EQ(a[0].blocks[1].actions, Bytes({0x01}));
    EXPECT_TRUE(a[0].blocksOk);
    EXPECT_EQ(a[0].arrivalMs, 777u);
    EXPECT_EQ(a[1].checksumResult, ChecksumResult::Bad);
    EXPECT_EQ(a[1].computed, crc);
    EXPECT_EQ(a[2].checksumResult, ChecksumResult::None);
    EXPECT_EQ(client.GameTimeMs(), 400u);
    EXPECT_TRUE(client.ProtocolErrors().empty());

    // One keep-alive per action message.
    ASSERT_TRUE(PumpUntil([&] { return host.Count(0x27) == 3; }));
    EXPECT_EQ(client.SentCount(0x27), 3u);

    // Block lengths that run past the end are reported.
    host.Write(Frame(0x0C, U16(0) + U16(BitCrc32(Bytes({1, 9, 0, 1})) & 0xFFFF) + Bytes({1, 9, 0, 1})));
    ASSERT_TRUE(PumpUntil([&] { return client.Actions().size() == 4; }));
    EXPECT_FALSE(client.Actions()[3].blocksOk);
    EXPECT_EQ(client.ProtocolErrors().size(), 1u);
    bcx::ProgramClock::SetManual(false);
}

TEST(TestLanClientTest, JoinFaultKnobsShapeTheWrites)
{
    {
        ClientWithHost peers;
        TestLanClient& client = peers.client;
        FakeHost& host = peers.host;
        bcxtest::JoinOptions o = BobJoining();
        o.splitInThree = true;
        o.coalesced = Frame(0x46, U32(5));
        o.duplicate = true;
        ASSERT_TRUE(client.Join(host.port, 0x1234, o));
        const std::string join = ExpectedJoin(0x1234);
        const std::string all = join + Frame(0x46, U32(5)) + join;
        ASSERT_TRUE(PumpUntil([&] { return host.in.size() >= all.size(); }));
        EXPECT_EQ(host.in, all);
        EXPECT_GE(host.reads, 3); // the pieces arrive apart
    }
    {
        ClientWithHost peers;
        TestLanClient& client = peers.client;
        FakeHost& host = peers.host;
        bcxtest::JoinOptions o = BobJoining();
        o.overrideHostCounter = true;
        o.hostCounter = 0xDEAD;
        o.lengthField = 3;
        o.firstByte = 0xF8;
        ASSERT_TRUE(client.Join(host.port, 0x1234, o));
        std::string expected = ExpectedJoin(0xDEAD);
        expected[0] = static_cast<char>(0xF8);
        expected[2] = 3;
        expected[3] = 0;
        ASSERT_TRUE(PumpUntil([&] { return host.in.size() >= expected.size(); }));
        EXPECT_EQ(host.in, expected);
    }
    {
        ClientWithHost peers;
        TestLanClient& client = peers.client;
        FakeHost& host = peers.host;
        bcxtest::JoinOptions o;
        o.connectOnly = true;
        ASSERT_TRUE(client.Join(host.port, 1, o));
        ASSERT_TRUE(PumpUntil([&] { return host.conn >= 0 && client.Connected(); }));
        client.Close();
        ASSERT_TRUE(PumpUntil([&] { return host.eof; }));
        EXPECT_TRUE(host.in.empty());
    }
}

TEST(TestLanClientTest, StopsReadingOnRequestAndReportsBrokenHeaders)
{
    ClientWithHost peers;
    TestLanClient& client = peers.client;
    FakeHost& host = peers.host;
    ASSERT_TRUE(client.Join(host.port, 1));
    ASSERT_TRUE(PumpUntil([&] { return host.Count(0x1E) == 1; }));

    client.SetReading(false);
    host.Write(Frame(0x0A, ""));
    bcxtest::PumpFor(50);
    EXPECT_EQ(client.BytesReceived(), 0u);
    client.SetReading(true);
    ASSERT_TRUE(PumpUntil([&] { return client.Frames().size() == 1; }));

    // A length field below 4 breaks the stream; nothing after it is parsed.
    host.Write(Bytes({0xF7, 0x0B, 2, 0}) + Frame(0x0B, ""));
    ASSERT_TRUE(PumpUntil([&] { return client.HeaderBroken(); }));
    EXPECT_EQ(client.Frames().size(), 1u);
    EXPECT_EQ(client.ProtocolErrors().size(), 1u);
    EXPECT_TRUE(client.CountdownEnds().empty());
}

} // namespace
