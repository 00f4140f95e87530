// The commands that do not steer the replay: the chat and ping filters, the variable setter, the players
// list, the inert wizard command and the IRC commands.

#include <cstdio>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "lanhost/ChatCommands.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/IrcClient.h"
#include "lanhost/LanClient.h"
#include "platform/TextCodec.h"

namespace {

// Ping setting flags: show the minimap ping, print a line about it.
constexpr int32_t kPingShow = 2;
constexpr int32_t kPingMessage = 1;

void Send(LanClient* client, const std::string& line)
{
    SendSystemMessage(client, line);
}

// A filter word: keep (empty, or "*" where allowed), a value, or invalid.
enum class Word { Keep, Set, Invalid };

Word ReadChatWord(const std::string& word, bool starKeeps, int32_t& value)
{
    if (word.empty() || (starKeeps && word == "*"))
        return Word::Keep;
    const std::string w = bcx::AsciiLower(word);
    if (w == "1" || w == "on") {
        value = 1;
        return Word::Set;
    }
    if (w == "0" || w == "off") {
        value = 0;
        return Word::Set;
    }
    return Word::Invalid;
}

// As a chat word, and "1-"/"on-" to show the ping without the line about it.
Word ReadPingWord(const std::string& word, bool starKeeps, int32_t& value)
{
    const std::string w = bcx::AsciiLower(word);
    if (w == "1-" || w == "on-") {
        value = kPingShow;
        return Word::Set;
    }
    const Word read = ReadChatWord(word, starKeeps, value);
    if (read == Word::Set && value == 1)
        value = kPingShow | kPingMessage;
    return read;
}

std::string PingState(int32_t value)
{
    return std::string((value & kPingShow) ? "ping" : "off") + ((value & kPingMessage) ? " + msg" : "");
}

std::string ChatState(int32_t value)
{
    return value ? "on" : "off";
}

// /chat and /ping: two filter words, the first for observers and the second for players, each setting
// its value of ClientSettings; then the usage or the resulting state.
struct FilterCommand {
    Word (*read)(const std::string& word, bool starKeeps, int32_t& value);
    const char* usage;
    const char* help;
    int32_t ClientSettings::*observerSetting;
    int32_t ClientSettings::*playerSetting;
    const char* stateTitle;
    std::string (*state)(int32_t value);
};

void RunFilterCommand(const FilterCommand& command, LanClient* client, const std::string& args, bool showUsage)
{
    const std::vector<std::string> words = chatcmd::FirstTwoWords(args);
    int32_t observer = 0;
    int32_t player = 0;
    const Word first = command.read(words[0], true, observer);
    const Word second = command.read(words[1], false, player);
    if (showUsage || first == Word::Invalid || second == Word::Invalid) {
        Send(client, command.usage);
        Send(client, command.help);
        return;
    }
    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    ClientSettings& settings = core->Settings();
    if (first == Word::Set)
        settings.*command.observerSetting = observer;
    if (second == Word::Set)
        settings.*command.playerSetting = player;
    core->NotifySettingsChanged();
    Send(client, command.stateTitle + command.state(settings.*command.observerSetting) +
                     ",  Player: " + command.state(settings.*command.playerSetting));
}

// Kinds of slot listed by /players.
enum class SlotKind { None, Human, Computer, Observer };

SlotKind KindOf(const SlotRecord& slot)
{
    if (!slot.mValid || slot.mStatus != kSlotStatusUsed)
        return SlotKind::None;
    if (slot.mPlayerId > 0 && !slot.mComputer)
        return slot.mTeam == kObserverTeam ? SlotKind::Observer : SlotKind::Human;
    if (slot.mPlayerId == 0 && slot.mComputer == 1)
        return SlotKind::Computer;
    return SlotKind::None;
}

} // namespace

void CmdChat(LanClient* client, std::string args, bool showUsage)
{
    static const FilterCommand kChat = {ReadChatWord,
                                        "Usage: /chat [<on/off/1/0/*> [<on/off/1/0>]]",
                                        "Show/Hide observer chat (1st arg) and player chat (2nd arg).",
                                        &ClientSettings::mObserverChat,
                                        &ClientSettings::mPlayerChat,
                                        "Chat: Observer: ",
                                        ChatState};
    RunFilterCommand(kChat, client, args, showUsage);
}

void CmdPing(LanClient* client, std::string args, bool showUsage)
{
    static const FilterCommand kPing = {ReadPingWord,
                                        "Usage: /ping [<on/off/1/0/1-/*> [<on/off/1/0>]]",
                                        "Show/Hide observer map pings (1st arg) and player map pings (2nd arg).",
                                        &ClientSettings::mObsPing,
                                        &ClientSettings::mPlayerPing,
                                        "Ping: Observer: ",
                                        PingState};
    RunFilterCommand(kPing, client, args, showUsage);
}

