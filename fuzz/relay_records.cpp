// Feeds arbitrary bytes to the readers of the relay's game records: the game information, the game
// details and a run of data entries, as the relay handlers read them from a received frame. The records
// are then written back and walked with a cursor, so that whatever was accepted is also usable.

#include <cstddef>
#include <cstdint>

#include "core/GameData.h"
#include "core/GameRecords.h"
#include "core/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    bcxPacket packet;
    packet.Write(data + 1, static_cast<uint32_t>(size - 1));
    packet.SetCursor(0);

    filePacket out;
    switch (selector % 3) {
    case 0: {
        GameInfo info("fuzz", 10385);
        info.Read(packet);
        info.Write(out);
        break;
    }
    case 1: {
        GameDetails details;
        details.Read(packet);
        details.Write(out);
        for (uint8_t id = 0; id < 16; ++id)
            details.GetPlayerSlot(id);
        details.GetViewPlayer();
        break;
    }
    default: {
        GameData gameData;
        GameDataCursor* resume = nullptr;
        uint32_t count = packet.ReadU32();
        gameData.ReadBlocks(packet, count, resume);
        // A second pass over the same bytes with a resume cursor must skip what is held.
        resume = new GameDataCursor();
        packet.SetCursor(4);
        gameData.ReadBlocks(packet, count, resume);
        delete resume;
        gameData.Finish();
        GameDataCursor cursor;
        uint32_t time = 0, length = 0;
        const uint8_t* bytes = nullptr;
        for (int i = 0; i < 100000 && gameData.Next(cursor, time, length, bytes, 0, 0xFFFFFFFF) == 0; ++i) {
        }
        gameData.Write(out);
        break;
    }
    }
    return 0;
}
