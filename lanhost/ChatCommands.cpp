#include "lanhost/ChatCommands.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "core/ClientCore.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanClient.h"
#include "platform/TextCodec.h"

namespace {

struct CommandRow {
    const char* name;
    ChatCommandHandler handler;
    std::vector<const char*> aliases;
};

// Registration order; each alias follows its command.
const std::vector<CommandRow>& CommandTable()
{
    static const std::vector<CommandRow> table = {
        {"cmdlist", CmdList, {}},
        {"help", CmdHelp, {"h", "?"}},
        {"alias", CmdAlias, {"a"}},
        {"start", CmdStart, {"s", "st"}},
        {"faster", CmdFaster, {}},
        {"slower", CmdSlower, {}},
        {"speed", CmdSpeed, {"sp"}},
        {"sync", CmdSync, {"sy"}},
        {"setsync", CmdSetSync, {"ss"}},
        {"shift", CmdShift, {"sh"}},
        {"time", CmdTime, {"t"}},
        {"chat", CmdChat, {}},
        {"ping", CmdPing, {}},
        {"set", CmdSet, {}},
        {"players", CmdPlayers, {"pl"}},
        {"wizard", WizardCommand, {"w"}},
        {"ircinit", CmdIrcInit, {"irc"}},
        {"shut", CmdIrcShut, {}},
        {"join", CmdIrcJoin, {"j"}},
        {"part", CmdIrcPart, {"p"}},
        {"me", CmdMe, {}},
    };
    return table;
}

void Send(LanClient* client, const std::string& line)
{
    SendSystemMessage(client, line);
}

std::string Quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

// Sends the entries of a command or alias map, `perLine` formatted entries to a line.
template <class Map, class Format>
void SendListed(LanClient* client, const Map& entries, int perLine, Format format)
{
    std::string line;
    int count = 0;
    for (const auto& entry : entries) {
        line += format(entry);
        if (++count % perLine == 0) {
            Send(client, line);
            line.clear();
        }
    }
    if (!line.empty())
        Send(client, line);
}

} // namespace

void RegisterChatCommands()
{
    CommandMap& commands = ChatCommands();
    AliasMap& aliases = ChatAliases();
    for (const CommandRow& row : CommandTable()) {
        commands[row.name] = row.handler;
        for (const char* alias : row.aliases)
            aliases[alias] = row.name;
    }
}

IrcEndpoint CurrentIrcEndpoint()
{
    IrcEndpoint endpoint;
    if (ClientCore* core = ClientCore::Get()) {
        endpoint.host = core->GetIrcServer();
        endpoint.port = core->GetIrcPort();
        endpoint.channel = core->GetIrcChannel();
    }
    return endpoint;
}

// ---------------------------------------------------------------------------------------------------
// help, cmdlist, alias

void CmdHelp(LanClient* client, std::string args, bool showUsage)
{
    if (args.empty() || showUsage) {
        Send(client, "Usage: /help <command> ");
        Send(client, "use /cmdlist for a list of all commands");
        return;
    }
    std::string name = chatcmd::Trim(bcx::AsciiLower(args));
    const AliasMap& aliases = ChatAliases();
    auto alias = aliases.find(name);
    if (alias != aliases.end()) {
        Send(client, Quoted(name) + " is an alias for " + Quoted(alias->second));
        name = alias->second;
    }
    const CommandMap& commands = ChatCommands();
    auto command = commands.find(name);
    if (command == commands.end()) {
        Send(client, Quoted(name) + " is not a valid command");
        return;
    }
    if (!command->second) {
        Send(client, Quoted(name) + " is a brokencommand");
        return;
    }
    command->second(client, std::string(), true);
}

void CmdList(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /cmdlist");
        Send(client, "Lists all commands");
        return;
    }
    Send(client, "commands :");
    SendListed(client, ChatCommands(), 7, [](const auto& entry) { return " [" + entry.first + "]"; });
}

void CmdAlias(LanClient* client, std::string, bool showUsage)
{
    if (showUsage) {
        Send(client, "Usage: /alias");
        Send(client, "Lists all aliases");
        return;
    }
    Send(client, "Aliases :");
    SendListed(client, ChatAliases(), 3,
               [](const auto& entry) { return " /" + entry.first + " = /" + entry.second + ","; });
}

// ---------------------------------------------------------------------------------------------------
// Text helpers

namespace chatcmd {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string RightTrim(std::string text)
{
    size_t end = text.size();
    while (end > 0 && IsSpace(text[end - 1]))
        --end;
    text.resize(end);
    return text;
}

std::string Trim(std::string text)
{
    text = RightTrim(std::move(text));
    size_t start = 0;
    while (start < text.size() && IsSpace(text[start]))
        ++start;
    return text.substr(start);
}

std::vector<std::string> FirstTwoWords(const std::string& text)
{
    std::vector<std::string> words(2);
    size_t found = 0;
    size_t pos = 0;
    while (found < 2 && pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        const size_t start = pos;
        while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t')
            ++pos;
        if (pos > start)
            words[found++] = text.substr(start, pos - start);
    }
    return words;
}

namespace {

// Skips leading white space; returns the index of the first other character.
size_t SkipSpace(const std::string& text)
{
    size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    return pos;
}

// Decimal digits from pos to the end; false without a digit, with anything else, or above limit.
bool ParseDigits(const std::string& text, size_t pos, uint64_t limit, uint64_t& value)
{
    if (pos >= text.size())
        return false;
    uint64_t v = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (limit - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

} // namespace

bool ParseUnsigned(const std::string& text, uint64_t& value)
{
    size_t pos = SkipSpace(text);
    if (pos < text.size() && text[pos] == '+')
        ++pos;
    return ParseDigits(text, pos, std::numeric_limits<uint64_t>::max(), value);
}

bool ParseSigned(const std::string& text, int64_t& value)
{
    size_t pos = SkipSpace(text);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;
    if (!ParseDigits(text, pos, limit, magnitude))
        return false;
    if (negative)
        value = magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    else
        value = static_cast<int64_t>(magnitude);
    return true;
}

bool ParseDecimal(const std::string& text, double& value)
{
    size_t pos = SkipSpace(text);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // from_chars takes no sign of its own here: a second sign is refused like strtod refuses it.
    if (pos >= text.size() || text[pos] == '+' || text[pos] == '-')
        return false;
    const char* begin = text.data() + pos;
    const char* end = text.data() + text.size();
    double v = 0.0;
    const std::from_chars_result result = std::from_chars(begin, end, v, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(v))
        return false;
    value = negative ? -v : v;
    return true;
}

bool ParseDayTime(const std::string& text, int32_t& dayMinute)
{
    const size_t colon = text.find(':');
    const std::string hoursText = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string minutesText = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    uint64_t hours = 0;
    uint64_t minutes = 0;
    if (!ParseUnsigned(hoursText, hours) || !ParseUnsigned(minutesText, minutes))
        return false;
    // Reduced piece by piece: hours x 60 + minutes would overflow for large numbers.
    dayMinute = static_cast<int32_t>(((hours % 1440) * 60 + minutes % 1440) % 1440);
    return true;
}

std::string FormatFixed2(double value)
{
    char buffer[400];  // room for the largest double in fixed notation
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (result.ec != std::errc())
        return "0.00";
    return std::string(buffer, result.ptr);
}

} // namespace chatcmd
