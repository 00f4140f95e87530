// The commands that do not steer the replay: chat and ping filters, the variable setter, the players
// list, the inert wizard command; and the welcome and streaming-delay texts of the lobby.

#include <string>
#include <vector>

#include "ChatCommandTestSupport.h"
#include "core/ClientCore.h"
#include "platform/TextCodec.h"
#include "support/ClientEventRecorder.h"

namespace {

using Lines = std::vector<std::string>;
using bcxtest::PumpUntil;

const Lines kChatUsage = {"Usage: /chat [<on/off/1/0/*> [<on/off/1/0>]]",
                          "Show/Hide observer chat (1st arg) and player chat (2nd arg)."};
const Lines kPingUsage = {"Usage: /ping [<on/off/1/0/1-/*> [<on/off/1/0>]]",
                          "Show/Hide observer map pings (1st arg) and player map pings (2nd arg)."};

class ChatCommandInfoTest : public cmdtest::ChatCommandTest {
protected:
    void SetSlot(int index, uint8_t playerId, uint8_t team, uint8_t computer = 0)
    {
        SlotRecord& slot = game->mDetails->mSlots[index];
        slot.mValid = 1;
        slot.mStatus = kSlotStatusUsed;
        slot.mPlayerId = playerId;
        slot.mTeam = team;
        slot.mComputer = computer;
        slot.mComputerLevel = 1;
    }
};

} // namespace

TEST_F(ChatCommandInfoTest, ChatReportsAndSetsTheChatFilters)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    bcxtest::ClientEventRecorder settingsWindow;
    core->SetSettingsTarget(&settingsWindow);
    ClientSettings& settings = core->Settings();
    settings.mObserverChat = 1;
    settings.mPlayerChat = 1;

    EXPECT_EQ(Run(client, "/chat"), Lines{"Chat: Observer: on,  Player: on"});
    EXPECT_EQ(Run(client, "/chat * off"), Lines{"Chat: Observer: on,  Player: off"});
    EXPECT_EQ(settings.mPlayerChat, 0);
    EXPECT_EQ(Run(client, "/chat 0"), Lines{"Chat: Observer: off,  Player: off"});
    EXPECT_EQ(Run(client, "/chat ON\t Off"), Lines{"Chat: Observer: on,  Player: off"});
    EXPECT_EQ(Run(client, "/chat off 1 ignored"), Lines{"Chat: Observer: off,  Player: on"});
    EXPECT_EQ(settings.mObserverChat, 0);
    EXPECT_EQ(settings.mPlayerChat, 1);
    ASSERT_TRUE(PumpUntil([&] { return settingsWindow.Count(ClientEventSettings) == 5; }));

    // Wrong words give the usage and change nothing.
    for (const char* bad : {"/chat off *", "/chat yes", "/chat 1 2", "/chat 1-"}) {
        EXPECT_EQ(Run(client, bad), kChatUsage) << bad;
        EXPECT_EQ(settings.mObserverChat, 0) << bad;
        EXPECT_EQ(settings.mPlayerChat, 1) << bad;
    }
    bcxtest::PumpFor(10);
    EXPECT_EQ(settingsWindow.Count(ClientEventSettings), 5u);
    core->SetSettingsTarget(nullptr);
}

TEST_F(ChatCommandInfoTest, PingReportsAndSetsThePingFlags)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    ClientSettings& settings = core->Settings();
    settings.mObsPing = 3;
    settings.mPlayerPing = 3;

    EXPECT_EQ(Run(client, "/ping"), Lines{"Ping: Observer: ping + msg,  Player: ping + msg"});
    EXPECT_EQ(Run(client, "/ping 1- on"), Lines{"Ping: Observer: ping,  Player: ping + msg"});
    EXPECT_EQ(settings.mObsPing, 2);
    EXPECT_EQ(settings.mPlayerPing, 3);
    EXPECT_EQ(Run(client, "/ping * OFF"), Lines{"Ping: Observer: ping,  Player: off"});
    EXPECT_EQ(Run(client, "/ping On- on-"), Lines{"Ping: Observer: ping,  Player: ping"});
    EXPECT_EQ(settings.mPlayerPing, 2);
    settings.mObsPing = 1;  // a stored message flag alone
    EXPECT_EQ(Run(client, "/ping"), Lines{"Ping: Observer: off + msg,  Player: ping"});

    for (const char* bad : {"/ping * *", "/ping 2", "/ping on maybe"}) {
        EXPECT_EQ(Run(client, bad), kPingUsage) << bad;
        EXPECT_EQ(settings.mObsPing, 1) << bad;
        EXPECT_EQ(settings.mPlayerPing, 2) << bad;
    }
    EXPECT_EQ(Run(client, "/help ping"), kPingUsage);
    EXPECT_EQ(Run(client, "/help chat"), kChatUsage);
}

