// The playback commands: their replies and argument errors, the fields they set, and their effect on the
// replay as the game host's paced release carries them out under the manual program clock (speed factor,
// status interval, day-time sync and time shift).

#include <string>
#include <vector>

#include "ChatCommandTestSupport.h"
#include "core/ClientCore.h"
#include "support/LogCapture.h"

namespace {

using Lines = std::vector<std::string>;
using bcxtest::PumpUntil;

class ChatCommandPlaybackTest : public cmdtest::ChatCommandTest {
protected:
    // Ticks (100 ms each) until a system line holding fragment has arrived; false after maxTicks.
    bool TickUntilChat(const std::string& fragment, int maxTicks)
    {
        for (int i = 0; i < maxTicks; ++i) {
            TickHost();
            if (PumpUntil([&] { return CountChatHolding(fragment) > 0; }, 200))
                return true;
        }
        return false;
    }
};

} // namespace

TEST_F(ChatCommandPlaybackTest, StartNeedsTheMapAndIsScheduledOnce)
{
    LanClient* client = JoinLobby(bcxtest::MapReply::Off);
    ASSERT_NE(client, nullptr);
    const Lines noMap = {"Cannot start this game. Map not found!", "Copy map to expected path and rejoin the game."};
    EXPECT_EQ(Run(client, "/start"), noMap);
    EXPECT_EQ(client->mStartRequested, 0);

    wc3.SendMapSize(0x0001F2A0);
    ASSERT_TRUE(PumpUntil([&] { return client->mMapValidated != 0; }));
    Collect(client, [] {});  // the rest of the welcome block
    const uint32_t subscription = game->mSubscription;
    ASSERT_LT(subscription, static_cast<uint32_t>(SubscriptionDataOnly));
    log.Clear();
    EXPECT_EQ(Type("/st"), Lines{"Starting game as soon as its ready..."});
    EXPECT_EQ(client->mStartRequested, 1);
    EXPECT_EQ(game->mSubscription, static_cast<uint32_t>(SubscriptionDataOnly));  // the data is asked for
    EXPECT_TRUE(log.Contains("[0x0000BEEF:0x"));
    EXPECT_TRUE(log.Contains("] Starting game"));
    EXPECT_EQ(Run(client, "/start"), Lines{"Game start has already been scheduled !"});
    client->mStartRequested = 0;
    client->mLoaded = 1;
    EXPECT_EQ(Run(client, "/s"), Lines{"Game start has already been scheduled !"});
}

TEST_F(ChatCommandPlaybackTest, FasterSlowerAndSpeedSetTheReplaySpeedWithinItsBounds)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    struct Step {
        double from;
        const char* line;
        double to;
    };
    const Step steps[] = {
        {0.0, "/faster", 0.25}, {0.3, "/faster", 0.6},  {2.5, "/faster", 4.0}, {4.0, "/faster", 4.0},
        {0.3, "/slower", 0.25}, {4.0, "/slower", 2.0},  {0.0, "/slower", 0.25},
        {1.0, "/speed 5", 4.0}, {1.0, "/sp -1", 0.0},   {1.0, "/speed 2   ", 2.0}, {1.0, "/speed  0.75", 0.75},
        {1.0, "/speed -0", 0.0},
    };
    for (const Step& step : steps) {
        client->mReplaySpeed = step.from;
        const Lines replies = Run(client, step.line);
        EXPECT_EQ(client->mReplaySpeed, step.to) << step.line << " from " << step.from;
        EXPECT_EQ(replies, Lines{"New Replayspeed is " + chatcmd::FormatFixed2(step.to) + "."}) << step.line;
    }

    // Bad arguments change nothing; values that are not finite numbers are bad too.
    for (const char* bad : {"/speed", "/speed 1,5", "/speed two", "/speed nan", "/speed inf", "/speed -inf",
                            "/speed 1e999", "/speed 2x"}) {
        client->mReplaySpeed = 1.5;
        EXPECT_EQ(Run(client, bad), Lines{"/speed: Bad argument."}) << bad;
        EXPECT_EQ(client->mReplaySpeed, 1.5) << bad;
    }

    client->mReplaySpeed = 3.0;
    EXPECT_EQ(Run(client, "/help faster"), (Lines{"Usage: /faster", "Increases the game speed. Current is 3.00."}));
    EXPECT_EQ(Run(client, "/help slower"), (Lines{"Usage: /slower", "Decreases the game speed. Current is 3.00."}));
}

