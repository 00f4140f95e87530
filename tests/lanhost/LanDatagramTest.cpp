// LAN announcements and game searches: the create-game, end-of-game and game-info datagrams of a fixture
// game as the test LAN client receives them, the stat-string encoding, and the search poll's handling of
// what arrives on the datagram socket.

#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "core/Packet.h"
#include "lanhost/LanFixture.h"
#include "lanhost/LanGameHost.h"
#include "lanhost/LanListener.h"
#include "peers/LanWire.h"
#include "peers/TestLanClient.h"
#include "platform/ProgramClock.h"
#include "support/LogCapture.h"
#include "support/Pump.h"

namespace {

using bcxtest::PumpUntil;
using bcxtest::ScopedPumpHook;
using bcxtest::TestLanClient;
namespace lan = bcxtest::lan;

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s.push_back(static_cast<char>(v));
    return s;
}

std::string Encode(const std::string& raw)
{
    filePacket in;
    in.Write(raw.data(), static_cast<uint32_t>(raw.size()));
    warPacket out;
    EncodeStatString(out, in);
    return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

class LanDatagramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(wc3.Ok());
        core = lantest::StartCore(wc3.UdpPort());
        ASSERT_NE(core, nullptr);
        ASSERT_NE(core->DatagramLocalPort(), 0);
        core->SetSessionPort(10385);
    }
    void TearDown() override { lantest::StopCore(); }

    TestLanClient wc3{0};
    ScopedPumpHook hook{[this] { wc3.Poll(); }};
    ClientCore* core = nullptr;
};

TEST_F(LanDatagramTest, CreateGameGoldenBytesAtOnceThenEverySessionIdleTime)
{
    auto game = lantest::MakeFinishedGame(0x01020304);
    auto host = std::make_unique<LanGameHost>(game.get());
    host->Tick();  // last announce is 0: at once
    ASSERT_TRUE(PumpUntil([&] { return wc3.CreateGames().size() == 1; }));
    EXPECT_EQ(wc3.Datagrams()[0].raw, Bytes({0xF7, 0x31, 0x10, 0x00, 0x50, 0x58, 0x33, 0x57, 26, 0, 0, 0, 0x04, 0x03,
                                              0x02, 0x01}));

    bcx::ProgramClock::Advance(5000);  // not more than SessionIdleTime yet
    host->Tick();
    bcx::ProgramClock::Advance(1);
    host->Tick();
    ASSERT_TRUE(PumpUntil([&] { return wc3.CreateGames().size() == 2; }));
    bcxtest::PumpFor(50);
    EXPECT_EQ(wc3.CreateGames().size(), 2u);
    EXPECT_EQ(wc3.CreateGames()[1].arrivalMs, 105001u);
}

TEST_F(LanDatagramTest, EndOfGameGoldenBytesWhenTheHostIsDeleted)
{
    auto game = lantest::MakeFinishedGame(0xA0B0C0D0);
    auto host = std::make_unique<LanGameHost>(game.get());
    host.reset();
    ASSERT_TRUE(PumpUntil([&] { return wc3.EndGames().size() == 1; }));
    EXPECT_EQ(wc3.Datagrams().back().raw, Bytes({0xF7, 0x33, 0x08, 0x00, 0xD0, 0xC0, 0xB0, 0xA0}));
}

