// The playback commands: start, faster, slower, speed, sync, setsync, shift, time. They only set the
// viewer's playback fields; the game host's paced release acts on them at its next pass and reports the
// progress of a sync or shift and the game-time status lines.

#include <cstdio>
#include <limits>

#include <wx/log.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "lanhost/ChatCommands.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanClient.h"
#include "platform/ProgramClock.h"

namespace {

// The highest replay speed the commands set.
constexpr double kMaxSpeed = 4.0;
// The lowest speed faster and slower leave.
constexpr double kMinStepSpeed = 0.25;
// Milliseconds of game time in one Warcraft III day (1440 x 1000 / 2.9947, truncated).
constexpr int64_t kGameDayMs = 480849;
// The double nearest 1 / 2.9947: game milliseconds per 1000 day-time minutes.
constexpr double kGameMsPerDayMinuteMs = 0.33392326443383313;
// The largest number of seconds whose milliseconds fit the shift target (signed 32 bits) and the status
// interval (unsigned 32 bits).
constexpr int64_t kMaxShiftSeconds = std::numeric_limits<int32_t>::max() / 1000;
constexpr uint64_t kMaxTimeSeconds = std::numeric_limits<uint32_t>::max() / 1000;

void Send(LanClient* client, const std::string& line)
{
    SendSystemMessage(client, line);
}

std::string Speed2(double speed)
{
    return chatcmd::FormatFixed2(speed);
}

std::string NewSpeedLine(double speed)
{
    return "New Replayspeed is " + Speed2(speed) + ".";
}

std::string DayTime(uint32_t minutes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    return text;
}

// Starts a sync (mode 1, target a day minute) or a shift (mode 0, target in ms) from now on.
void StartSyncOrShift(LanClient* client, int32_t target, uint8_t mode)
{
    client->mSyncReference = bcx::ProgramClock::Now();
    client->mSyncSpeed = client->mReplaySpeed;
    client->mSyncTarget = target;
    client->mSyncDirection = 0;
    client->mSyncMode = mode;
}

} // namespace

void CmdStart(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /start");
        Send(client, "Start the game (only available from lan game channel).");
        Send(client, "Will automatically start the game as soon as the needed data is available.");
        return;
    }
    if (!client->mMapValidated) {
        Send(client, "Cannot start this game. Map not found!");
        Send(client, "Copy map to expected path and rejoin the game.");
        return;
    }
    if (client->mLoaded || client->mStartRequested) {
        Send(client, "Game start has already been scheduled !");
        return;
    }
    Game* game = client->mGame;
    wxLogMessage(wxS("[0x%08X:0x%08X] Starting game"), game ? game->mId : 0u, client->GetConnectionId());
    Send(client, "Starting game as soon as its ready...");
    client->mStartRequested = 1;
    if (game && game->mSubscription < SubscriptionDataOnly) {
        if (ClientCore* core = ClientCore::Get())
            core->SubscribeGame(game, false);
    }
}

void CmdFaster(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /faster");
        Send(client, "Increases the game speed. Current is " + Speed2(client->mReplaySpeed) + ".");
        return;
    }
    double speed = client->mReplaySpeed;
    if (speed < kMinStepSpeed)
        speed = kMinStepSpeed;
    else
        speed *= 2.0;
    if (speed > kMaxSpeed)
        speed = kMaxSpeed;
    client->mReplaySpeed = speed;
    Send(client, NewSpeedLine(speed));
}

void CmdSlower(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /slower");
        Send(client, "Decreases the game speed. Current is " + Speed2(client->mReplaySpeed) + ".");
        return;
    }
    double speed = client->mReplaySpeed * 0.5;
    if (speed < kMinStepSpeed)
        speed = kMinStepSpeed;
    client->mReplaySpeed = speed;
    Send(client, NewSpeedLine(speed));
}