TEST_F(ChatCommandInfoTest, SetKnowsOnlyTimesteps)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(Run(client, "/set timesteps 1"), Lines{"mShowTimesteps set to 1"});
    EXPECT_EQ(client->mShowTimesteps, 1);
    EXPECT_EQ(Run(client, "/set timesteps on"), Lines{"mShowTimesteps set to 0"});
    EXPECT_EQ(client->mShowTimesteps, 0);
    EXPECT_EQ(Run(client, "/set TimeSteps true"), Lines{"mShowTimesteps set to 1"});
    EXPECT_EQ(Run(client, "/set timesteps"), Lines{"mShowTimesteps set to 0"});
    EXPECT_EQ(Run(client, "/set timesteps  1"), Lines{"mShowTimesteps set to 0"});  // the value is " 1"
    EXPECT_EQ(Run(client, "/set Foo 1"), Lines{"foo not found"});
    EXPECT_EQ(Run(client, "/set 100% 1"), Lines{"100% not found"});
    EXPECT_EQ(Run(client, "/help set"),
              (Lines{"Usage: /set <varname> <value>", "Sets a command to a specific value (temp: try 'timesteps')"}));
}

TEST_F(ChatCommandInfoTest, PlayersListsAOneAgainstOneWithItsObservers)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(Type("/pl"), (Lines{"Players:", " - Alpha (Host)", " - Bravo", "Observers:", " - Streamer (Streamer)",
                                  " - Watcher"}));
}

TEST_F(ChatCommandInfoTest, PlayersListsTeamsByRunningNumberWithComputers)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    GameDetails& d = *game->mDetails;
    // Alpha and a computer in team 3, Bravo and Watcher in team 7; Streamer observes.
    SetSlot(0, 1, 3);
    SetSlot(1, 2, 7);
    SetSlot(2, 3, kObserverTeam);
    SetSlot(3, 4, 7);
    SetSlot(4, 0, 3, 1);
    // Records that cannot be listed: a player id beyond the player records, a used slot without a player.
    SetSlot(5, 200, 1);
    SetSlot(6, 0, 1, 0);
    // The streamer sits in an open slot elsewhere too: only a used slot carries the tag.
    d.mSlots[7] = d.mSlots[2];
    d.mSlots[7].mStatus = kSlotStatusOpen;

    const std::string computer = " - " + bcx::Utf8ToGbk("电脑 (中等)");
    EXPECT_EQ(Run(client, "/players"), (Lines{"Team 1:", " - Alpha (Host)", computer, "Team 2:", " - Bravo",
                                              " - Watcher", "Observers:", " - Streamer (Streamer)"}));

    // The host slot can be the streamer's too; an empty observer list still has its heading.
    d.mViewPlayer = 1;
    d.mSlots[2].mValid = 0;
    EXPECT_EQ(Run(client, "/players"), (Lines{"Team 1:", " - Alpha (Host) (Streamer)", computer, "Team 2:",
                                              " - Bravo", " - Watcher", "Observers:"}));

    // A team number beyond the usual twelve is still counted and listed.
    SetSlot(3, 4, 250);
    d.mSlots[4].mValid = 0;
    EXPECT_EQ(Run(client, "/players"), (Lines{"Players:", " - Alpha (Host) (Streamer)", " - Bravo", " - Watcher",
                                              "Observers:"}));
    SetSlot(8, 5, 250);
    d.mPlayers[5].mName = "Echo";
    EXPECT_EQ(Run(client, "/players"), (Lines{"Team 1:", " - Alpha (Host) (Streamer)", "Team 2:", " - Bravo",
                                              "Team 3:", " - Watcher", " - Echo", "Observers:"}));
}

