#pragma once
// Shared pieces of the stream filter tests: a small builder of W3GS messages with its own CRC-32, and a
// fixture with a viewer (no socket) watching a 2v0 game with two observers.
//
// Game of the fixture: slot 0 player 1 "Alice" (team 0), slot 1 player 2 "Bob" (team 1), slot 2 player 3
// "Carol" (team 12, the view player), slot 3 player 4 "Dave" (team 12). The system sender is player 4.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analyzer/ActionAnalyzer.h"
#include "core/ClientSettings.h"
#include "core/GameRecords.h"
#include "lanhost/GameStreamFilter.h"
#include "lanhost/LanClient.h"
#include "support/LogCapture.h"

namespace filtertest {

// CRC-32 of IEEE 802.3, bit by bit.
inline uint32_t BitCrc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline std::string U8(uint32_t v)
{
    return std::string(1, static_cast<char>(v & 0xFF));
}

inline std::string U16(uint32_t v)
{
    return U8(v) + U8(v >> 8);
}

inline std::string U32(uint32_t v)
{
    return U16(v) + U16(v >> 16);
}

inline std::string Bytes(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

inline uint32_t ReadU16(const std::string& s, size_t at)
{
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}

// One action block.
inline std::string Block(uint8_t playerId, const std::string& actions)
{
    return U8(playerId) + U16(static_cast<uint32_t>(actions.size())) + actions;
}

// A W3GS 0x0C message around the blocks; the checksum is the low 16 bits of the CRC-32 of the blocks
// unless one is given.
inline std::string ActionMsg(const std::string& blocks, uint16_t increment = 100, int checksum = -1)
{
    const uint32_t crc = checksum >= 0 ? static_cast<uint32_t>(checksum) : (BitCrc32(blocks) & 0xFFFF);
    return Bytes({0xF7, 0x0C}) + U16(static_cast<uint32_t>(8 + blocks.size())) + U16(increment) + U16(crc) +
           blocks;
}

// Any W3GS message.
inline std::string Message(uint8_t id, const std::string& payload)
{
    return Bytes({0xF7, id}) + U16(static_cast<uint32_t>(4 + payload.size())) + payload;
}

// Ability actions 0x10 (15 bytes), 0x11 (23), 0x12 (31), 0x13 (39), 0x14 (44): u16 flags, u32 order or
// object id, eight bytes, then (from 0x11 on) the target point x, y at offsets 15 and 19 and zeros.
inline std::string Ability(uint8_t id, uint32_t orderId, float x = 0.0f, float y = 0.0f)
{
    static const size_t kSizes[] = {15, 23, 31, 39, 44};
    std::string a = U8(id) + U16(0) + U32(orderId) + std::string(8, '\0');
    if (id >= 0x11) {
        char fx[4], fy[4];
        std::memcpy(fx, &x, 4);
        std::memcpy(fy, &y, 4);
        a += std::string(fx, 4) + std::string(fy, 4);
    }
    a.resize(kSizes[id - 0x10], '\0');
    return a;
}

inline std::string Ping(float x, float y)
{
    char fx[4], fy[4];
    std::memcpy(fx, &x, 4);
    std::memcpy(fy, &y, 4);
    return U8(0x68) + std::string(fx, 4) + std::string(fy, 4) + U32(0xDEADBEEF);
}

inline std::string Trigger()
{
    return U8(0x62) + U32(1) + U32(2) + U32(3);
}

constexpr uint32_t kObjectHfoo = 0x68666F6F;

inline uint32_t Id4(const char (&c)[5])
{
    return FourCC(c);
}

class GameStreamFilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = std::make_unique<Game>(0x1234);
        game->mDetails = new GameDetails();
        GameDetails& d = *game->mDetails;
        const char* names[] = {"", "Alice", "Bob", "Carol", "Dave"};
        const uint8_t teams[] = {0, 1, 12, 12};
        for (int i = 0; i < 4; ++i) {
            SlotRecord& s = d.mSlots[i];
            s.mValid = 1;
            s.mPlayerId = static_cast<uint8_t>(i + 1);
            s.mStatus = kSlotStatusUsed;
            s.mTeam = teams[i];
            s.mColour = static_cast<uint8_t>(i);
            PlayerRecord& p = d.mPlayers[i + 1];
            p.mValid = 1;
            p.mName = names[i + 1];
        }
        // The slots behind the fourth are closed observer slots.
        for (int i = 4; i < GameDetails::kSlots; ++i) {
            d.mSlots[i].mValid = 1;
            d.mSlots[i].mStatus = kSlotStatusClosed;
            d.mSlots[i].mTeam = 12;
        }
        d.mSlotCount = 12;
        d.mViewPlayer = 3;
        client.mGame = game.get();
        client.mSenders[ChatSenderSystem].mPlayerId = 4;
        client.mCursor.mEntriesRead = 10;
        client.mGameTime = 60000;
        settings.mAnalyzerFlags = 0xFF & ~AnalyzerPingTargets;
        settings.mPlayerPing = 0;
        settings.mObsPing = 0;
    }

    void TearDown() override { client.mGame = nullptr; }

    // Filters the message from an exactly sized heap buffer (so that a read behind it is caught), checks
    // that the stored bytes were not changed, and returns the result; out holds the bytes to send.
    int Filter(const std::string& message)
    {
        const size_t n = message.size();
        std::unique_ptr<uint8_t[]> stored(new uint8_t[n == 0 ? 1 : n]);
        std::memcpy(stored.get(), message.data(), n);
        const uint8_t* data = stored.get();
        uint32_t length = static_cast<uint32_t>(n);
        const int result = FilterGamePacket(client.mAnalyzers.get(), data, length, lines, settings);
        EXPECT_EQ(std::memcmp(stored.get(), message.data(), n), 0) << "the stored bytes changed";
        copied = data != stored.get();
        out.assign(reinterpret_cast<const char*>(data), length);
        if (copied)
            delete[] data;
        return result;
    }

    size_t ActionLogCount() const { return log.Count("[action] "); }

    bcxtest::LogCapture log;
    std::unique_ptr<Game> game;
    LanClient client;
    ClientSettings settings;
    std::vector<std::string> lines;
    std::string out;
    bool copied = false;
};

} // namespace filtertest
