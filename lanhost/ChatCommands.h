#pragma once
// The slash commands a viewer types into the chat of the Warcraft III game we host: their registration in
// the process-wide command and alias maps (LanClient.h), the playback commands that steer the viewer's
// replay, and the information, chat-filter and IRC commands.
//
// Every handler has the ChatCommandHandler signature: with showUsage it sends only its usage lines and
// changes nothing; otherwise it performs the command with args. Replies go to the viewer who typed the
// line, through SendSystemMessage. GUI thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "lanhost/IrcClient.h"

class LanClient;

// Fills ChatCommands() and ChatAliases() with the 21 commands and their 15 aliases. Called once by the
// application start-up before the client core is created (before any Warcraft III can connect).
void RegisterChatCommands();

// --- information ---
void CmdList(LanClient* client, std::string args, bool showUsage);
void CmdHelp(LanClient* client, std::string args, bool showUsage);
void CmdAlias(LanClient* client, std::string args, bool showUsage);

// --- playback ---
void CmdStart(LanClient* client, std::string args, bool showUsage);
void CmdFaster(LanClient* client, std::string args, bool showUsage);
void CmdSlower(LanClient* client, std::string args, bool showUsage);
void CmdSpeed(LanClient* client, std::string args, bool showUsage);
void CmdSync(LanClient* client, std::string args, bool showUsage);
void CmdSetSync(LanClient* client, std::string args, bool showUsage);
void CmdShift(LanClient* client, std::string args, bool showUsage);
void CmdTime(LanClient* client, std::string args, bool showUsage);

// --- chat and ping filters, variables, players ---
void CmdChat(LanClient* client, std::string args, bool showUsage);
void CmdPing(LanClient* client, std::string args, bool showUsage);
void CmdSet(LanClient* client, std::string args, bool showUsage);
void CmdPlayers(LanClient* client, std::string args, bool showUsage);
// Reads up to two words and does nothing else; sends nothing, not even its usage.
void WizardCommand(LanClient* client, std::string args, bool showUsage);

// --- IRC ---
void CmdIrcInit(LanClient* client, std::string args, bool showUsage);
void CmdIrcShut(LanClient* client, std::string args, bool showUsage);
void CmdIrcJoin(LanClient* client, std::string args, bool showUsage);
void CmdIrcPart(LanClient* client, std::string args, bool showUsage);
void CmdMe(LanClient* client, std::string args, bool showUsage);

// The IRC endpoint a new IRC client connects to: the one the client core took at relay logon (announced by
// the relay, or the configured one). Empty while the core has none (the IRC client then refuses the
// empty host).
IrcEndpoint CurrentIrcEndpoint();

// Text helpers of the commands, independent of the locale.
namespace chatcmd {

// Blank, tab, carriage return, line feed, vertical tab, form feed.
bool IsSpace(char c);
std::string RightTrim(std::string text);
std::string Trim(std::string text);

// The first two words of text, split at blanks and tabs with empty words skipped; a missing word is empty.
std::vector<std::string> FirstTwoWords(const std::string& text);

// Numbers as the C library reads them in the "C" locale: leading white space skipped, a sign accepted
// (ParseUnsigned takes "+" only), at least one digit, nothing at all behind the number. Values that do not
// fit the result type are refused; ParseDecimal also refuses values that are not finite.
bool ParseDecimal(const std::string& text, double& value);
bool ParseUnsigned(const std::string& text, uint64_t& value);
bool ParseSigned(const std::string& text, int64_t& value);

// "<hours>:<minutes>" as /sync and /setsync read it (argument already right-trimmed): hours before the
// first ":", minutes after it, both unsigned. The result is the minute of the Warcraft III day, reduced to
// 0-1439 (25:99 gives 159, the same day time as the 1599th minute). False when either part does not read.
bool ParseDayTime(const std::string& text, int32_t& dayMinute);

// A number with two decimals ("%.2f" of the "C" locale).
std::string FormatFixed2(double value);

} // namespace chatcmd
