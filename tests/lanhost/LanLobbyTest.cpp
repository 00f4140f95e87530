// The lobby phase: the lobby messages as the game details arrive, the completion of the lobby (chat
// senders, renames, recolouring, countdown), and the slot-table writers' bounds.

#include <string>

#include <gtest/gtest.h>

#include "core/Packet.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanFixture.h"
#include "platform/ProgramClock.h"
#include "platform/Random.h"

namespace {

using bcxtest::MapReply;
using bcxtest::PumpUntil;

class LanLobbyTest : public lantest::HostedGameTest {
protected:
    // Joins with the test client's loaded notice held back, waits until QuickStart asks for the start and
    // completes the lobby with one tick, up to the end of the countdown.
    void JoinAndCompleteLobby(LanClient*& client)
    {
        wc3.SetAutoLoaded(false);
        client = JoinAndAttach();
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return client->mStartRequested != 0; }));
        TickHost();
        ASSERT_TRUE(PumpUntil([&] { return wc3.CountdownEnds().size() == 1; }));
    }
};

TEST_F(LanLobbyTest, DetailsArrivingBitByBitAreSentOnceEachAtTheLobbySpacing)
{
    game->mDetails->mCompleteness = 0;
    wc3.SetMapReply(MapReply::Off);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return wc3.Pings().size() == 1; }));
    EXPECT_TRUE(wc3.SlotTables().empty());

    // The slot table arrives: sent at the next lobby step, more than 500 ms after the last one (the attach).
    game->mDetails->mCompleteness = GameDetails::kHaveBase | GameDetails::kHaveSlots;
    for (int i = 0; i < 5; ++i)
        TickHost();
    bcxtest::PumpFor(20);
    EXPECT_TRUE(wc3.SlotTables().empty());
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return wc3.SlotTables().size() == 1; }));
    // The player records arrive 100 ms later: wait for the next step again.
    TickHost();
    game->mDetails->mCompleteness |= GameDetails::kHavePlayers;
    for (int i = 0; i < 4; ++i)
        TickHost();
    bcxtest::PumpFor(20);
    EXPECT_TRUE(wc3.Players().empty());
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return wc3.Players().size() == 3; }));
    // The map check last; then nothing is repeated.
    game->mDetails->mCompleteness |= GameDetails::kHaveMapCheck;
    for (int i = 0; i < 15; ++i)
        TickHost();
    ASSERT_TRUE(PumpUntil([&] { return wc3.MapChecks().size() == 1; }));
    bcxtest::PumpFor(20);
    EXPECT_EQ(wc3.SlotTables().size(), 1u);
    EXPECT_EQ(wc3.Players().size(), 3u);
    EXPECT_EQ(wc3.MapChecks().size(), 1u);
    EXPECT_LT(wc3.SlotTables()[0].seq, wc3.Players()[0].seq);
    EXPECT_LT(wc3.Players()[2].seq, wc3.MapChecks()[0].seq);
    EXPECT_EQ(client->mLobbyProgress, 15u);
    // A ping on every pump: the attach, then 27 ticks.
    ASSERT_TRUE(PumpUntil([&] { return wc3.Pings().size() >= 28; }));
    EXPECT_EQ(wc3.Pings().size(), 28u);
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}

TEST_F(LanLobbyTest, MessageLengths)
{
    wc3.SetMapReply(MapReply::Off);
    ASSERT_NE(JoinAndAttach(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return wc3.MapChecks().size() == 1; }));
    auto frameSize = [&](size_t seq) { return wc3.Frames()[seq].raw.size(); };
    EXPECT_EQ(frameSize(wc3.Pings()[0].seq), 8u);
    EXPECT_EQ(frameSize(wc3.SlotTables()[0].seq), 4u + 2 + 1 + 4 * 9 + 4 + 1 + 1 + 1 + 16);
    EXPECT_EQ(frameSize(wc3.Players()[0].seq), 4u + 4 + 1 + 6 + 2 + 32);  // "Alpha" and its NUL
    EXPECT_EQ(wc3.Players()[0].tail, std::string("\x01\x00", 2) + std::string(32, '\0'));
    EXPECT_EQ(frameSize(wc3.MapChecks()[0].seq), 4u + 4 + 22 + 4 + 4 + 4);
}

