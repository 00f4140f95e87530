// The host's handling of a joined Warcraft III: the lobby of a fixture game, the start, the release of the
// stored action messages, the messages Warcraft III sends, and the connections it drops.

#include <string>

#include <gtest/gtest.h>

#include "core/CountingSocket.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanFixture.h"
#include "peers/LanWire.h"
#include "platform/ProgramClock.h"
#include "platform/Random.h"

namespace {

using bcxtest::JoinOptions;
using bcxtest::MapReply;
using bcxtest::PumpUntil;
namespace lan = bcxtest::lan;

class LanHostTest : public lantest::HostedGameTest {
protected:
};

TEST_F(LanHostTest, FinishedGameFromJoinToTheEndOfTheData)
{
    bcx::Random::Seed(7);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    const uint32_t id = client->GetConnectionId();

    // Complete details in one lobby step: slot table, the players but the view player, then the map check.
    ASSERT_TRUE(PumpUntil([&] { return wc3.MapChecks().size() == 1; }));
    ASSERT_EQ(wc3.SlotTables().size(), 1u);
    const bcxtest::LanSlotTable& table = wc3.SlotTables()[0];
    EXPECT_EQ(table.id, 0x04);
    EXPECT_EQ(table.declaredSize, 9 * 4 + 7);
    EXPECT_EQ(table.slots.size(), 4u);
    EXPECT_EQ(table.viewPlayerId, 3);
    EXPECT_EQ(table.randomSeed, 0x12345678u);
    ASSERT_EQ(wc3.Players().size(), 3u);
    EXPECT_EQ(wc3.Players()[0].playerId, 1);
    EXPECT_EQ(wc3.Players()[0].name, "Alpha");
    EXPECT_EQ(wc3.Players()[0].joinCounter, 11u);
    EXPECT_EQ(wc3.Players()[2].playerId, 4);
    EXPECT_LT(table.seq, wc3.Players()[0].seq);
    EXPECT_LT(wc3.Players()[2].seq, wc3.MapChecks()[0].seq);
    EXPECT_EQ(wc3.MapChecks()[0].mapPath, "Maps\\(2)EchoIsles.w3x");
    EXPECT_EQ(wc3.MapChecks()[0].mapSize, 0x0001F2A0u);
    EXPECT_TRUE(PumpUntil([&] { return HasChat("[BCX]Welcome to Brawlcast game 'Fixture Game', "); }));

    // The test client answers the map check: found, and QuickStart starts the game.
    ASSERT_TRUE(PumpUntil([&] { return client->mStartRequested != 0; }));
    EXPECT_TRUE(log.Contains("validated the map with 0x0001F2A0"));
    EXPECT_TRUE(PumpUntil([&] { return HasChat("[BCX]Type /help for help, and /start to start the game."); }));
    EXPECT_TRUE(PumpUntil([&] { return HasChat("[BCX]Starting game as soon as its ready..."); }));

    // The next pump completes the lobby: the observer who is not the view player speaks for the system
    // and is renamed, the final slot table, the countdown.
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return wc3.CountdownEnds().size() == 1; }));
    EXPECT_EQ(client->mSenders[ChatSenderSystem].mPlayerId, 4u);
    EXPECT_EQ(client->mSenders[ChatSenderSystem].mPrefix, "");
    EXPECT_EQ(client->mSenders[ChatSenderObserver].mPlayerId, 4u);
    EXPECT_EQ(client->mSenders[ChatSenderObserver].mPrefix, "[Obs] ");
    EXPECT_EQ(client->mSenders[ChatSenderWizard].mPrefix, "[Wiz] ");
    ASSERT_EQ(wc3.PlayersLeft().size(), 1u);
    EXPECT_EQ(wc3.PlayersLeft()[0].playerId, 4);
    ASSERT_EQ(wc3.Players().size(), 4u);
    EXPECT_EQ(wc3.Players()[3].name, "BCX");
    ASSERT_EQ(wc3.SlotTables().size(), 2u);
    const bcxtest::LanSlotTable& final = wc3.SlotTables()[1];
    EXPECT_EQ(final.id, 0x09);
    EXPECT_TRUE(final.slots[0].colour == 1 || final.slots[0].colour == 2);
    EXPECT_TRUE(final.slots[1].colour == 4 || final.slots[1].colour == 5 || final.slots[1].colour == 7);
    EXPECT_EQ(game->mDetails->mSlots[0].mColour, 0);  // the stored record keeps its colour
    EXPECT_EQ(game->mDetails->mSlots[1].mColour, 1);
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    EXPECT_LT(final.seq, wc3.CountdownStarts()[0]);
    EXPECT_LT(wc3.CountdownStarts()[0], wc3.CountdownEnds()[0]);

    // The test client reports the game loaded; every player gets its loaded notice.
    ASSERT_TRUE(PumpUntil([&] { return client->mLoaded != 0; }));
    ASSERT_TRUE(PumpUntil([&] { return wc3.PlayersLoaded().size() == 4; }));

    // The release: five entries of 100 ms each, then the connection closes behind the last one.
    ASSERT_TRUE(TickUntil([&] { return wc3.HostClosed(); }, 100));
    ASSERT_TRUE(PumpUntil([&] { return host->FindClient(id) == nullptr; }));
    ASSERT_EQ(wc3.Actions().size(), 5u);
    for (const auto& action : wc3.Actions()) {
        EXPECT_EQ(action.increment, 100);
        EXPECT_EQ(action.checksumResult, bcxtest::ChecksumResult::Ok);
    }
    EXPECT_EQ(wc3.ClosedAtSeq(), wc3.Frames().size());
    EXPECT_TRUE(log.Contains("'Viewer' finished"));
    EXPECT_TRUE(wc3.ProtocolErrors().empty()) << wc3.ProtocolErrors()[0];
}

