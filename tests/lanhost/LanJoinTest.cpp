// Joining over the session port: the listener reads the join request however it arrives, hands the
// connection to the host of the game it names, and closes connections that name no game or break the
// frame. After the attach the host owns the rest of the stream.

#include <string>

#include <gtest/gtest.h>

#include "lanhost/LanFixture.h"
#include "peers/LanWire.h"
#include "support/WxLoopback.h"

namespace {

using bcxtest::JoinOptions;
using bcxtest::PumpUntil;
namespace lan = bcxtest::lan;

class LanJoinTest : public lantest::HostedGameTest {};

// A lobby chat line as Warcraft III sends it (0x28, flag 0x10).
std::string LobbyChat(const std::string& text)
{
    lan::ByteWriter w;
    w.U8(1).U8(1).U8(3).U8(0x10).CStr(text);
    return lan::Frame(0x28, w.Str());
}

TEST_F(LanJoinTest, JoinSplitOverThreeWritesAttachesAndTheLobbyBegins)
{
    JoinOptions options;
    options.splitInThree = true;
    options.playerName = "Split Viewer";
    LanClient* client = JoinAndAttach(options);
    ASSERT_NE(client, nullptr);
    EXPECT_TRUE(listener->Clients().Empty());
    EXPECT_EQ(client->mPlayerName, "Split Viewer");
    EXPECT_EQ(client->mGame, game.get());
    EXPECT_TRUE(log.Contains("is identified as 'Split Viewer'"));
    EXPECT_TRUE(log.Contains("attached to game[0x0000BEEF] 'Fixture Game'"));
    // The attach pumps the client once: a ping and the lobby of the complete details.
    ASSERT_TRUE(PumpUntil([&] { return wc3.MapChecks().size() == 1; }));
    EXPECT_EQ(wc3.Pings().size(), 1u);
    EXPECT_EQ(wc3.SlotTables().size(), 1u);
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}

TEST_F(LanJoinTest, ASecondPacketCoalescedWithTheJoinIsHandledByTheHost)
{
    JoinOptions options;
    options.coalesced = LobbyChat("hello");
    ASSERT_NE(JoinAndAttach(options), nullptr);
    // Plain chat without an IRC channel gets the notice: the host read the packet that came behind the join.
    ASSERT_TRUE(PumpUntil([&] { return HasChat("[BCX]No chat interface to talk to"); }));
    EXPECT_EQ(host->Clients().Size(), 1u);
    EXPECT_EQ(log.Count("attached to game"), 1u);
}

TEST_F(LanJoinTest, UnknownHostCounterClosesTheConnection)
{
    JoinOptions options;
    options.overrideHostCounter = true;
    options.hostCounter = 0xDEAD;
    ASSERT_TRUE(wc3.Join(listener->SessionPort(), game->mId, options));
    ASSERT_TRUE(PumpUntil([&] { return wc3.HostClosed(); }));
    EXPECT_TRUE(listener->Clients().Empty());
    EXPECT_TRUE(host->Clients().Empty());
    const auto& lines = log.Lines();
    size_t identified = lines.size(), disconnected = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("is identified as 'Viewer'") != std::string::npos)
            identified = i;
        if (lines[i].find("disconnected, no valid game[0x0000DEAD] found ") != std::string::npos)
            disconnected = i;
    }
    ASSERT_LT(identified, lines.size());
    ASSERT_LT(disconnected, lines.size());
    EXPECT_LT(identified, disconnected);
}

TEST_F(LanJoinTest, ConnectionLostBeforeJoiningLeavesTheListenersList)
{
    JoinOptions options;
    options.connectOnly = true;
    ASSERT_TRUE(wc3.Join(listener->SessionPort(), game->mId, options));
    ASSERT_TRUE(PumpUntil([&] { return listener->Clients().Size() == 1; }));
    EXPECT_TRUE(log.Contains("connected from '127.0.0.1:"));
    wc3.Close();
    ASSERT_TRUE(PumpUntil([&] { return listener->Clients().Empty(); }));
    EXPECT_TRUE(log.Contains("lost connection"));
    EXPECT_TRUE(host->Clients().Empty());
}

