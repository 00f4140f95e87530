#pragma once
// The recorded-game file (".bcx"): a 68-byte header and a data block holding the game's list fields, its
// game information, its details and every action packet with its time. The client writes such files and
// never reads them.
//
// Header (little-endian): banner "Brawlcast recorded game" + NUL (24 bytes), u32 0x201, u32 header size
// 68, u32 file size, u32 1, u32 data length, u32 0, u32 product, u32 version, u16 0, u16 0, u32 game
// length (relative time of the last entry, ms), u32 0.

#include <cstddef>
#include <cstdint>

#include <wx/string.h>

class Game;
class PacketBuffer;

constexpr uint32_t kRecordingHeaderSize = 68;
constexpr uint32_t kRecordingFormat = 0x201;

// Builds the data block: magic, game id, name, players, start time, publisher, then the GameInfo,
// GameDetails and GameData records. False (nothing useful written) when the game lacks one of the three
// records or its download state is below 3.
bool WriteGameRecord(const Game& game, PacketBuffer& out);

// The longest file name, in bytes, that the file systems the client writes to keep.
constexpr size_t kMaxFileNameBytes = 255;

// "[%08X]" + base name + suffix. The base name is the decoded game name (the start time text when the
// name is empty) with the characters that cannot stand in a file name replaced: ':' '<' '>' -> '-',
// '/' '\' '|' '?' -> '_', '*' -> U+00B0, '"' -> '\''; a base name that would make the file name longer
// than kMaxFileNameBytes (as the file system stores it) is cut on a character boundary, down to nothing.
wxString MakeRecordingName(const Game& game, const wxString& suffix);

// The start time as local time "%Y-%m-%d %H:%M:%S" when the game has game information that was read
// from the relay; otherwise empty.
wxString FormatStartTime(const Game& game);

// Writes directory + "/" + MakeRecordingName(game, ".bcx") ("./" when the directory is empty).
// False when the game is not complete enough (nothing is written), or when the file cannot be created or
// fully written (logged with "[g] "; a partly written file is removed).
bool SaveRecording(const Game& game, const wxString& directory);
