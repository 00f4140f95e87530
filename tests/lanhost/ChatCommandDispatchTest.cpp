// The slash-command interpreter: the registered names and aliases, dispatch by name and alias with case
// folding, unknown and broken names, the argument string handed on, plain chat without IRC, and the help,
// cmdlist and alias listings, typed in Warcraft III or run through the dispatcher.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ChatCommandTestSupport.h"

namespace {

using Lines = std::vector<std::string>;

std::string gCapturedArgs;
int gCaptureCalls = 0;

void CaptureArgs(LanClient*, std::string args, bool showUsage)
{
    gCapturedArgs = args;
    gCaptureCalls += showUsage ? 100 : 1;
}

const Lines kHelpUsage = {"Usage: /help <command> ", "use /cmdlist for a list of all commands"};

class ChatCommandDispatchTest : public cmdtest::ChatCommandTest {};

} // namespace

TEST(ChatCommandRegistration, TwentyOneCommandsAndFifteenAliasesAsTheTableNamesThem)
{
    RegisterChatCommands();
    const std::map<std::string, ChatCommandHandler> expected = {
        {"cmdlist", CmdList},     {"help", CmdHelp},       {"alias", CmdAlias},     {"start", CmdStart},
        {"faster", CmdFaster},    {"slower", CmdSlower},   {"speed", CmdSpeed},     {"sync", CmdSync},
        {"setsync", CmdSetSync},  {"shift", CmdShift},     {"time", CmdTime},       {"chat", CmdChat},
        {"ping", CmdPing},        {"set", CmdSet},         {"players", CmdPlayers}, {"wizard", WizardCommand},
        {"ircinit", CmdIrcInit},  {"shut", CmdIrcShut},    {"join", CmdIrcJoin},    {"part", CmdIrcPart},
        {"me", CmdMe}};
    const std::map<std::string, std::string> aliases = {
        {"h", "help"},  {"?", "help"},   {"a", "alias"},  {"s", "start"},   {"st", "start"},
        {"sp", "speed"}, {"sy", "sync"}, {"ss", "setsync"}, {"sh", "shift"}, {"t", "time"},
        {"pl", "players"}, {"w", "wizard"}, {"irc", "ircinit"}, {"j", "join"}, {"p", "part"}};
    ASSERT_EQ(ChatCommands().size(), 21u);
    ASSERT_EQ(ChatAliases().size(), 15u);
    for (const auto& [name, handler] : expected) {
        ASSERT_EQ(ChatCommands().count(name), 1u) << name;
        EXPECT_EQ(ChatCommands().at(name), handler) << name;
    }
    for (const auto& [alias, command] : aliases) {
        ASSERT_EQ(ChatAliases().count(alias), 1u) << alias;
        EXPECT_EQ(ChatAliases().at(alias), command) << alias;
        // An alias names a command, never another alias.
        EXPECT_EQ(ChatCommands().count(command), 1u) << alias;
        EXPECT_EQ(ChatAliases().count(command), 0u) << alias;
    }
    // The usage lines speak of ircjoin and friends; those words are not registered.
    for (const char* word : {"ircjoin", "ircpart", "ircshut"})
        EXPECT_EQ(ChatCommands().count(word) + ChatAliases().count(word), 0u) << word;
}

TEST_F(ChatCommandDispatchTest, TypedLinesAreDispatchedByNameAndAliasWhateverTheCase)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);

    EXPECT_EQ(Type("/HELP"), kHelpUsage);
    EXPECT_EQ(Type("/?"), kHelpUsage);
    EXPECT_EQ(Type("/h"), kHelpUsage);  // help with an empty argument prints its own usage
    EXPECT_EQ(Type("/help\t"), kHelpUsage);  // trailing white space is removed from the name

    EXPECT_EQ(Type("/Sp 2"), Lines{"New Replayspeed is 2.00."});
    EXPECT_EQ(client->mReplaySpeed, 2.0);
    // Leading blanks of the argument stay and are skipped by the number reader.
    EXPECT_EQ(Type("/speed   0.5"), Lines{"New Replayspeed is 0.50."});
    EXPECT_EQ(client->mReplaySpeed, 0.5);

    EXPECT_EQ(Type("/"), Lines{"\"\" is not a valid command"});
    EXPECT_EQ(Type("/ircjoin #x"), Lines{"\"ircjoin\" is not a valid command"});
    EXPECT_EQ(Type("/NoSuch thing"), Lines{"\"nosuch\" is not a valid command"});

    // Lines that do not begin with "/" are chat; without IRC they get the notice.
    EXPECT_EQ(Type(" /help"), Lines{"No chat interface to talk to"});
    EXPECT_EQ(Type("hello /help"), Lines{"No chat interface to talk to"});
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}

