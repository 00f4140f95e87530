// Self-tests of the test relay server, driven by a tiny raw client with its own framing.

#include <gtest/gtest.h>

#include "peers/RelayScenario.h"
#include "peers/TestRelayServer.h"
#include "support/TestEnv.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using bcxtest::RelayGame;
using bcxtest::TestRelayServer;
using S = TestRelayServer;

uint32_t Le32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(s.at(at + i));
    return v;
}

struct Frame {
    uint8_t id = 0;
    std::string body;
};

// A minimal relay client: blocking connect, non-blocking reads that poll the server in between.
class RawClient {
public:
    explicit RawClient(TestRelayServer& server) : mServer(server) {}
    ~RawClient() { Close(); }

    bool Connect()
    {
        mFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(mServer.Port());
        if (::connect(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return false;
        ::fcntl(mFd, F_SETFL, O_NONBLOCK);
        return true;
    }
    void Close()
    {
        if (mFd >= 0)
            ::close(mFd);
        mFd = -1;
    }
    void Send(const std::string& bytes) { ASSERT_EQ(::send(mFd, bytes.data(), bytes.size(), 0), (ssize_t)bytes.size()); }
    void SendFrame(uint8_t id, const std::string& body) { Send(S::MakeFrame(id, body)); }

    // One server poll, then whatever has arrived. False once the server closed.
    bool Step()
    {
        mServer.Poll();
        pollfd p{mFd, POLLIN, 0};
        ::poll(&p, 1, 2);
        char buf[65536];
        for (;;) {
            ssize_t n = ::recv(mFd, buf, sizeof buf, 0);
            if (n > 0) {
                mIn.append(buf, n);
                continue;
            }
            if (n == 0)
                mEof = true;
            break;
        }
        return !mEof;
    }
    template <class Pred> bool Until(Pred pred)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            Step();
        }
        return true;
    }
    bool Raw(size_t n, std::string& out)
    {
        if (!Until([&] { return mIn.size() >= n || mEof; }) || mIn.size() < n)
            return false;
        out = mIn.substr(0, n);
        mIn.erase(0, n);
        return true;
    }
    bool Next(Frame& f)
    {
        auto complete = [&] {
            return mIn.size() >= 5 && mIn.size() >= (size_t)(uint8_t(mIn[3]) | uint8_t(mIn[4]) << 8);
        };
        if (!Until([&] { return complete() || mEof; }) || !complete())
            return false;
        EXPECT_EQ(uint8_t(mIn[0]), 0xEF);
        EXPECT_EQ(uint8_t(mIn[1]), 0xBE);
        size_t len = uint8_t(mIn[3]) | uint8_t(mIn[4]) << 8;
        f.id = uint8_t(mIn[2]);
        f.body = mIn.substr(5, len - 5);
        mIn.erase(0, len);
        return true;
    }
    bool WaitEof() { return Until([&] { return mEof; }); }
    // Protocol word, version and logon; returns the logon answer.
    Frame LogOn()
    {
        Send(std::string("\x00\x03\x00\x01", 4));
        std::string word;
        EXPECT_TRUE(Raw(4, word));
        EXPECT_EQ(word, std::string("\x00\x03\x00\x01", 4));
        SendFrame(0x00, S::U8(1) + S::U32(0x01000500));
        Frame f;
        EXPECT_TRUE(Next(f));
        EXPECT_EQ(f.id, 0x00);
        SendFrame(0x01, S::Str("Brawlcast - Client") + S::U32(0x00005F00) + S::U8(1) + S::U32(0x01000500) +
                            S::Str("viewer") + S::Str("secret"));
        Frame answer;
        EXPECT_TRUE(Next(answer));
        return answer;
    }
    std::string& Pending() { return mIn; }
    bool Eof() const { return mEof; }

private:
    TestRelayServer& mServer;
    int mFd = -1;
    std::string mIn;
    bool mEof = false;
};

// The entries of a 0x26 body: {time, bytes}.
std::vector<bcxtest::RelayEntry> BlockEntries(const std::string& body)
{
    std::vector<bcxtest::RelayEntry> out;
    uint32_t n = Le32(body, 8);
    size_t pos = 20, end = 20 + n;
    while (pos + 8 <= end && end <= body.size()) {
        bcxtest::RelayEntry e;
        e.time = Le32(body, pos);
        uint32_t len = Le32(body, pos + 4);
        if (pos + 8 + len > end)
            break;
        e.bytes = body.substr(pos + 8, len);
        out.push_back(e);
        pos += 8 + len;
    }
    return out;
}

