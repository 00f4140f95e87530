#pragma once
// Everything the client prints into the chat of a joined Warcraft III: the W3GS chat message builder, the
// system-line and IRC-line senders with their decorations, the repair of the chat senders when the player
// they speak for leaves, and two small texts used by the commands and the pacing.
//
// Texts are GBK bytes; the wxString overloads encode program texts to GBK first. Byte limits count GBK
// bytes.

#include <cstdint>
#include <string>

#include <wx/string.h>

class LanClient;
class warPacket;
struct SlotRecord;

// The longest chat text Warcraft III takes in the game and in the lobby (bytes).
constexpr uint32_t kInGameChatLimit = 127;
constexpr uint32_t kLobbyChatLimit = 240;

// Appends one W3GS 0x0F chat message (to every receiver, from the given player) to an empty packet: the
// in-game form when inGame is not 0, else the lobby form. The text is cut to 127 bytes in the game and
// to 240 in the lobby.
void BuildChatPacket(warPacket& packet, const std::string& text, uint8_t inGame, uint8_t fromPlayer);

// One system line into the client's Warcraft III chat, decorated with the PromptBcx settings, logged as
// "Send system msg: '...'". Nothing without a socket.
void SendSystemMessage(LanClient* client, const std::string& gbkLine);
void SendSystemMessage(LanClient* client, const wxString& line);
// One IRC line into the client's Warcraft III chat, decorated with the PromptIrc settings; not logged.
void ForwardLineToGame(LanClient* client, const std::string& gbkLine);

// The decorated text of a line from a chat sender (0-3, ChatSenderIndex) as it goes out in the game:
// sender prefix + the source's prompt prefix + line + the source's prompt postfix.
std::string DecorateInGameLine(const LanClient* client, int sender, const std::string& gbkLine);

// The chat senders that spoke for playerId move to the next player (see GameDetails::GetOtherPlayer).
// Always true.
bool OnPlayerLeft(LanClient* client, uint32_t playerId);

// "<未使用>", "<空闲>", "<已关闭>", the computer's level, or empty for a human's slot.
wxString DescribeSlot(const SlotRecord& slot);

// The minute of the Warcraft III day (0-1439) at the client's game time (time -1: the pause start or the
// current game time) plus offset; the day starts at 08:00.
uint32_t GameClockMinutes(LanClient* client, uint32_t offset, int32_t time);