TEST_F(ChatCommandPlaybackTest, SpeedOneSchedulesAStatusLineUnlessTheGameWasHalted)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    client->mReplaySpeed = 0.0;
    Run(client, "/speed 1");
    EXPECT_EQ(client->mNextStatusTime, 0u);
    client->mReplaySpeed = 2.0;
    Run(client, "/speed 1");
    EXPECT_EQ(client->mNextStatusTime, bcx::ProgramClock::Now() - 1);
    // A line already scheduled stays.
    client->mNextStatusTime = 5;
    Run(client, "/speed 1");
    EXPECT_EQ(client->mNextStatusTime, 5u);
}

TEST_F(ChatCommandPlaybackTest, TimeSetsTheStatusIntervalAndRefusesWhatDoesNotFit)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    const uint32_t now = bcx::ProgramClock::Now();
    EXPECT_EQ(Run(client, "/time"), Lines{});
    EXPECT_EQ(client->mStatusInterval, 0u);
    EXPECT_EQ(client->mNextStatusTime, now);
    EXPECT_EQ(Run(client, "/t 10 "), Lines{});
    EXPECT_EQ(client->mStatusInterval, 10000u);
    EXPECT_EQ(Run(client, "/time 4294967"), Lines{});
    EXPECT_EQ(client->mStatusInterval, 4294967000u);

    client->mStatusInterval = 7;
    client->mNextStatusTime = 9;
    for (const char* bad : {"/time x", "/time -1", "/time 4294968", "/time 1.5", "/time 99999999999999999999"}) {
        EXPECT_EQ(Run(client, bad), Lines{"/time: Bad argument."}) << bad;
        EXPECT_EQ(client->mStatusInterval, 7u) << bad;
        EXPECT_EQ(client->mNextStatusTime, 9u) << bad;
    }
}

TEST_F(ChatCommandPlaybackTest, SyncSetsyncAndShiftNeedARunningGame)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(Run(client, "/sync 12:00"), Lines{"/sync: This command can only be used after game start."});
    EXPECT_EQ(Run(client, "/ss"), Lines{"/setsync: This command can only be used after game start."});
    EXPECT_EQ(Run(client, "/sh 5"), Lines{"/shift: This command can only be used after game start."});
    EXPECT_EQ(client->mSyncReference, 0u);
}

TEST_F(ChatCommandPlaybackTest, SyncAndShiftArgumentsSetTheSyncFields)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    client->mLoaded = 1;  // replies now come in the in-game form
    client->mReplaySpeed = 1.0;

    bcx::ProgramClock::Advance(1234);
    EXPECT_EQ(Run(client, "/sync 25:99"), Lines{});
    EXPECT_EQ(client->mSyncReference, bcx::ProgramClock::Now());
    EXPECT_EQ(client->mSyncTarget, 159);  // the 1599th minute is 02:39 of the next day
    EXPECT_EQ(client->mSyncMode, 1);
    EXPECT_EQ(client->mSyncDirection, 0);
    EXPECT_EQ(client->mSyncSpeed, 1.0);

    // Any number of hours gives a day minute, without overflowing the multiplication.
    EXPECT_EQ(Run(client, "/sy 4000000000:30"), Lines{});
    EXPECT_EQ(client->mSyncTarget, 990);

    client->mSyncReference = 0;
    for (const char* bad : {"/sync 12", "/sync 12:", "/sync :30", "/sync a:b", "/sync -1:00",
                            "/sync 99999999999999999999:00"}) {
        EXPECT_EQ(Run(client, bad), Lines{"/sync: Bad argument."}) << bad;
        EXPECT_EQ(client->mSyncReference, 0u) << bad;
    }

    client->mReplaySpeed = 2.0;
    EXPECT_EQ(Run(client, "/shift -30"), Lines{});
    EXPECT_EQ(client->mSyncTarget, -30000);
    EXPECT_EQ(client->mSyncMode, 0);
    EXPECT_EQ(client->mSyncSpeed, 2.0);
    EXPECT_NE(client->mSyncReference, 0u);
    EXPECT_EQ(Run(client, "/shift 2147483"), Lines{});
    EXPECT_EQ(client->mSyncTarget, 2147483000);
    EXPECT_EQ(Run(client, "/shift -2147483"), Lines{});
    EXPECT_EQ(client->mSyncTarget, -2147483000);
    client->mSyncTarget = 1;
    for (const char* bad : {"/shift", "/shift 2147484", "/shift -2147484", "/shift 1.5", "/shift x"}) {
        EXPECT_EQ(Run(client, bad), Lines{"/shift: Bad argument."}) << bad;
        EXPECT_EQ(client->mSyncTarget, 1) << bad;
    }
}