// Reads a whole details subscription stream; the ids in order and the entries.
struct StreamResult {
    std::vector<uint8_t> ids;
    std::vector<bcxtest::RelayEntry> entries;
    uint32_t detailsSeed = 0, startSeed = 0, startSeconds = 0xFFFFFFFF, finishCount = 0;
    std::vector<uint32_t> seqs;
};

StreamResult ReadStream(RawClient& c, bool ack, size_t maxFrames = 10000)
{
    StreamResult r;
    Frame f;
    while (r.ids.size() < maxFrames && c.Next(f)) {
        r.ids.push_back(f.id);
        if (f.id == 0x24) {
            size_t pos = 4 + f.body.find('\0', 4) + 1 - 4; // after the map path
            r.detailsSeed = Le32(f.body, pos + 24);        // seventh word
        } else if (f.id == 0x25) {
            r.startSeed = Le32(f.body, 4);
            r.startSeconds = Le32(f.body, 8);
        } else if (f.id == 0x26) {
            auto e = BlockEntries(f.body);
            r.entries.insert(r.entries.end(), e.begin(), e.end());
            r.seqs.push_back(Le32(f.body, 4));
            if (ack)
                c.SendFrame(0x26, f.body.substr(0, 4) + f.body.substr(4, 4) + S::U32(0));
        } else if (f.id == 0x27) {
            r.finishCount = Le32(f.body, 4);
            break;
        }
    }
    return r;
}

class RelayServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(relay.Start()); }
    TestRelayServer relay;
};

TEST_F(RelayServerTest, HandshakeAndLogonExchangeTheProtocolWordsAndRecordTheClient)
{
    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    Frame answer = c.LogOn();
    ASSERT_EQ(answer.id, 0x01);
    // ok, server name, version, title, motd, IRC server, port, channel, URL: nothing beyond.
    EXPECT_EQ(answer.body[0], 1);
    std::istringstream fields(answer.body.substr(1));
    std::string name;
    std::getline(fields, name, '\0');
    EXPECT_EQ(name, "Test Relay");
    EXPECT_EQ(Le32(answer.body, 1 + name.size() + 1), 0x01000500u);
    const std::string& b = answer.body;
    size_t pos = 1 + name.size() + 1 + 4;
    for (int i = 0; i < 3; ++i) // title, motd, IRC server
        pos = b.find('\0', pos) + 1;
    EXPECT_EQ(uint8_t(b[pos]) | uint8_t(b[pos + 1]) << 8, 6667);
    pos = b.find('\0', pos + 2) + 1; // channel
    pos = b.find('\0', pos) + 1;     // URL
    EXPECT_EQ(pos, b.size());

    ASSERT_GE(relay.ClientLog().size(), 3u);
    EXPECT_EQ(relay.ClientLog()[0].kind, S::ClientFrame::Handshake);
    EXPECT_EQ(relay.ClientLog()[0].raw, std::string("\x00\x03\x00\x01", 4));
    ASSERT_EQ(relay.Logons().size(), 1u);
    EXPECT_EQ(relay.Logons()[0].clientName, "Brawlcast - Client");
    EXPECT_EQ(relay.Logons()[0].user, "viewer");
    EXPECT_EQ(relay.Logons()[0].password, "secret");
    EXPECT_EQ(relay.Logons()[0].relayVersion, 0x01000500u);
    EXPECT_TRUE(relay.Logons()[0].complete);
    EXPECT_TRUE(relay.LoggedOn(1));

    // Pings go out on request and the echo is recorded.
    relay.SendPing(1, 77);
    Frame ping;
    ASSERT_TRUE(c.Next(ping));
    EXPECT_EQ(ping.id, 0x28);
    c.SendFrame(0x28, ping.body);
    ASSERT_TRUE(c.Until([&] { return !relay.Echoes().empty(); }));
    EXPECT_EQ(relay.Echoes()[0].value, 77u);
}

