#pragma once
// The game-stream filter: every recorded W3GS message that the paced release hands to a joined Warcraft
// III passes FilterGamePacket first.
//
// Action messages (0x0C) are walked block by block with the exact size of every action id: ability
// actions are described by the acting player's analyzer, alliance changes and resource transfers are
// reported, minimap pings are moved into the block of a chosen player, the view player's scenario-trigger
// actions are removed, the pause state of the replay is kept and the block checksum is recomputed. Chat
// messages are logged, filtered and re-addressed; leave messages repair the chat senders and are
// suppressed at the very start of the stream; lag messages keep the lag flag.
//
// The bytes handed in belong to the game's stored data and are never changed. On the first change the
// filter makes a private copy with new[], changes that, and points data and length at it; the caller
// frees it with delete[] when the pointer it gets back differs from the one it passed.

#include <cstdint>
#include <string>
#include <vector>

#include <wx/string.h>

class ActionAnalyzerSet;
struct ClientSettings;

// What the caller does with a filtered message.
enum StreamFilterResult : int {
    StreamFilterSend = 0,           // send the (possibly rewritten) message; lines go out as wizard lines
    StreamFilterObserverChat = 1,   // do not send it; send the lines as observer chat
    StreamFilterDrop = 2,           // do not send it; lines go out as wizard lines
};

// Analyzer flags (/Analyzer AnalyzerFlags) the filter looks at.
enum AnalyzerFlag : uint32_t {
    AnalyzerPingTargets = 0x02,     // a minimap ping at the target point of every reported ability
    AnalyzerHeroAbilities = 0x04,   // category 14
    AnalyzerBuildings = 0x08,       // category 1
    AnalyzerUnits = 0x10,           // categories 2, 9 and 13
    AnalyzerItems = 0x20,           // category 12
    AnalyzerAlliances = 0x40,       // shared control and resource transfers
    AnalyzerResearch = 0x80,        // category 3
};

// Ping settings (/Analyzer PlayerPing and ObsPing).
enum PingSetting : uint32_t {
    PingReport = 0x01,              // "MapPing by ..." in the chat
    PingToSystemSender = 0x02,      // the ping shows as the system sender's; else as the first player's
};

// Filters one message for the viewer that owns the analyzer set, with the client core's settings (the
// defaults without a client core). Lines for the game chat (GBK bytes) are appended to lines.
int FilterGamePacket(ActionAnalyzerSet* set, const uint8_t*& data, uint32_t& length,
                     std::vector<std::string>& lines);
// The same with the given settings.
int FilterGamePacket(ActionAnalyzerSet* set, const uint8_t*& data, uint32_t& length,
                     std::vector<std::string>& lines, const ClientSettings& settings);

// The u16 time increment of an action message (0xF7 0x0C, at least 6 bytes); else 0.
uint32_t GetActionTimeIncrement(const uint8_t* data, uint32_t length);

// Makes the action of size bytes at pos the only action of a block of its own: 3 bytes more when it is
// not the block's first action, 3 more when it is not its last; the actions behind it get a block of their
// own under playerId. data is replaced by a larger new[] buffer (the stored packet is never changed, a
// private copy is freed); pos, blockEnd, blockStart and length follow. The action must lie inside
// [blockStart + 3, blockEnd] and blockEnd inside the packet. Always true.
bool IsolateAction(uint8_t*& data, uint32_t& length, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart,
                   uint32_t size, uint8_t playerId, const uint8_t* stored);
// IsolateAction, then takes that block out; afterwards blockEnd is blockStart and pos + size is
// blockStart (unsigned), so a walk that adds the size continues behind the removed block. Always true.
bool RemoveAction(uint8_t*& data, uint32_t& length, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart,
                  uint32_t size, uint8_t playerId, const uint8_t* stored);

// Logs "[action] " + text, the text taken literally.
void LogAction(const wxString& text);