TEST_F(ChatCommandInfoTest, PlayersWithoutDetailsAndWizardSendNothing)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(Run(client, "/wizard one two three"), Lines{});
    EXPECT_EQ(Run(client, "/w"), Lines{});
    EXPECT_EQ(Run(client, "/help players"), (Lines{"Usage: /players", "Prints information about all players."}));

    GameDetails* details = game->mDetails;
    game->mDetails = nullptr;
    EXPECT_EQ(Run(client, "/players"), Lines{});
    game->mDetails = details;
}

TEST_F(ChatCommandInfoTest, WelcomeBlockIsSentOnceInItsOrder)
{
    // The map check is left unanswered: only the welcome line so far.
    wc3.SetMapReply(bcxtest::MapReply::Off);
    LanClient* client = JoinLobby(bcxtest::MapReply::Off);
    ASSERT_NE(client, nullptr);
    ASSERT_FALSE(wc3.Chats().empty());
    EXPECT_EQ(wc3.Chats().front().text, "[BCX]Welcome to Brawlcast game 'Fixture Game', ");
    EXPECT_EQ(Collect(client, [&] { client->PrintWelcome(1); }), Lines{});

    // Stage 2 with the map found.
    client->mMapValidated = 1;
    const std::string hyphens(47, '-');
    EXPECT_EQ(Collect(client, [&] { client->PrintWelcome(2); }),
              (Lines{"Type /help for help, and /start to start the game.", "Use /ircinit to connect to the IRC.",
                     hyphens}));
    EXPECT_EQ(Collect(client, [&] { client->PrintWelcome(2); }), Lines{});
    EXPECT_EQ(client->mWelcomeStage, 2u);
}

TEST_F(ChatCommandInfoTest, WelcomeWithoutTheMapNamesItsPathOrTheMissingGameInfo)
{
    LanClient* client = JoinLobby(bcxtest::MapReply::Off);
    ASSERT_NE(client, nullptr);
    const std::string hyphens(47, '-');
    game->mInfo->mMapPath = "Maps\\100%.w3x";
    EXPECT_EQ(Collect(client, [&] { client->PrintWelcome(2); }),
              (Lines{hyphens, "Could not find map 'Maps\\100%.w3x'! Auto map download is not supported."}));

    // A stage-2 call that comes first sends both parts; without GameInfo the last line says so.
    client->mWelcomeStage = 0;
    GameInfo* info = game->mInfo;
    game->mInfo = nullptr;
    const Lines lines = Collect(client, [&] { client->PrintWelcome(2); });
    game->mInfo = info;
    EXPECT_EQ(lines, (Lines{"Welcome to Brawlcast game 'Fixture Game', ", hyphens, "No GameInfo!"}));
}

TEST_F(ChatCommandInfoTest, StreamingDelayNoticeOnceThenTheTimeLeft)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    bcx::WallClock::SetManual(true);
    bcx::WallClock::Set(1800000000);
    game->mDueTime = 1800000000 + 125;
    EXPECT_EQ(Collect(client, [&] { client->PrintStreamingDelay(); }),
              (Lines{"Remote game has been started. Please wait for end of streaming delay.", "Delay ends in 02min 05s"}));
    bcx::WallClock::Advance(120);
    EXPECT_EQ(Collect(client, [&] { client->PrintStreamingDelay(); }), Lines{"Delay ends in 00min 05s"});
    bcx::WallClock::Advance(60);
    EXPECT_EQ(Collect(client, [&] { client->PrintStreamingDelay(); }), Lines{"Delay ends in 00min 00s"});
    bcx::WallClock::SetManual(false);
}