TEST_F(RelayServerTest, GameListAndGameInformationCarryTheScriptedFields)
{
    relay.AddGame(S::MakeFinished1v1(0x1001, 5, "Finished one"));
    RelayGame live = S::MakeLive1v1(0x2002, 3, "Live one");
    live.state = 9; // out of range on purpose: sent as is
    relay.AddGame(live);
    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    c.LogOn();
    c.SendFrame(0x20, S::U32(0xDEADC0DE));
    Frame list;
    ASSERT_TRUE(c.Next(list));
    ASSERT_EQ(list.id, 0x20);
    ASSERT_EQ(Le32(list.body, 8), 2u);
    size_t pos = 12;
    EXPECT_EQ(Le32(list.body, pos), 0x1001u);
    EXPECT_EQ(uint8_t(list.body[pos + 4]), 4);
    EXPECT_EQ(list.body.substr(pos + 9, 12), "Finished one");
    pos = list.body.find('\0', pos + 9) + 1;
    EXPECT_EQ(Le32(list.body, pos), 0x2002u);
    EXPECT_EQ(uint8_t(list.body[pos + 4]), 9);

    c.SendFrame(0x21, S::U32(0x2002));
    c.SendFrame(0x21, S::U32(0x7777)); // unknown: no answer
    c.SendFrame(0x20, S::U32(0xDEADC0DE));
    Frame info;
    ASSERT_TRUE(c.Next(info));
    ASSERT_EQ(info.id, 0x21);
    EXPECT_EQ(Le32(info.body, 0), 0x2002u);
    EXPECT_EQ(info.body.substr(4, info.body.find('\0', 4) - 4), "Alder vs Birch  Obs: Caster");
    // The record ends with the map path and the words D and E.
    const std::string map = "Maps\\FrozenThrone\\(2)EchoIsles.w3x";
    size_t mapAt = info.body.find(map);
    ASSERT_NE(mapAt, std::string::npos);
    EXPECT_EQ(mapAt + map.size() + 1 + 8, info.body.size());
    EXPECT_EQ(Le32(info.body, mapAt - 32), 0x57335850u); // product, 32 bytes before the path
    Frame next;
    ASSERT_TRUE(c.Next(next));
    EXPECT_EQ(next.id, 0x20); // the unknown id got nothing

    // A list count far larger than the frame.
    relay.Options().listCountOverride = 1000000;
    c.SendFrame(0x20, S::U32(0xDEADC0DE));
    ASSERT_TRUE(c.Next(list));
    EXPECT_EQ(Le32(list.body, 8), 1000000u);
}

TEST_F(RelayServerTest, DetailsSubscriptionStreamsAFinishedGameInOrder)
{
    RelayGame g = relay.AddGame(S::MakeFinished1v1(0x1001, 300));
    relay.Options().blockBytes = 1000;
    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    c.LogOn();
    c.SendFrame(0x22, S::U32(0x1001) + S::U32(1));
    StreamResult r = ReadStream(c, true);
    ASSERT_GE(r.ids.size(), 5u);
    EXPECT_EQ(r.ids[0], 0x22);
    EXPECT_EQ(r.ids[1], 0x24);
    EXPECT_EQ(r.ids[2], 0x25);
    EXPECT_EQ(r.ids.back(), 0x27);
    for (size_t i = 3; i + 1 < r.ids.size(); ++i)
        EXPECT_EQ(r.ids[i], 0x26);
    EXPECT_EQ(r.startSeconds, 0u);
    EXPECT_EQ(r.startSeed, g.details.seed);
    EXPECT_EQ(r.detailsSeed, g.details.seed);
    EXPECT_EQ(r.finishCount, 300u);
    ASSERT_EQ(r.entries.size(), 300u);
    for (size_t i = 0; i < 300; ++i) {
        EXPECT_EQ(r.entries[i].time, g.entries[i].time);
        EXPECT_EQ(r.entries[i].bytes, g.entries[i].bytes);
    }
    for (size_t i = 0; i < r.seqs.size(); ++i)
        EXPECT_EQ(r.seqs[i], i + 1);
    ASSERT_TRUE(c.Until([&] { return relay.Acks().size() == r.seqs.size(); }));
    EXPECT_EQ(relay.Acks().back().seq, r.seqs.back());

    // An action entry is a W3GS 0x0C message whose checksum is the low word of the CRC-32 of its blocks.
    const std::string& e = g.entries[1].bytes;
    ASSERT_GT(e.size(), 8u);
    EXPECT_EQ(uint8_t(e[0]), 0xF7);
    EXPECT_EQ(uint8_t(e[1]), 0x0C);
    EXPECT_EQ(uint8_t(e[2]) | uint8_t(e[3]) << 8, (int)e.size());
}