TEST_F(LanJoinTest, DuplicateJoinAttachesOnceAndTheHostKeepsItsClient)
{
    JoinOptions options;
    options.duplicate = true;
    ASSERT_NE(JoinAndAttach(options), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("unknown packet: 30"); }));
    bcxtest::PumpFor(30);
    EXPECT_EQ(host->Clients().Size(), 1u);
    EXPECT_EQ(log.Count("attached to game"), 1u);
    EXPECT_TRUE(listener->Clients().Empty());
    EXPECT_FALSE(wc3.HostClosed());
}

TEST_F(LanJoinTest, LengthFieldBelowTheHeaderSizeClosesTheConnection)
{
    for (int length : {0, 3}) {
        bcxtest::TestLanClient viewer(0);
        bcxtest::ScopedPumpHook viewerHook([&] { viewer.Poll(); });
        JoinOptions options;
        options.lengthField = length;
        ASSERT_TRUE(viewer.Join(listener->SessionPort(), game->mId, options));
        ASSERT_TRUE(PumpUntil([&] { return viewer.HostClosed(); })) << length;
        EXPECT_TRUE(listener->Clients().Empty());
        EXPECT_TRUE(host->Clients().Empty());
    }
    EXPECT_EQ(log.Count("disconnected, broken packet"), 2u);
}

TEST_F(LanJoinTest, FirstByteFFIsAcceptedAndF8IsNot)
{
    JoinOptions bad;
    bad.firstByte = 0xF8;
    ASSERT_TRUE(wc3.Join(listener->SessionPort(), game->mId, bad));
    ASSERT_TRUE(PumpUntil([&] { return wc3.HostClosed(); }));
    EXPECT_TRUE(host->Clients().Empty());

    bcxtest::TestLanClient viewer(0);
    bcxtest::ScopedPumpHook viewerHook([&] { viewer.Poll(); });
    JoinOptions ff;
    ff.firstByte = 0xFF;
    ASSERT_TRUE(viewer.Join(listener->SessionPort(), game->mId, ff));
    ASSERT_TRUE(PumpUntil([&] { return host->Clients().Size() == 1; }));
}

TEST_F(LanJoinTest, PacketsOtherThanTheJoinAreDroppedBeforeAttachment)
{
    JoinOptions options;
    options.connectOnly = true;
    ASSERT_TRUE(wc3.Join(listener->SessionPort(), game->mId, options));
    ASSERT_TRUE(PumpUntil([&] { return listener->Clients().Size() == 1; }));
    wc3.SendRaw(LobbyChat("early"));
    bcxtest::PumpFor(50);
    EXPECT_TRUE(wc3.Chats().empty());
    EXPECT_EQ(listener->Clients().Size(), 1u);
    wc3.SendRaw(bcxtest::TestLanClient::BuildJoin(game->mId, JoinOptions()));
    ASSERT_TRUE(PumpUntil([&] { return host->Clients().Size() == 1; }));
    EXPECT_TRUE(listener->Clients().Empty());
}

TEST_F(LanJoinTest, SessionPortBindTriesTheFollowingPorts)
{
    // Occupy the listener's port; a second listener starting there takes the next free one.
    LanListener second;
    wxIPV4address loopback = bcxtest::LoopbackWxAddress();
    ASSERT_TRUE(second.BindSessionPort(listener->SessionPort(), &loopback));
    EXPECT_GT(second.SessionPort(), listener->SessionPort());
    EXPECT_LE(second.SessionPort(), listener->SessionPort() + 19);
    EXPECT_TRUE(log.Contains("Failed to bind session port"));
    EXPECT_EQ(core->GetSessionPort(), second.SessionPort());
}

} // namespace