TEST_F(ChatCommandPlaybackTest, SetsyncShowsAndCorrectsTheDayTime)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    client->mLoaded = 1;

    client->mGameTime = 0;
    EXPECT_EQ(Run(client, "/setsync"), Lines{"Current day time: 08:00"});

    // 23:50 corrected to 00:10: the difference 1420 becomes -20 minutes, the clock moves on by 6678 ms.
    client->mGameTime = 317228;
    ASSERT_EQ(GameClockMinutes(client, 0, -1), 1430u);
    EXPECT_EQ(Run(client, "/ss 00:10"), Lines{"Day time set to 00:10"});
    EXPECT_EQ(client->mGameTime, 317228u + 6678u);

    // A correction larger than the clock adds one game day, so the clock stays positive.
    client->mGameTime = 0;
    EXPECT_EQ(Run(client, "/setsync 4:00"), Lines{"Day time set to 04:00"});
    EXPECT_EQ(client->mGameTime, 480849u - 80141u);

    // While the relayed game is paused, the pause start is the clock that is corrected.
    client->mGameTime = 1000;
    client->mPauseStartGameTime = 317228;
    EXPECT_EQ(Run(client, "/setsync 0:10"), Lines{"Day time set to 00:10"});
    EXPECT_EQ(client->mPauseStartGameTime, 317228u + 6678u);
    EXPECT_EQ(client->mGameTime, 1000u);

    const uint32_t before = client->mPauseStartGameTime;
    EXPECT_EQ(Run(client, "/setsync 10"), Lines{"/setsync: Bad argument."});
    EXPECT_EQ(Run(client, "/setsync 99999999999999999999:1"), Lines{"/setsync: Bad argument."});
    EXPECT_EQ(client->mPauseStartGameTime, before);
}

TEST_F(ChatCommandPlaybackTest, SpeedChangesHowMuchGameTimeEachStepReleases)
{
    ReplaceGameData(1200);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(client->mReplaySpeed, 1.0);

    auto gained = [&](int ticks) {
        const uint32_t start = client->mGameTime;
        for (int i = 0; i < ticks; ++i)
            TickHost();
        return client->mGameTime - start;
    };
    const uint32_t normal = gained(20);
    EXPECT_GE(normal, 1800u);
    EXPECT_LE(normal, 2200u);

    EXPECT_EQ(Type("/speed 2"), Lines{"New Replayspeed is 2.00."});
    const uint32_t doubled = gained(20);
    EXPECT_GE(doubled, 3800u);
    EXPECT_LE(doubled, 4300u);

    EXPECT_EQ(Type("/speed 0"), Lines{"New Replayspeed is 0.00."});
    EXPECT_EQ(gained(10), 0u);
    EXPECT_EQ(Type("/faster"), Lines{"New Replayspeed is 0.25."});
    const uint32_t quarter = gained(40);
    EXPECT_GE(quarter, 850u);
    EXPECT_LE(quarter, 1250u);
    // What Warcraft III received matches the client's game clock.
    ASSERT_TRUE(PumpUntil([&] { return wc3.GameTimeMs() == client->mGameTime; }));
}

TEST_F(ChatCommandPlaybackTest, TimeReportsOnceOrEveryInterval)
{
    ReplaceGameData(1200);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    for (int i = 0; i < 3; ++i)
        TickHost();
    const size_t initial = CountChatHolding("Game time ");
    // Ticks `steps` steps of 100 ms; then exactly `lines` status lines have come since the start.
    auto tickExpectingStatusLines = [&](int steps, size_t lines) {
        for (int i = 0; i < steps; ++i)
            TickHost(100, 0);
        bcxtest::PumpFor(20);
        ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Game time ") >= initial + lines; }));
        bcxtest::PumpFor(20);
        EXPECT_EQ(CountChatHolding("Game time "), initial + lines);
    };

    EXPECT_EQ(Type("/time"), Lines{});
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Game time ") == initial + 1; }));
    for (int i = 0; i < 30; ++i)
        TickHost();
    EXPECT_EQ(CountChatHolding("Game time "), initial + 1);
    EXPECT_EQ(client->mNextStatusTime, 0u);

    // Every 10 s: at the next step, then 10 s and 20 s later.
    EXPECT_EQ(Type("/time 10"), Lines{});
    ASSERT_NO_FATAL_FAILURE(tickExpectingStatusLines(250, 4));
    EXPECT_EQ(client->mStatusInterval, 10000u);

    // "/time 0" reports once and stops the repetition.
    EXPECT_EQ(Type("/time 0"), Lines{});
    ASSERT_NO_FATAL_FAILURE(tickExpectingStatusLines(150, 5));
    EXPECT_EQ(Type("/time x"), Lines{"/time: Bad argument."});
}