TEST_F(RelayServerTest, ResubscriptionAfterAReconnectStreamsFromEntryZeroAgain)
{
    RelayGame g = relay.AddGame(S::MakeFinished1v1(0x1001, 120));
    relay.Options().blockBytes = 200;
    bcxtest::ConnectionScript drop;
    drop.closeAfterFrames = 8; // 0x00, 0x01, 0x22, 0x24, 0x25 and three blocks
    relay.ScriptConnection(1, drop);

    RawClient first(relay);
    ASSERT_TRUE(first.Connect());
    first.LogOn();
    first.SendFrame(0x22, S::U32(0x1001) + S::U32(1));
    StreamResult cut = ReadStream(first, false);
    EXPECT_TRUE(first.WaitEof());
    EXPECT_EQ(cut.ids.size(), 6u);
    EXPECT_EQ(cut.finishCount, 0u);
    ASSERT_FALSE(cut.entries.empty());
    EXPECT_LT(cut.entries.size(), 120u);

    RawClient second(relay);
    ASSERT_TRUE(second.Connect());
    second.LogOn();
    second.SendFrame(0x22, S::U32(0x1001) + S::U32(1));
    StreamResult full = ReadStream(second, false);
    EXPECT_EQ(relay.AcceptedCount(), 2u);
    EXPECT_EQ(full.finishCount, 120u);
    ASSERT_EQ(full.entries.size(), 120u);
    for (size_t i = 0; i < cut.entries.size(); ++i)
        EXPECT_EQ(full.entries[i].bytes, cut.entries[i].bytes);
    EXPECT_EQ(full.entries.back().bytes, g.entries.back().bytes);

    // A second data-only subscription on the same connection is confirmed and starts no second stream.
    second.SendFrame(0x22, S::U32(0x1001) + S::U32(0));
    second.SendFrame(0x20, S::U32(0xDEADC0DE));
    Frame f;
    ASSERT_TRUE(second.Next(f));
    EXPECT_EQ(f.id, 0x22);
    ASSERT_TRUE(second.Next(f));
    EXPECT_EQ(f.id, 0x20);
}

TEST_F(RelayServerTest, LiveAndAnnouncedGamesStreamAsTheTestDrivesThem)
{
    relay.AddGame(S::MakeLive1v1(0x3003, 4));
    relay.AddGame(S::MakeAnnounced1v1(0x4004, 30));
    relay.Options().ackWindow = 1;
    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    c.LogOn();
    c.SendFrame(0x22, S::U32(0x4004) + S::U32(1));
    Frame f;
    ASSERT_TRUE(c.Next(f) && c.Next(f) && c.Next(f));
    EXPECT_EQ(f.id, 0x25);
    EXPECT_EQ(Le32(f.body, 8), 30u);
    relay.StartGame(0x4004);
    ASSERT_TRUE(c.Next(f));
    EXPECT_EQ(f.id, 0x25);
    EXPECT_EQ(Le32(f.body, 8), 0u);

    // Data only, live: the four entries, then nothing until more are appended; one block per ack.
    relay.Options().entriesPerBlock = 2;
    c.SendFrame(0x22, S::U32(0x3003) + S::U32(0));
    ASSERT_TRUE(c.Next(f) && c.Next(f));
    EXPECT_EQ(f.id, 0x25);
    ASSERT_TRUE(c.Next(f));
    ASSERT_EQ(f.id, 0x26);
    EXPECT_EQ(BlockEntries(f.body).size(), 2u);
    for (int i = 0; i < 20; ++i)
        c.Step();
    EXPECT_TRUE(c.Pending().empty()); // held back by the ack window
    c.SendFrame(0x26, S::U32(0x3003) + S::U32(1) + S::U32(0));
    ASSERT_TRUE(c.Next(f));
    c.SendFrame(0x26, S::U32(0x3003) + S::U32(2) + S::U32(0));
    for (int i = 0; i < 20; ++i)
        c.Step();
    EXPECT_TRUE(c.Pending().empty());
    EXPECT_EQ(relay.StreamedEntries(1, 0x3003), 4);
    relay.AppendDefaultEntries(0x3003, 2);
    relay.Finish(0x3003);
    ASSERT_TRUE(c.Next(f));
    EXPECT_EQ(f.id, 0x26);
    EXPECT_EQ(Le32(f.body, 12), 4u); // index of the block's first entry
    c.SendFrame(0x26, S::U32(0x3003) + S::U32(3) + S::U32(0));
    ASSERT_TRUE(c.Next(f));
    EXPECT_EQ(f.id, 0x27);
    EXPECT_EQ(Le32(f.body, 4), 6u);
}