TEST_F(LanLobbyTest, StartAnnouncedGameShowsTheStreamingDelay)
{
    game->mDownloadState = DownloadStartAnnounced;
    game->mDueTime = 2000000000;
    bcx::WallClock::SetManual(true);
    bcx::WallClock::Set(2000000000 - 125);
    wc3.SetMapReply(MapReply::Off);
    ASSERT_NE(JoinAndAttach(), nullptr);
    TickHost(600);
    TickHost(600);
    ASSERT_TRUE(PumpUntil([&] { return CountChat("[BCX]Delay ends in 02min 05s") == 2; }));
    EXPECT_EQ(CountChat("[BCX]Remote game has been started. Please wait for end of streaming delay."), 1u);
}

TEST_F(LanLobbyTest, NoObserversButTheViewPlayer)
{
    // Player 4 plays instead of watching: only the view player observes.
    game->mDetails->mSlots[3].mTeam = 0;
    LanClient* client = nullptr;
    ASSERT_NO_FATAL_FAILURE(JoinAndCompleteLobby(client));
    // GetOtherPlayer(0) falls back to the first playing human; every sender shares it with its prompt.
    EXPECT_EQ(client->mSenders[ChatSenderSystem].mPlayerId, 1u);
    EXPECT_EQ(client->mSenders[ChatSenderSystem].mPrefix, "[BCX] ");
    EXPECT_EQ(client->mSenders[ChatSenderObserver].mPlayerId, 1u);
    EXPECT_EQ(client->mSenders[ChatSenderObserver].mPrefix, "[Obs] ");
    EXPECT_EQ(client->mSenders[ChatSenderIrc].mPrefix, "[Irc] ");
    EXPECT_EQ(client->mSenders[ChatSenderWizard].mPrefix, "[Wiz] ");
    EXPECT_TRUE(wc3.PlayersLeft().empty());
}

TEST_F(LanLobbyTest, FourObserversSpreadTheSendersAndAreRenamed)
{
    GameDetails& d = *game->mDetails;
    d.mSlotCount = 7;
    for (uint8_t i = 4; i < 7; ++i) {
        d.mSlots[i] = d.mSlots[3];
        d.mSlots[i].mPlayerId = static_cast<uint8_t>(i + 1);
        d.mPlayers[i + 1].mValid = 1;
        d.mPlayers[i + 1].mName = "Obs" + std::to_string(i + 1);
    }
    core->Settings().mChangeColors = 0;
    LanClient* client = nullptr;
    ASSERT_NO_FATAL_FAILURE(JoinAndCompleteLobby(client));
    // Five observers (the view player 3 among them): four senders of their own, no decorations.
    EXPECT_EQ(client->mSenders[ChatSenderSystem].mPlayerId, 4u);
    EXPECT_EQ(client->mSenders[ChatSenderObserver].mPlayerId, 5u);
    EXPECT_EQ(client->mSenders[ChatSenderIrc].mPlayerId, 6u);
    EXPECT_EQ(client->mSenders[ChatSenderWizard].mPlayerId, 7u);
    for (const ChatSender& s : client->mSenders)
        EXPECT_EQ(s.mPrefix, "");
    // Renamed: 4 BCX, 5 Obs, 6 Irc, 7 Wiz, the fifth observer to a blank; never the view player.
    ASSERT_EQ(wc3.PlayersLeft().size(), 4u);
    std::vector<std::string> names;
    for (size_t i = wc3.Players().size() - 4; i < wc3.Players().size(); ++i)
        names.push_back(wc3.Players()[i].name);
    EXPECT_EQ(names, (std::vector<std::string>{"BCX", "Obs", "Irc", "Wiz"}));
    // The final slot table keeps the colours when ChangeColors is off.
    EXPECT_EQ(wc3.SlotTables().back().slots[0].colour, 0);
}

GameDetails TeamsOf(const std::vector<int>& teams)
{
    GameDetails d;
    d.mSlotCount = static_cast<uint8_t>(teams.size());
    for (size_t i = 0; i < teams.size(); ++i) {
        SlotRecord& s = d.mSlots[i];
        s.mValid = 1;
        s.mStatus = kSlotStatusUsed;
        s.mPlayerId = static_cast<uint8_t>(i + 1);
        s.mTeam = static_cast<uint8_t>(teams[i]);
        s.mColour = static_cast<uint8_t>(20 + i);
    }
    return d;
}