TEST_F(ChatCommandDispatchTest, ArgumentsAreHandedOnUnchangedAndAliasesResolveOnce)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    ChatCommands()["zzcapture"] = CaptureArgs;
    ChatAliases()["zzc"] = "zzcapture";

    EXPECT_TRUE(Run(client, "/zzcapture   a  b ").empty());
    EXPECT_EQ(gCapturedArgs, "  a  b ");
    EXPECT_TRUE(Run(client, "/ZZC").empty());
    EXPECT_EQ(gCapturedArgs, "");
    EXPECT_TRUE(Run(client, "/zzc\t x").empty());  // the name ends at the first blank; the tab is trimmed
    EXPECT_EQ(gCapturedArgs, "x");
    EXPECT_EQ(gCaptureCalls, 3);  // always with showUsage false

    // An alias that names another alias is not followed further.
    ChatAliases()["zzouter"] = "zzc";
    EXPECT_EQ(Run(client, "/zzouter"), Lines{"\"zzc\" is not a valid command"});
    EXPECT_EQ(gCaptureCalls, 3);

    // A registered name without a handler.
    ChatCommands()["zzbroken"] = nullptr;
    ChatAliases()["zzb"] = "zzbroken";
    EXPECT_EQ(Run(client, "/zzb now"), Lines{"\"zzbroken\" is a broken command"});
    EXPECT_EQ(Run(client, "/help zzb"),
              (Lines{"\"zzb\" is an alias for \"zzbroken\"", "\"zzbroken\" is a brokencommand"}));
}

TEST_F(ChatCommandDispatchTest, HelpPrintsTheUsageOfEveryCommandAndNamesOnlyRegisteredCommands)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);

    EXPECT_EQ(Run(client, "/help help"), kHelpUsage);
    EXPECT_EQ(Run(client, "/help h"), (Lines{"\"h\" is an alias for \"help\"", kHelpUsage[0], kHelpUsage[1]}));
    EXPECT_EQ(Run(client, "/help SPEED"),
              (Lines{"Usage: /speed <speed>", "Changes the game speed (max 4.0). Current is 4.00."}));
    EXPECT_EQ(Run(client, "/help  speed  "),
              (Lines{"Usage: /speed <speed>", "Changes the game speed (max 4.0). Current is 4.00."}));
    EXPECT_EQ(Run(client, "/help speed 2"), Lines{"\"speed 2\" is not a valid command"});
    EXPECT_EQ(Run(client, "/help ircshut"), Lines{"\"ircshut\" is not a valid command"});
    EXPECT_TRUE(Run(client, "/help wizard").empty());
    EXPECT_EQ(Run(client, "/help w"), Lines{"\"w\" is an alias for \"wizard\""});

    // Help changes nothing: the usage of a command never performs it.
    const double speed = client->mReplaySpeed;
    for (const auto& entry : ChatCommands()) {
        const Lines usage = Run(client, "/help " + entry.first);
        if (entry.first == "wizard") {
            EXPECT_TRUE(usage.empty());
            continue;
        }
        ASSERT_FALSE(usage.empty()) << entry.first;
        const std::string head = entry.first == "help" ? "Usage: /help " : "Usage: /" + entry.first;
        EXPECT_EQ(usage[0].compare(0, head.size(), head), 0) << usage[0];
        // Every command a usage line names ("/word") is one that can be typed.
        for (const std::string& line : usage) {
            for (size_t at = line.find('/'); at != std::string::npos; at = line.find('/', at + 1)) {
                if (at > 0 && line[at - 1] != ' ')
                    continue;  // "on/off" is no command
                size_t end = at + 1;
                while (end < line.size() && line[end] >= 'a' && line[end] <= 'z')
                    ++end;
                const std::string word = line.substr(at + 1, end - at - 1);
                if (!word.empty()) {
                    EXPECT_TRUE(ChatCommands().count(word) || ChatAliases().count(word)) << line;
                }
            }
        }
    }
    EXPECT_EQ(client->mReplaySpeed, speed);
    EXPECT_EQ(client->mStartRequested, 0);
    EXPECT_EQ(client->mIrcClient, nullptr);
    EXPECT_EQ(client->mNextStatusTime, 0u);
}