TEST_F(RelayServerTest, HandshakeFaultsSplitTheWordOrEndTheConnection)
{
    bcxtest::ConnectionScript split;
    split.handshake = bcxtest::ConnectionScript::Handshake::Split;
    relay.ScriptConnection(1, split);
    bcxtest::ConnectionScript limit;
    limit.handshakeWord = 0;
    limit.handshake = bcxtest::ConnectionScript::Handshake::CloseAfterWord;
    relay.ScriptConnection(2, limit);
    bcxtest::ConnectionScript bytewise;
    bytewise.writeChunk = 1;
    relay.ScriptConnection(3, bytewise);

    RawClient a(relay);
    ASSERT_TRUE(a.Connect());
    a.Send(std::string("\x00\x03\x00\x01", 4));
    ASSERT_TRUE(a.Until([&] { return !a.Pending().empty(); }));
    EXPECT_EQ(a.Pending(), std::string("\x00\x03", 2)); // the rest waits for a later poll
    ASSERT_TRUE(a.Until([&] { return a.Pending().size() == 4; }));
    EXPECT_EQ(a.Pending(), std::string("\x00\x03\x00\x01", 4));

    RawClient b(relay);
    ASSERT_TRUE(b.Connect());
    b.Send(std::string("\x00\x03\x00\x01", 4));
    std::string word;
    ASSERT_TRUE(b.Raw(4, word));
    EXPECT_EQ(word, std::string(4, '\0'));
    EXPECT_TRUE(b.WaitEof());

    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    c.Send(std::string("\x00\x03\x00\x01", 4));
    ASSERT_TRUE(c.Until([&] { return !c.Pending().empty(); }));
    EXPECT_EQ(c.Pending().size(), 1u);
    ASSERT_TRUE(c.Raw(4, word));
    EXPECT_EQ(word, std::string("\x00\x03\x00\x01", 4));

    // Refused connections once the server stops listening.
    relay.StopListening();
    RawClient d(relay);
    EXPECT_FALSE(d.Connect());
    EXPECT_EQ(relay.AcceptedCount(), 3u);
}

TEST_F(RelayServerTest, LogonRefusalAndBrokenClientFramesCloseTheConnection)
{
    bcxtest::ConnectionScript refuse;
    refuse.refusal.kind = bcxtest::LogonRefusal::ErrorCode;
    refuse.refusal.code = 2;
    relay.ScriptConnection(1, refuse);

    RawClient a(relay);
    ASSERT_TRUE(a.Connect());
    Frame answer = a.LogOn();
    EXPECT_EQ(answer.id, 0xF2);
    EXPECT_EQ(answer.body, std::string(1, '\x02'));
    EXPECT_TRUE(a.WaitEof());
    EXPECT_FALSE(relay.LoggedOn(1));

    RawClient b(relay);
    ASSERT_TRUE(b.Connect());
    b.LogOn();
    b.Send(S::MakeFrame(0x20, S::U32(0xDEADC0DE), 0xBEEE));
    EXPECT_TRUE(b.WaitEof());
    ASSERT_FALSE(relay.ClientLog().empty());
    EXPECT_EQ(relay.ClientLog().back().kind, S::ClientFrame::Bad);
    EXPECT_TRUE(relay.ServerFrames(0x20, 2).empty());
}