void CmdSet(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /set <varname> <value>");
        Send(client, "Sets a command to a specific value (temp: try 'timesteps')");
        return;
    }
    const size_t blank = args.find(' ');
    const std::string name = chatcmd::RightTrim(bcx::AsciiLower(args.substr(0, blank)));
    const std::string value = blank == std::string::npos ? std::string() : args.substr(blank + 1);
    if (name == "timesteps") {
        client->mShowTimesteps = (value == "true" || value == "1") ? 1 : 0;
        Send(client, client->mShowTimesteps ? "mShowTimesteps set to 1" : "mShowTimesteps set to 0");
        return;
    }
    Send(client, name + " not found");
}

void CmdPlayers(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /players");
        Send(client, "Prints information about all players.");
        return;
    }
    // Without details there is nothing to list (the lobby cannot have been shown either).
    if (!client->mGame || !client->mGame->mDetails)
        return;
    const GameDetails& details = *client->mGame->mDetails;

    std::string lines[GameDetails::kSlots];
    SlotKind kinds[GameDetails::kSlots];
    uint32_t teamCounts[256] = {};
    uint32_t largest = 0;
    for (int i = 0; i < GameDetails::kSlots; ++i) {
        const SlotRecord& slot = details.mSlots[i];
        kinds[i] = KindOf(slot);
        // Player ids index the 13 player records: a larger one is not listed.
        if (kinds[i] == SlotKind::None || slot.mPlayerId >= GameDetails::kPlayers) {
            kinds[i] = SlotKind::None;
            continue;
        }
        std::string tags;
        if (i == 0)
            tags += " (Host)";
        if (slot.mStatus != kSlotStatusOpen && slot.mStatus != kSlotStatusClosed &&
            slot.mPlayerId == details.mViewPlayer)
            tags += " (Streamer)";
        const std::string name = kinds[i] == SlotKind::Computer ? bcx::ToGbk(DescribeSlot(slot))
                                                                : details.mPlayers[slot.mPlayerId].mName;
        lines[i] = " - " + name + tags;
        if (kinds[i] != SlotKind::Observer) {
            const uint32_t count = ++teamCounts[slot.mTeam];
            if (count > largest)
                largest = count;
        }
    }

    if (largest <= 1) {
        Send(client, "Players:");
        for (int i = 0; i < GameDetails::kSlots; ++i)
            if (kinds[i] == SlotKind::Human || kinds[i] == SlotKind::Computer)
                Send(client, lines[i]);
    } else {
        int listed = 0;
        // Every team that has a member, so that no counted player is left out.
        for (int team = 0; team < 256; ++team) {
            if (teamCounts[team] == 0)
                continue;
            char heading[32];
            std::snprintf(heading, sizeof heading, "Team %d:", ++listed);
            Send(client, heading);
            for (int i = 0; i < GameDetails::kSlots; ++i)
                if ((kinds[i] == SlotKind::Human || kinds[i] == SlotKind::Computer) &&
                    details.mSlots[i].mTeam == team)
                    Send(client, lines[i]);
        }
    }
    Send(client, "Observers:");
    for (int i = 0; i < GameDetails::kSlots; ++i)
        if (kinds[i] == SlotKind::Observer)
            Send(client, lines[i]);
}

void WizardCommand(LanClient*, std::string args, bool)
{
    // Reads its two words; there is nothing it acts on.
    (void)chatcmd::FirstTwoWords(args);
}

// ---------------------------------------------------------------------------------------------------
// IRC

void CmdIrcInit(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /ircinit");
        Send(client, "Initialize IRC chat.");
        return;
    }
    if (client->mIrcClient) {
        Send(client, "A chat interface has already been initialised, use shut first.");
        return;
    }
    client->mIrcClient = std::make_unique<IrcClient>(client);
    client->mIrcClient->Connect(CurrentIrcEndpoint());
}

void CmdIrcShut(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /shut <comment>");
        Send(client, "Shutdown IRC chat.");
        return;
    }
    if (!client->mIrcClient)
        return;
    client->mIrcClient->Close(args);
    client->mIrcClient.reset();
}

void CmdIrcJoin(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /join <channel>");
        Send(client, "Joins a specific irc channel");
        return;
    }
    if (client->mIrcClient)
        client->mIrcClient->Join(args);
}

void CmdIrcPart(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /part <channel>");
        Send(client, "Parts(leaves) the irc channel");
        return;
    }
    if (client->mIrcClient)
        client->mIrcClient->Part();
}

void CmdMe(LanClient* client, std::string args, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /me <text>");
        Send(client, "Emote");
        return;
    }
    if (client->mIrcClient)
        client->mIrcClient->Emote(args);
}