TEST_F(ChatCommandDispatchTest, CmdlistAndAliasListEveryEntryInLinesOfSevenAndThree)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);

    const Lines commands = Run(client, "/cmdlist");
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0], "commands :");
    std::set<std::string> listed;
    for (size_t i = 1; i < commands.size(); ++i) {
        const std::string& line = commands[i];
        size_t entries = 0;
        for (size_t at = line.find(" ["); at != std::string::npos; at = line.find(" [", at + 1)) {
            const size_t close = line.find(']', at);
            ASSERT_NE(close, std::string::npos) << line;
            listed.insert(line.substr(at + 2, close - at - 2));
            ++entries;
        }
        EXPECT_EQ(entries, 7u) << line;
    }
    std::set<std::string> registered;
    for (const auto& entry : ChatCommands())
        registered.insert(entry.first);
    EXPECT_EQ(listed, registered);

    const Lines aliases = Run(client, "/a");
    ASSERT_EQ(aliases.size(), 6u);
    EXPECT_EQ(aliases[0], "Aliases :");
    std::map<std::string, std::string> pairs;
    for (size_t i = 1; i < aliases.size(); ++i) {
        const std::string& line = aliases[i];
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), ',') << line;
        size_t entries = 0;
        size_t pos = 0;
        while (pos < line.size()) {
            ASSERT_EQ(line.compare(pos, 2, " /"), 0) << line;
            const size_t eq = line.find(" = /", pos);
            const size_t comma = line.find(',', eq);
            ASSERT_NE(comma, std::string::npos) << line;
            pairs[line.substr(pos + 2, eq - pos - 2)] = line.substr(eq + 4, comma - eq - 4);
            pos = comma + 1;
            ++entries;
        }
        EXPECT_EQ(entries, 3u) << line;
    }
    const std::map<std::string, std::string> registered2(ChatAliases().begin(), ChatAliases().end());
    EXPECT_EQ(pairs, registered2);
}

// The number readers of the commands (the "C" locale's rules, whatever the process locale).
TEST(ChatCommandText, NumbersAndWords)
{
    double d = 0;
    EXPECT_TRUE(chatcmd::ParseDecimal("  2.5", d));
    EXPECT_EQ(d, 2.5);
    EXPECT_TRUE(chatcmd::ParseDecimal("+1e-1", d));
    EXPECT_EQ(d, 0.1);
    EXPECT_TRUE(chatcmd::ParseDecimal("-3", d));
    EXPECT_EQ(d, -3.0);
    EXPECT_TRUE(chatcmd::ParseDecimal(".5", d));
    EXPECT_EQ(d, 0.5);
    for (const char* bad : {"", " ", "1,5", "2 ", "+-1", "--1", "abc", "nan", "inf", "-infinity", "1e999", "0x10"})
        EXPECT_FALSE(chatcmd::ParseDecimal(bad, d)) << bad;

    uint64_t u = 0;
    EXPECT_TRUE(chatcmd::ParseUnsigned(" +42", u));
    EXPECT_EQ(u, 42u);
    EXPECT_TRUE(chatcmd::ParseUnsigned("18446744073709551615", u));
    EXPECT_EQ(u, UINT64_MAX);
    for (const char* bad : {"", "-1", "18446744073709551616", "4x", "1 2", "+"})
        EXPECT_FALSE(chatcmd::ParseUnsigned(bad, u)) << bad;

    int64_t s = 0;
    EXPECT_TRUE(chatcmd::ParseSigned("-30", s));
    EXPECT_EQ(s, -30);
    EXPECT_TRUE(chatcmd::ParseSigned("-9223372036854775808", s));
    EXPECT_EQ(s, INT64_MIN);
    for (const char* bad : {"", "9223372036854775808", "- 1", "3.0"})
        EXPECT_FALSE(chatcmd::ParseSigned(bad, s)) << bad;

    int32_t minute = -1;
    EXPECT_TRUE(chatcmd::ParseDayTime("25:99", minute));
    EXPECT_EQ(minute, 159);  // the same day time as minute 1599
    EXPECT_TRUE(chatcmd::ParseDayTime("4000000000:30", minute));
    EXPECT_EQ(minute, 990);  // (4000000000 x 60 + 30) mod 1440, without overflow
    EXPECT_TRUE(chatcmd::ParseDayTime("00: 10", minute));
    EXPECT_EQ(minute, 10);
    for (const char* bad : {"12", "12:", ":30", "12 :30", "-1:00", "1:2:3", "99999999999999999999:0"})
        EXPECT_FALSE(chatcmd::ParseDayTime(bad, minute)) << bad;

    EXPECT_EQ(chatcmd::FirstTwoWords(" \tON \t off  extra"), (std::vector<std::string>{"ON", "off"}));
    EXPECT_EQ(chatcmd::FirstTwoWords("*"), (std::vector<std::string>{"*", ""}));
    EXPECT_EQ(chatcmd::FormatFixed2(0.125), "0.12");
    EXPECT_EQ(chatcmd::FormatFixed2(4.0), "4.00");
}