TEST_F(LanHostTest, MapNotFoundNeverStartsTheGameEvenWithQuickStart)
{
    wc3.SetMapReply(MapReply::NotFound);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("' not found!"); }));
    EXPECT_TRUE(log.Contains("map 'Maps\\(2)EchoIsles.w3x' not found!"));
    for (int i = 0; i < 10; ++i)
        TickHost();
    EXPECT_FALSE(client->mStartRequested);
    EXPECT_TRUE(wc3.CountdownStarts().empty());
    EXPECT_TRUE(PumpUntil([&] { return HasChat("[BCX]-----------------------------------------------"); }));
    EXPECT_TRUE(PumpUntil([&] { return HasChat("[BCX]Could not find map 'Maps\\(2)EchoIsles.w3x'! Auto map download is not supported."); }));
    EXPECT_FALSE(HasChat("[BCX]Starting game as soon as its ready..."));
}

TEST_F(LanHostTest, TeamChangeInTheLobbyStartsTheGame)
{
    core->Settings().mQuickStart = 0;
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return client->mMapValidated != 0; }));
    EXPECT_FALSE(client->mStartRequested);
    wc3.SendTeamChange(1);
    ASSERT_TRUE(PumpUntil([&] { return client->mStartRequested != 0; }));
    EXPECT_TRUE(log.Contains("Starting game"));
}

TEST_F(LanHostTest, ThirtiethKeepAliveSendsTheInfoTextOnce)
{
    game->mInfoText1 = "Sponsored line";
    game->mInfoText2 = "Repeated line";
    game->mInfoValue = 60;
    core->Settings().mChangePlayerNames = 0;
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    for (int i = 0; i < 29; ++i)
        wc3.SendKeepAlive();
    ASSERT_TRUE(PumpUntil([&] { return client->mKeepAliveCount == 29; }));
    EXPECT_FALSE(HasChat("[BCX]Sponsored line"));
    wc3.SendKeepAlive();
    wc3.SendKeepAlive();
    ASSERT_TRUE(PumpUntil([&] { return client->mKeepAliveCount == 31; }));
    bcxtest::PumpFor(20);
    EXPECT_EQ(CountChat("[BCX]Sponsored line"), 1u);
    EXPECT_EQ(client->mRepeatTime, bcx::ProgramClock::Now() + 60000);
}

TEST_F(LanHostTest, LoadedNoticeAndKeepAlivesBeforeTheGameHasDataAreSafe)
{
    delete game->mData;
    game->mData = nullptr;
    game->mInfoText1 = "Info";
    wc3.SetMapReply(MapReply::Off);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    for (int i = 0; i < 30; ++i)
        wc3.SendKeepAlive();
    wc3.SendLoaded();
    ASSERT_TRUE(PumpUntil([&] { return client->mLoaded != 0; }));
    // The pump's game phase without data: nothing is released; the game halts after fifteen empty steps.
    ASSERT_TRUE(TickUntil([&] { return client->mReplaySpeed == 0.0; }, 40));
    // In the game a system line carries the in-game decoration (empty prompts by default).
    EXPECT_EQ(CountChat("Game halted due to lack of data from server."), 1u);
    EXPECT_EQ(CountChat("[BCX]Info"), 1u);
    EXPECT_EQ(host->Clients().Size(), 1u);
}

TEST_F(LanHostTest, LeaveOfTheLastClientUnsubscribesTheGame)
{
    game->mSubscription = SubscriptionAwaitingDetails;
    ASSERT_NE(JoinAndAttach(), nullptr);
    wc3.SendLeave();
    ASSERT_TRUE(PumpUntil([&] { return host->Clients().Empty(); }));
    EXPECT_TRUE(log.Contains("'Viewer' leaving"));
    EXPECT_TRUE(log.Contains("[0000BEEF] Unsubscribing game..."));
    ASSERT_TRUE(PumpUntil([&] { return wc3.HostClosed(); }));
}

TEST_F(LanHostTest, LostConnectionRemovesTheClient)
{
    ASSERT_NE(JoinAndAttach(), nullptr);
    wc3.Close();
    ASSERT_TRUE(PumpUntil([&] { return host->Clients().Empty(); }));
    EXPECT_TRUE(log.Contains("Disconnected"));
}

TEST_F(LanHostTest, PingAnswerMeasuresTheRoundTrip)
{
    wc3.SetAutoPong(false);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    const uint32_t sent = bcx::ProgramClock::Now();
    bcx::ProgramClock::Advance(37);
    wc3.SendPong(sent);
    ASSERT_TRUE(PumpUntil([&] { return client->mPingRoundTrip == 37; }));
}

TEST_F(LanHostTest, ViewerWhoStopsReadingIsDisconnectedAfterTheBoundedBacklog)
{
    wc3.SetReceiveBuffer(4096);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    const uint32_t id = client->GetConnectionId();
    wc3.SetReading(false);
    client->GetSocket()->SetMaxQueuedBytes(16 * 1024);
    const std::string line(200, 'x');
    int sends = 0;
    while (!client->SendFailed() && sends < 200000) {
        SendSystemMessage(client, line);
        ++sends;
    }
    ASSERT_TRUE(client->SendFailed());
    EXPECT_LE(client->GetSocket()->QueuedBytes(), 16u * 1024u);
    TickHost();
    EXPECT_EQ(host->FindClient(id), nullptr);
    EXPECT_TRUE(log.Contains("Disconnected, not reading (send backlog full)"));
}

} // namespace