void CmdSpeed(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /speed <speed>");
        Send(client, "Changes the game speed (max 4.0). Current is " + Speed2(client->mReplaySpeed) + ".");
        return;
    }
    double speed = 0.0;
    // Not-a-number and infinities are refused: they would stall or break the paced release.
    if (!chatcmd::ParseDecimal(chatcmd::RightTrim(args), speed)) {
        Send(client, "/speed: Bad argument.");
        return;
    }
    if (speed > kMaxSpeed)
        speed = kMaxSpeed;
    if (!(speed > 0.0))
        speed = 0.0;  // below 0 (and -0) halts
    if (speed == 1.0 && client->mReplaySpeed != 0.0 && client->mNextStatusTime == 0)
        client->mNextStatusTime = bcx::ProgramClock::Now() - 1;
    client->mReplaySpeed = speed;
    Send(client, NewSpeedLine(speed));
}

void CmdSync(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /sync <hours>:<minutes>");
        Send(client, "Synchronises to the given Warcraft day time.");
        Send(client, "Unfortunatly the use of the Moonstone item confuses Brawlcast.");
        Send(client, "In this case correct the day time manually with /setsync to be able to use the /sync command again.");
        return;
    }
    if (!client->mLoaded) {
        Send(client, "/sync: This command can only be used after game start.");
        return;
    }
    // The target is the day minute (0-1439): the sync then always meets it within one game day.
    int32_t target = 0;
    if (!chatcmd::ParseDayTime(chatcmd::RightTrim(args), target)) {
        Send(client, "/sync: Bad argument.");
        return;
    }
    StartSyncOrShift(client, target, 1);
}

void CmdSetSync(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /setsync [<hours>:<minutes>]");
        Send(client, "Shows/Corrects the (internal) day time.");
        Send(client, "Unfortunatly the use of the Moonstone item confuses Brawlcast.");
        Send(client, "You have to correct the day time manually to use the /sync-command.");
        return;
    }
    if (!client->mLoaded) {
        Send(client, "/setsync: This command can only be used after game start.");
        return;
    }
    const std::string arg = chatcmd::RightTrim(args);
    const uint32_t m = GameClockMinutes(client, 0, -1);
    if (arg.empty()) {
        Send(client, "Current day time: " + DayTime(m));
        return;
    }
    int32_t wanted = 0;
    if (!chatcmd::ParseDayTime(arg, wanted)) {
        Send(client, "/setsync: Bad argument.");
        return;
    }
    int32_t d = static_cast<int32_t>(m) - wanted;
    if (d < -720)
        d += 1440;
    if (d > 720)
        d -= 1440;
    const int32_t delta = static_cast<int32_t>(static_cast<double>(d * 1000) * kGameMsPerDayMinuteMs);
    uint32_t& word = client->mPauseStartGameTime != 0 ? client->mPauseStartGameTime : client->mGameTime;
    const int64_t w = word;
    // A correction larger than the clock moves it back by one day less, so that it stays positive.
    const int64_t corrected = w >= delta ? w - delta : w - delta + kGameDayMs;
    word = static_cast<uint32_t>(corrected);
    Send(client, "Day time set to " + DayTime(GameClockMinutes(client, 0, -1)));
}

void CmdShift(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /shift <seconds>");
        Send(client, "Shifts the game by given number of real time seconds.");
        return;
    }
    if (!client->mLoaded) {
        Send(client, "/shift: This command can only be used after game start.");
        return;
    }
    int64_t seconds = 0;
    // The milliseconds must fit the signed 32-bit target.
    if (!chatcmd::ParseSigned(chatcmd::RightTrim(args), seconds) || seconds > kMaxShiftSeconds ||
        seconds < -kMaxShiftSeconds) {
        Send(client, "/shift: Bad argument.");
        return;
    }
    StartSyncOrShift(client, static_cast<int32_t>(seconds * 1000), 0);
}

void CmdTime(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /time [seconds]");
        Send(client, "Display the current game time (repeat every x seconds)");
        return;
    }
    const std::string arg = chatcmd::RightTrim(args);
    uint64_t seconds = 0;
    // The interval in milliseconds must fit 32 bits; a negative number is refused.
    if (!arg.empty() && (!chatcmd::ParseUnsigned(arg, seconds) || seconds > kMaxTimeSeconds)) {
        Send(client, "/time: Bad argument.");
        return;
    }
    client->mStatusInterval = static_cast<uint32_t>(seconds * 1000);
    client->mNextStatusTime = bcx::ProgramClock::Now();
}