TEST_F(RelayServerTest, MalformedDataBlocksCarryTheScriptedFault)
{
    RelayGame g = S::MakeFinished1v1(0x1001, 10);
    g.dataFault.kind = bcxtest::RelayDataFault::StrayBytes;
    g.dataFault.stray = 5;
    g.dataFault.block = 1;
    g.startSeedOverride = g.details.seed + 1;
    g.finishCountDelta = 1;
    relay.AddGame(g);
    relay.Options().entriesPerBlock = 3;
    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    c.LogOn();
    c.SendFrame(0x22, S::U32(0x1001) + S::U32(1));
    std::vector<Frame> blocks;
    Frame f;
    uint32_t seed = 0, finish = 0;
    while (c.Next(f) && f.id != 0x27) {
        if (f.id == 0x26)
            blocks.push_back(f);
        if (f.id == 0x25)
            seed = Le32(f.body, 4);
    }
    finish = Le32(f.body, 4);
    EXPECT_EQ(seed, g.details.seed + 1);
    EXPECT_EQ(finish, 11u);
    ASSERT_EQ(blocks.size(), 4u);
    // Block 1: three whole entries, then 5 stray bytes counted in n.
    const std::string& body = blocks[1].body;
    EXPECT_EQ(Le32(body, 8), body.size() - 20);
    auto entries = BlockEntries(body);
    ASSERT_EQ(entries.size(), 3u);
    size_t used = 0;
    for (auto& e : entries)
        used += 8 + e.bytes.size();
    EXPECT_EQ(body.size() - 20 - used, 5u);
    EXPECT_EQ(BlockEntries(blocks[0].body).size(), 3u);

    // Entry length too long on the next stream's first block.
    relay.FindGame(0x1001)->dataFault = {bcxtest::RelayDataFault::EntryLengthTooLong, 0, 1, 0};
    c.SendFrame(0x23, S::U32(0x1001));
    c.SendFrame(0x22, S::U32(0x1001) + S::U32(0));
    ASSERT_TRUE(c.Next(f) && f.id == 0x23);
    ASSERT_TRUE(c.Next(f) && c.Next(f) && c.Next(f));
    ASSERT_EQ(f.id, 0x26);
    EXPECT_EQ(BlockEntries(f.body).size(), 2u); // the third entry's length overruns the block
    size_t lastAt = 20 + 2 * 8 + BlockEntries(f.body)[0].bytes.size() + BlockEntries(f.body)[1].bytes.size();
    EXPECT_GT(Le32(f.body, lastAt + 4), f.body.size() - lastAt - 8);
}

TEST_F(RelayServerTest, InjectionsAndMidFrameCloseFollowTheFrameCount)
{
    bcxtest::ConnectionScript s;
    s.injections.push_back({2, S::MakeFrame(0xF3, S::Str("hello")) + S::MakeFrame(0x99, "")});
    s.closeMidFrame = 2; // 0x00 and 0x01 whole, then half of the next frame
    relay.ScriptConnection(1, s);
    relay.AddGame(S::MakeFinished1v1(0x1001, 2));
    RawClient c(relay);
    ASSERT_TRUE(c.Connect());
    c.LogOn();
    Frame f;
    ASSERT_TRUE(c.Next(f));
    EXPECT_EQ(f.id, 0xF3);
    ASSERT_TRUE(c.Next(f));
    EXPECT_EQ(f.id, 0x99);
    c.SendFrame(0x20, S::U32(0xDEADC0DE));
    ASSERT_TRUE(c.WaitEof());
    EXPECT_FALSE(c.Pending().empty());
    EXPECT_LT(c.Pending().size(), S::MakeFrame(0x20, "").size() + 12 + 9);
    EXPECT_FALSE(c.Next(f));
}

TEST(RelayScenarioTest, ExampleScenarioLoadsAndBadLinesAreNamed)
{
    std::ifstream file(bcxtest::SourceDir() + "/tests/peers/example-scenario.txt");
    if (!file) { // the source directory is not in the environment: find it from this file's place
        std::string here = __FILE__;
        file.open(here.substr(0, here.rfind('/')) + "/../peers/example-scenario.txt");
    }
    ASSERT_TRUE(file);
    std::ostringstream text;
    text << file.rdbuf();
    bcxtest::RelayScenario sc;
    std::string error;
    ASSERT_TRUE(bcxtest::ParseRelayScenario(text.str(), sc, error)) << error;
    ASSERT_EQ(sc.games.size(), 2u);
    EXPECT_TRUE(sc.games[0].finished);
    EXPECT_FALSE(sc.games[1].finished);
    EXPECT_EQ(sc.games[0].info.publisher, "Caster");

    TestRelayServer server;
    bcxtest::ApplyRelayScenario(sc, server);
    size_t next = 0;
    EXPECT_EQ(bcxtest::RunDueRelayActions(sc, next, 250, server), 2u);
    EXPECT_EQ(server.FindGame(0x1002)->entries.size(), 52u);
    bcxtest::RunDueRelayActions(sc, next, 60000, server);
    EXPECT_TRUE(server.FindGame(0x1002)->finished);
    EXPECT_EQ(server.FindGame(0x1002)->state, 4);
    EXPECT_EQ(server.FindGame(0x1002)->entries.size(), 650u);

    EXPECT_FALSE(bcxtest::ParseRelayScenario("finished 1 3\nplayers 2 x\n", sc, error));
    EXPECT_EQ(error, "line 2: unknown game");
    EXPECT_FALSE(bcxtest::ParseRelayScenario("live 0xZZ 3\n", sc, error));
}

} // namespace