TEST(SlotColours, OneVersusOneTakesARandomColourPerTeam)
{
    int firstOnes = 0;
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        bcx::Random::Seed(seed);
        GameDetails d = TeamsOf({0, 1, 12});
        LanGameHost::AssignSlotColours(d);
        const int a = d.mSlots[0].mColour, b = d.mSlots[1].mColour;
        EXPECT_TRUE(a == 1 || a == 2) << a;
        EXPECT_TRUE(b == 4 || b == 5 || b == 7) << b;
        EXPECT_EQ(d.mSlots[2].mColour, 22);  // observers keep theirs
        firstOnes += a == 1;
    }
    // Colour 1 in two cases of three.
    EXPECT_GT(firstOnes, 30);
    EXPECT_LT(firstOnes, 55);
}

TEST(SlotColours, ThreeVersusThreeByRank)
{
    GameDetails d = TeamsOf({3, 3, 3, 7, 7, 7});
    LanGameHost::AssignSlotColours(d);
    const int expected[6] = {5, 0, 7, 2, 1, 9};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(d.mSlots[i].mColour, expected[i]) << i;
}

TEST(SlotColours, LargerTeamsOrMoreTeamsKeepTheirColours)
{
    GameDetails big = TeamsOf({0, 0, 0, 0, 1, 1, 1, 1});
    LanGameHost::AssignSlotColours(big);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(big.mSlots[i].mColour, 20 + i);
    GameDetails three = TeamsOf({0, 1, 2});
    LanGameHost::AssignSlotColours(three);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(three.mSlots[i].mColour, 20 + i);
    // Team bytes up to 255 are counted without overrun.
    GameDetails odd = TeamsOf({255, 254});
    bcx::Random::Seed(3);
    LanGameHost::AssignSlotColours(odd);
    EXPECT_TRUE(odd.mSlots[0].mColour == 1 || odd.mSlots[0].mColour == 2);
}

TEST(LobbyRecords, SlotTablesNeverReadPastTwelveSlotsAndBadIdsWriteNothing)
{
    GameDetails d = TeamsOf({0, 1});
    d.mSlotCount = 200;  // as if a record had slipped past the reader's clamp
    warPacket p;
    p.WriteHeader(0x09);
    EXPECT_EQ(d.WriteLanRecord(p, 9, 0, nullptr), 0);
    EXPECT_EQ(p.Size(), 4u + 2 + 1 + 12 * 9 + 4 + 1 + 1);
    EXPECT_EQ(p.Data()[4] | p.Data()[5] << 8, 9 * 12 + 7);
    EXPECT_EQ(p.Data()[6], 12);

    warPacket none;
    EXPECT_EQ(d.WriteLanRecord(none, 30, 0, nullptr), 0);
    EXPECT_EQ(d.WriteLanRecord(none, 5, 0, nullptr), -2);
    EXPECT_EQ(d.WriteLanRecord(none, 62, 0, nullptr), -2);
    EXPECT_EQ(d.WriteLanRecord(none, 6, 13, nullptr), -2);
    EXPECT_EQ(d.WriteLanRecord(none, 6, 0, nullptr), -2);
    EXPECT_EQ(none.Size(), 0u);

    const std::string name = "Renamed";
    warPacket player;
    d.mPlayers[2].mJoinCounter = 0x01020304;
    EXPECT_EQ(d.WriteLanRecord(player, 6, 2, &name), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(player.Data()), player.Size()),
              std::string("\x04\x03\x02\x01\x02Renamed\0\x01\x00", 15) + std::string(32, '\0'));
}

TEST(LobbyRecords, ReadyForLanNeedsInfoCompleteDetailsAndFinishedData)
{
    auto game = lantest::MakeFinishedGame(1);
    EXPECT_TRUE(game->IsReadyForLan());
    game->mDetails->mCompleteness = 7;
    EXPECT_FALSE(game->IsReadyForLan());
    game->mDetails->mCompleteness = 15;
    game->mInfo->mPresent = 0;
    EXPECT_FALSE(game->IsReadyForLan());
    game->mInfo->mPresent = 1;
    delete game->mData;
    game->mData = new GameData();
    EXPECT_FALSE(game->IsReadyForLan());
}

} // namespace
