// Feeds arbitrary W3GS messages to the game-stream filter of one viewer, with analyzer, ping and chat
// settings, view player, game time and release count taken from the input. Checks what the filter
// promises: the stored bytes never change, a rewritten message is a new buffer, an action message leaves
// with a right checksum and, when it was rewritten to another length, a right length field, and no
// message grows past 65535 bytes.
//
// Input: byte 0 AnalyzerFlags; byte 1 PlayerPing (low nibble) and ObsPing (high nibble); byte 2 bit 0
// PlayerChat, bit 1 ObserverChat, bit 2 the rest is the blocks of an action message (the 8-byte header
// with a right checksum is put in front), bits 3-7 the view player; byte 3 the count of entries released;
// bytes 4-5 the game time in seconds; the rest the message.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <wx/log.h>

#include "FuzzSupport.h"
#include "analyzer/ActionAnalyzer.h"
#include "core/ClientSettings.h"
#include "core/Crc32.h"
#include "core/GameRecords.h"
#include "lanhost/GameStreamFilter.h"
#include "lanhost/LanClient.h"

using fuzzsupport::Check;
using fuzzsupport::DiscardLog;

namespace {

struct Viewer {
    Viewer() : game(0xF022)
    {
        wxLog::SetActiveTarget(new DiscardLog);
        game.mDetails = new GameDetails();
        GameDetails& d = *game.mDetails;
        const uint8_t teams[] = {0, 1, 0, 1, 12, 12};
        for (int i = 0; i < 6; ++i) {
            d.mSlots[i].mValid = 1;
            d.mSlots[i].mPlayerId = static_cast<uint8_t>(i + 1);
            d.mSlots[i].mStatus = kSlotStatusUsed;
            d.mSlots[i].mTeam = teams[i];
            d.mPlayers[i + 1].mValid = 1;
            d.mPlayers[i + 1].mName = std::string("player") + static_cast<char>('1' + i);
        }
        // A slot holding an id without a record.
        d.mSlots[6].mValid = 1;
        d.mSlots[6].mPlayerId = 200;
        d.mSlots[6].mStatus = kSlotStatusUsed;
        d.mSlots[6].mTeam = 12;
        d.mSlotCount = 7;
        fresh = d;
        client.mGame = &game;
    }

    Game game;
    GameDetails fresh;
    LanClient client;
};

Viewer& TheViewer()
{
    static Viewer* viewer = new Viewer();
    return *viewer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 6 || size > 70000)
        return 0;
    Viewer& v = TheViewer();
    LanClient& client = v.client;

    ClientSettings settings;
    settings.mAnalyzerFlags = input[0];
    settings.mPlayerPing = input[1] & 0x0F;
    settings.mObsPing = input[1] >> 4;
    settings.mPlayerChat = input[2] & 1;
    settings.mObserverChat = (input[2] >> 1) & 1;
    const bool asActions = (input[2] & 4) != 0;

    *v.game.mDetails = v.fresh;
    v.game.mDetails->mViewPlayer = static_cast<uint8_t>(input[2] >> 3);
    client.mCursor.mEntriesRead = input[3];
    client.mSuppressedLeaves = 0;
    client.mGameTime = (static_cast<uint32_t>(input[4]) | static_cast<uint32_t>(input[5]) << 8) * 1000u;
    client.mPauseStartGameTime = 0;
    client.mLagging = 0;
    // No sender speaks for a player of the stream: the repair of the senders would create the client core.
    client.mSenders[ChatSenderSystem].mPlayerId = 1000;
    client.mSenders[ChatSenderObserver].mPlayerId = 1000;
    client.mSenders[ChatSenderIrc].mPlayerId = 1000;
    client.mSenders[ChatSenderWizard].mPlayerId = 1000;

    std::string message;
    if (asActions) {
        const size_t blocks = size - 6;
        const uint32_t length = static_cast<uint32_t>(8 + blocks);
        const uint32_t crc = Crc32(input + 6, blocks) & 0xFFFF;
        const uint8_t header[8] = {0xF7, 0x0C, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                   100, 0, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)};
        message.assign(reinterpret_cast<const char*>(header), 8);
    }
    message.append(reinterpret_cast<const char*>(input + 6), size - 6);

    // The stored bytes: an exactly sized heap block, so that a read behind it is caught.
    const uint32_t length = static_cast<uint32_t>(message.size());
    std::unique_ptr<uint8_t[]> stored(new uint8_t[length == 0 ? 1 : length]);
    std::memcpy(stored.get(), message.data(), length);
    const uint8_t* data = stored.get();
    uint32_t outLength = length;
    std::vector<std::string> lines;
    const int result = FilterGamePacket(client.mAnalyzers.get(), data, outLength, lines, settings);

    Check(result >= 0 && result <= 2);
    Check(std::memcmp(stored.get(), message.data(), length) == 0);
    if (data != stored.get()) {
        Check(outLength <= 0xFFFF || outLength <= length);
        if (length >= 11 && data[0] == 0xF7 && data[1] == 0x0C) {
            const uint32_t field = static_cast<uint32_t>(data[6] | data[7] << 8);
            Check(field == (Crc32(data + 8, outLength - 8) & 0xFFFF));
            if (outLength != length && outLength <= 0xFFFF)
                Check(static_cast<uint32_t>(data[2] | data[3] << 8) == outLength);
        }
        delete[] data;
    } else {
        Check(outLength == length);
        if (length >= 11 && data[0] == 0xF7 && data[1] == 0x0C)
            Check(static_cast<uint32_t>(data[6] | data[7] << 8) == (Crc32(data + 8, length - 8) & 0xFFFF));
    }
    for (const std::string& line : lines)
        Check(line.size() < 4096);
    return 0;
}