TEST_F(LanDatagramTest, GameInfoGoldenBytesOfTheFixture)
{
    const std::string mapPath = "Maps\\(2)EchoIsles.w3x";
    auto game = lantest::MakeFinishedGame(0x00000042, "Fixture Game", mapPath);
    bcx::ProgramClock::Set(123456);
    auto host = std::make_unique<LanGameHost>(game.get());
    // The host takes the bound session port, the game id as host counter, the clock as entry key, and
    // marks the last info byte A.
    EXPECT_EQ(game->mInfo->mSessionPort, 10385);
    EXPECT_EQ(game->mInfo->mEntryKey, 123456u);

    bcx::ProgramClock::Set(130000);
    host->SendServerInfo(*std::make_unique<sockaddr_in>([&] {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(wc3.UdpPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return to;
    }()));
    ASSERT_TRUE(PumpUntil([&] { return wc3.GameInfos().size() == 1; }));

    // Built here from the fixture with the test client's own encoder: the relay's 16 info bytes, then the
    // rest of the encoding of stat string + map path + second text + empty text.
    const std::string raw = lantest::RawStatString() + mapPath + '\0' + "Brawlcast" + '\0' + '\0';
    const std::string enc = lan::EncodeStatString(raw);
    std::string info16 = std::string(1, char(lantest::kInfoPrefixByte)) + enc.substr(0, 15);
    info16[5] = static_cast<char>(info16[5] | 0x40);
    lan::ByteWriter body;
    body.U32(lantest::kProduct).U32(lantest::kVersion).U32(0x42).U32(123456).CStr("Fixture Game");
    body.Bytes(info16).Bytes(enc.substr(15));
    body.U32(0x11223344).U32(0x55667788).U32(0).U32(1).U32(130000).U16(10385);
    EXPECT_EQ(lan::Hex(wc3.Datagrams().back().raw, 512), lan::Hex(lan::Frame(0x30, body.Str()), 512));

    const bcxtest::LanGameInfo& gi = wc3.GameInfos()[0];
    EXPECT_TRUE(gi.ok) << (wc3.ProtocolErrors().empty() ? "" : wc3.ProtocolErrors()[0]);
    EXPECT_FALSE(gi.live);
    EXPECT_EQ(gi.mapPath, mapPath);
    EXPECT_EQ(gi.secondText, "Brawlcast");
    EXPECT_EQ(gi.mapWidth, lantest::kMapWidth);
    EXPECT_EQ(gi.mapCrc, lantest::kMapCrc);
    EXPECT_EQ(gi.mapFlags, lantest::kMapFlags | 0x40000000u);
    EXPECT_EQ(gi.sessionPort, 10385);
    EXPECT_EQ(gi.hostCounter, 0x42u);
}

TEST_F(LanDatagramTest, LiveGameNameStartsWithBangAndAnEmptyMapPathDoesNotEndTheStatStringEarly)
{
    auto game = lantest::MakeFinishedGame(7, "Live One", "");
    game->mState = GameStateLive;
    auto host = std::make_unique<LanGameHost>(game.get());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(wc3.UdpPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    host->SendServerInfo(to);
    ASSERT_TRUE(PumpUntil([&] { return wc3.GameInfos().size() == 1; }));
    const bcxtest::LanGameInfo& gi = wc3.GameInfos()[0];
    EXPECT_TRUE(gi.ok);
    EXPECT_TRUE(gi.live);
    EXPECT_EQ(gi.name, "!Live One");
    EXPECT_TRUE(gi.statStringOk);
    EXPECT_EQ(gi.mapPath, "");
    EXPECT_EQ(gi.secondText, "Brawlcast");
    EXPECT_EQ(gi.sessionPort, 10385);
}

TEST(StatStringEncoding, BlockBoundaries)
{
    // The first byte completes the relay's block; then blocks of seven behind a mask.
    EXPECT_EQ(Encode(""), Bytes({0}));
    EXPECT_EQ(Encode(Bytes({0x4D})), Bytes({0x4D, 0}));
    EXPECT_EQ(Encode(Bytes({0x4D, 0, 0, 0})), Bytes({0x4D, 0x01, 1, 1, 1, 0}));
    // An even first byte goes out plus 1 like every other even byte (never a 0 inside the encoding).
    EXPECT_EQ(Encode(Bytes({0x00, 0x03})), Bytes({0x01, 0x03, 0x03, 0}));
    // Exactly one full block behind the first byte.
    EXPECT_EQ(Encode(Bytes({0x41, 1, 2, 3, 4, 5, 6, 7})), Bytes({0x41, 0xAB, 1, 3, 3, 5, 5, 7, 7, 0}));
    // One byte into the second block.
    EXPECT_EQ(Encode(Bytes({0x41, 1, 2, 3, 4, 5, 6, 7, 0xFE})),
              Bytes({0x41, 0xAB, 1, 3, 3, 5, 5, 7, 7, 0x01, 0xFF, 0}));
    // Fourteen bytes behind the first: two full blocks.
    std::string raw(15, '\x10');
    raw[14] = '\x11';
    const std::string enc = Encode(raw);
    ASSERT_EQ(enc.size(), 1u + 8 + 8 + 1);
    EXPECT_EQ(static_cast<uint8_t>(enc[1]), 0x01);
    EXPECT_EQ(static_cast<uint8_t>(enc[9]), 0x81);
    EXPECT_EQ(enc.back(), '\0');
    EXPECT_EQ(enc.find('\0'), enc.size() - 1);
}

TEST(StatStringEncoding, DecodesBackWithTheIndependentDecoderAtEveryLength)
{
    for (size_t n = 1; n <= 30; ++n) {
        std::string raw;
        for (size_t i = 0; i < n; ++i)
            raw.push_back(static_cast<char>((i * 37 + n) & 0xFF));
        const std::string enc = Encode(raw);
        ASSERT_EQ(enc.find('\0'), enc.size() - 1) << n;
        // The independent decoder reads mask-led blocks; give the first byte a mask of its own.
        const uint8_t first = static_cast<uint8_t>(raw[0]);
        std::string framed = std::string(1, char(first & 1 ? 0x03 : 0x01)) + enc;
        // That mask announces up to seven bytes: only the first belongs to it, so decode in two steps.
        size_t pos = 0;
        std::string head;
        std::string one = framed.substr(0, 2) + std::string(1, '\0');
        ASSERT_TRUE(lan::DecodeStatString(one, pos, head));
        ASSERT_EQ(head, raw.substr(0, 1)) << n;
        pos = 2;
        std::string rest;
        ASSERT_TRUE(lan::DecodeStatString(framed, pos, rest)) << n;
        EXPECT_EQ(rest, raw.substr(1)) << n;
        EXPECT_EQ(pos, framed.size()) << n;
    }
}

TEST_F(LanDatagramTest, SearchPollHandsEveryWaitingSearchOnAndIgnoresMalformedDatagrams)
{
    LanListener listener;
    std::vector<uint32_t> asked;
    listener.SetHostLookup([&](uint32_t id) -> LanGameHost* {
        asked.push_back(id);
        return nullptr;
    });
    const uint16_t port = core->DatagramLocalPort();
    bcxtest::SearchOptions undersized;
    undersized.totalSize = 15;
    bcxtest::SearchOptions oversized;
    oversized.totalSize = 65;
    bcxtest::SearchOptions badFirst;
    badFirst.firstByte = 0xF8;
    bcxtest::SearchOptions ffFirst;
    ffFirst.firstByte = 0xFF;
    ASSERT_TRUE(wc3.SendSearch(port, 0x11, undersized));
    ASSERT_TRUE(wc3.SendSearch(port, 0x22, oversized));
    ASSERT_TRUE(wc3.SendSearch(port, 0x33, badFirst));
    ASSERT_TRUE(wc3.SendDatagram(port, lan::Frame(0x30, std::string(12, '\x01'))));  // not a search
    ASSERT_TRUE(wc3.SendSearch(port, 0x44));
    ASSERT_TRUE(wc3.SendSearch(port, 0x55, ffFirst));
    bcxtest::SearchOptions padded;
    padded.totalSize = 64;  // the largest datagram taken
    ASSERT_TRUE(wc3.SendSearch(port, 0x66, padded));
    bcxtest::PumpFor(30);  // loopback delivery

    // The socket drops the oversized datagram and that poll ends there; the next poll reads the rest in
    // one go. Only the well-formed searches reach a lookup.
    listener.PollSearches();
    EXPECT_TRUE(asked.empty());
    listener.PollSearches();
    EXPECT_EQ(asked, (std::vector<uint32_t>{0x44, 0x55, 0x66}));
    asked.clear();
    listener.PollSearches();
    EXPECT_TRUE(asked.empty());
}

TEST_F(LanDatagramTest, SearchForAGameWithAHostIsAnsweredAndAnUnknownOneIsNot)
{
    auto game = lantest::MakeFinishedGame(0x77);
    auto host = std::make_unique<LanGameHost>(game.get());
    LanListener listener;
    listener.SetHostLookup([&](uint32_t id) { return id == 0x77 ? host.get() : nullptr; });
    const uint16_t port = core->DatagramLocalPort();

    ASSERT_TRUE(wc3.SendSearch(port, 0x78));
    bcxtest::PumpFor(30);
    listener.PollSearches();
    EXPECT_EQ(host->PendingRequester(), nullptr);

    ASSERT_TRUE(wc3.SendSearch(port, 0x77));
    bcxtest::PumpFor(30);
    listener.PollSearches();
    // The first search waits for the ordered answer; it names the test client's address.
    ASSERT_NE(host->PendingRequester(), nullptr);
    EXPECT_EQ(ntohs(host->PendingRequester()->sin_port), wc3.UdpPort());

    // A second search while one waits is answered at once.
    ASSERT_TRUE(wc3.SendSearch(port, 0x77));
    bcxtest::PumpFor(30);
    listener.PollSearches();
    ASSERT_TRUE(PumpUntil([&] { return wc3.GameInfos().size() == 1; }));
    EXPECT_EQ(wc3.GameInfos()[0].hostCounter, 0x77u);
    EXPECT_EQ(wc3.GameInfos()[0].fromPort, port);
    // The host still holds the first requester; deleting the host frees it.
    EXPECT_NE(host->PendingRequester(), nullptr);
    host.reset();
}

TEST_F(LanDatagramTest, SearchesForTwoRegisteredHostsAreAnsweredNewestFirst)
{
    core->SetSessionFactory(LanGameHost::Factory);
    Game* older = lantest::MakeFinishedGame(0x100, "Older").release();
    older->mStartTime = 1000;
    Game* newer = lantest::MakeFinishedGame(0x200, "Newer").release();
    newer->mStartTime = 2000;
    ASSERT_TRUE(core->AddGame(older));
    ASSERT_TRUE(core->AddGame(newer));
    core->AddSession(older);
    core->AddSession(newer);
    ASSERT_NE(dynamic_cast<LanGameHost*>(core->GetSession(0x100)), nullptr);

    LanListener listener;  // looks the hosts up in the registry
    const uint16_t port = core->DatagramLocalPort();
    ASSERT_TRUE(wc3.SendSearch(port, 0x100));
    bcxtest::PumpFor(30);
    listener.PollSearches();
    // One of two hosts waits: nothing is answered yet.
    bcxtest::PumpFor(50);
    EXPECT_TRUE(wc3.GameInfos().empty());

    ASSERT_TRUE(wc3.SendSearch(port, 0x200));
    bcxtest::PumpFor(30);
    listener.PollSearches();
    ASSERT_TRUE(PumpUntil([&] { return wc3.GameInfos().size() == 2; }));
    EXPECT_EQ(wc3.GameInfos()[0].gameName, "Newer");
    EXPECT_EQ(wc3.GameInfos()[1].gameName, "Older");
    EXPECT_EQ(core->GetSession(0x100)->PendingRequester(), nullptr);
    EXPECT_EQ(core->GetSession(0x200)->PendingRequester(), nullptr);
}

TEST_F(LanDatagramTest, AWaitingSearchIsAnsweredByTheTickAfterOneSecond)
{
    core->SetSessionFactory(LanGameHost::Factory);
    Game* first = lantest::MakeFinishedGame(0x300, "First").release();
    Game* second = lantest::MakeFinishedGame(0x301, "Second").release();
    // Offered by the user, so that the re-decision a host without clients asks for keeps both hosts.
    first->mOffer = LanOfferedByUser;
    second->mOffer = LanOfferedByUser;
    ASSERT_TRUE(core->AddGame(first));
    ASSERT_TRUE(core->AddGame(second));
    core->AddSession(first);
    core->AddSession(second);
    auto* host = dynamic_cast<LanGameHost*>(core->GetSession(0x300));
    ASSERT_NE(host, nullptr);

    LanListener listener;
    ASSERT_TRUE(wc3.SendSearch(core->DatagramLocalPort(), 0x300));
    bcxtest::PumpFor(30);
    listener.PollSearches();
    ASSERT_NE(host->PendingRequester(), nullptr);

    bcx::ProgramClock::Advance(1000);
    host->Tick();
    bcxtest::PumpFor(50);
    EXPECT_TRUE(wc3.GameInfos().empty());
    EXPECT_NE(host->PendingRequester(), nullptr);

    bcx::ProgramClock::Advance(1);
    host->Tick();
    ASSERT_TRUE(PumpUntil([&] { return wc3.GameInfos().size() == 1; }));
    EXPECT_EQ(wc3.GameInfos()[0].gameName, "First");
    EXPECT_EQ(host->PendingRequester(), nullptr);
}

} // namespace