TEST_F(ChatCommandPlaybackTest, SyncSpeedsUpToTheDayTimeAndCompletes)
{
    ReplaceGameData(3000);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    TickHost();
    ASSERT_LT(GameClockMinutes(client, 0, -1), 485u);

    // A target within 7 minutes completes at once.
    EXPECT_EQ(Type("/sync 8:03"), Lines{});
    ASSERT_TRUE(TickUntilChat("Synchronising completed!", 3));
    EXPECT_EQ(CountChatHolding("Synchronising... "), 0u);
    EXPECT_EQ(client->mSyncReference, 0u);

    // 08:30: 30 minutes ahead, speeding up about 30 / 9 = 3 seconds.
    EXPECT_EQ(Type("/sync 08:30"), Lines{});
    ASSERT_TRUE(TickUntilChat("Synchronising... (speeding up about 0min3sec)", 3));
    EXPECT_EQ(client->mReplaySpeed, 4.0);
    ASSERT_TRUE(TickUntil([&] { return client->mSyncReference == 0; }, 300));
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Synchronising completed!") == 2; }));
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    EXPECT_GE(GameClockMinutes(client, 0, -1), 510u);
    EXPECT_LT(GameClockMinutes(client, 0, -1), 560u);
}

TEST_F(ChatCommandPlaybackTest, SyncToAnEarlierDayTimePausesUntilTheClockComesRound)
{
    ReplaceGameData(3000);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    // Play 20 s: about 08:60 on the Warcraft III clock.
    for (int i = 0; i < 200; ++i)
        TickHost(100, 0);
    const uint32_t minutes = GameClockMinutes(client, 0, -1);
    ASSERT_GE(minutes, 535u);

    // Twenty minutes back: the game pauses (-20 / 3 = 6 seconds).
    EXPECT_EQ(Type("/sync " + std::to_string((minutes - 20) / 60) + ":" + std::to_string((minutes - 20) % 60)), Lines{});
    ASSERT_TRUE(TickUntilChat("Synchronising... (pausing game about 0min6sec)", 3));
    EXPECT_EQ(client->mReplaySpeed, 0.0);
    const uint32_t paused = client->mGameTime;
    ASSERT_TRUE(TickUntil([&] { return client->mSyncReference == 0; }, 400));
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Synchronising completed!") == 1; }));
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    // The game stood still meanwhile.
    EXPECT_EQ(client->mGameTime, paused);
}

TEST_F(ChatCommandPlaybackTest, ShiftForwardGainsAndShiftBackLosesTheGivenSeconds)
{
    ReplaceGameData(3000);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    for (int i = 0; i < 5; ++i)
        TickHost();

    // +3 s: four times the speed for one second.
    uint32_t startClock = bcx::ProgramClock::Now();
    uint32_t startGame = client->mGameTime;
    EXPECT_EQ(Type("/shift 3"), Lines{});
    ASSERT_TRUE(TickUntilChat("Shifting... (speeding up about 1sec)", 3));
    ASSERT_TRUE(TickUntil([&] { return client->mSyncReference == 0; }, 100));
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Shifting completed!") == 1; }));
    for (int i = 0; i < 10; ++i)
        TickHost();
    int32_t ahead = static_cast<int32_t>(client->mGameTime - startGame) -
                    static_cast<int32_t>(bcx::ProgramClock::Now() - startClock);
    EXPECT_GE(ahead, 2400);
    EXPECT_LE(ahead, 3300);
    EXPECT_EQ(client->mReplaySpeed, 1.0);

    // -2 s: the game pauses and then catches up to two seconds behind the real time.
    startClock = bcx::ProgramClock::Now();
    startGame = client->mGameTime;
    EXPECT_EQ(Type("/sh -2"), Lines{});
    ASSERT_TRUE(TickUntilChat("Shifting... (pausing game about 2sec)", 3));
    ASSERT_TRUE(TickUntil([&] { return client->mSyncReference == 0; }, 100));
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Shifting completed!") == 2; }));
    for (int i = 0; i < 30; ++i)
        TickHost();
    const int32_t behind = static_cast<int32_t>(bcx::ProgramClock::Now() - startClock) -
                           static_cast<int32_t>(client->mGameTime - startGame);
    EXPECT_GE(behind, 1700);
    EXPECT_LE(behind, 2300);
}
