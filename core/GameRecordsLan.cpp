// The game records as the Warcraft III LAN side presents them: the game-info datagram body, the lobby
// messages built from the slot and player records, and the tests the LAN game host makes on a game.

#include <algorithm>

#include "core/GameRecords.h"
#include "core/Packet.h"
#include "platform/ProgramClock.h"

namespace {

// The slot records a slot table carries: never more than the 12 that exist.
uint8_t BoundedSlotCount(uint8_t count)
{
    return static_cast<uint8_t>(std::min<int>(count, GameDetails::kSlots));
}

void WriteSlotBytes(warPacket& packet, const SlotRecord& slot)
{
    packet.WriteU8(slot.mPlayerId);
    packet.WriteU8(slot.mDownloadPercent);
    packet.WriteU8(slot.mStatus);
    packet.WriteU8(slot.mComputer);
    packet.WriteU8(slot.mTeam);
    packet.WriteU8(slot.mColour);
    packet.WriteU8(slot.mRace);
    packet.WriteU8(slot.mComputerLevel);
    packet.WriteU8(slot.mHandicap);
}

bool HasLeft(const GameDetails& details, uint8_t playerId)
{
    return playerId < GameDetails::kPlayers && details.mPlayers[playerId].mLeaveTime >= 0;
}

} // namespace

void EncodeStatString(warPacket& out, const filePacket& in)
{
    const uint32_t n = in.Size();
    const uint8_t* bytes = in.Data();
    // Even bytes go out plus 1 and odd ones unchanged, so that no encoded byte is 0; the mask bit of the
    // first byte lives in the info bytes the relay delivered.
    auto encoded = [](uint8_t b) { return static_cast<uint8_t>((b & 1) ? b : b + 1); };
    if (n > 0)
        out.WriteU8(encoded(bytes[0]));
    for (uint32_t start = 1; start < n; start += 7) {
        const uint32_t end = std::min<uint32_t>(start + 7, n);
        uint8_t mask = 1;
        for (uint32_t i = start; i < end; ++i)
            if (bytes[i] & 1)
                mask = static_cast<uint8_t>(mask | (1u << (i - start + 1)));
        out.WriteU8(mask);
        for (uint32_t i = start; i < end; ++i)
            out.WriteU8(encoded(bytes[i]));
    }
    out.WriteU8(0);
}

void GameInfo::WriteLanGameInfo(warPacket& packet, bool live) const
{
    packet.WriteU32(mProduct);
    packet.WriteU32(mVersion);
    packet.WriteU32(mHostCounter);
    packet.WriteU32(mEntryKey);
    packet.WriteString(live ? "!" + mGameName : mGameName);
    packet.Write(mInfoA, sizeof mInfoA);
    packet.Write(mInfoB, sizeof mInfoB);
    packet.WriteU32(mInfoC);
    filePacket strings;
    strings.WriteString(mMapPath);
    strings.WriteString(mSecondText);
    strings.WriteString(std::string());
    EncodeStatString(packet, strings);
    packet.WriteU32(mInfoD);
    packet.WriteU32(mInfoE);
    packet.WriteU32(0);
    packet.WriteU32(1);
    packet.WriteU32(bcx::ProgramClock::Now());
    packet.WriteU16(mSessionPort);
}

int32_t GameDetails::WriteLanRecord(warPacket& packet, uint32_t id, uint32_t playerId, const std::string* name)
{
    switch (id) {
    case 4:
    case 9: {
        const uint8_t n = BoundedSlotCount(mSlotCount);
        packet.WriteU16(static_cast<uint16_t>(9 * n + 7));
        packet.WriteU8(n);
        for (uint8_t i = 0; i < n; ++i)
            WriteSlotBytes(packet, mSlots[i]);
        packet.WriteU32(mRandomSeed);
        packet.WriteU8(mLayoutStyle);
        packet.WriteU8(mPlayerSlots);
        if (id == 4) {
            packet.WriteU8(GetViewPlayer());
            packet.Write(mJoinAddress, sizeof mJoinAddress);
        }
        return 0;
    }
    case 6: {
        if (playerId < 1 || playerId >= static_cast<uint32_t>(kPlayers))
            return -2;
        const PlayerRecord& player = mPlayers[playerId];
        packet.WriteU32(player.mJoinCounter);
        packet.WriteU8(static_cast<uint8_t>(playerId));
        packet.WriteString(name ? *name : player.mName);
        packet.WriteU16(1);
        static const uint8_t kZeros[32] = {};
        packet.Write(kZeros, sizeof kZeros);
        return 0;
    }
    case 61:
        packet.WriteU32(mMapCheckWord);
        packet.WriteString(mMapPath);
        packet.WriteU32(mMapSize);
        packet.WriteU32(mMapInfo);
        packet.WriteU32(mMapChecksum);
        return 0;
    case 30:
        return 0;
    default:
        return -2;
    }
}

uint32_t GameDetails::CountObserverSlots() const
{
    uint32_t count = 0;
    for (const SlotRecord& slot : mSlots)
        if (IsObserverSlot(slot))
            ++count;
    return count;
}

uint32_t GameDetails::GetOtherPlayer(uint32_t index)
{
    const uint8_t view = GetViewPlayer();
    uint32_t seen = 0;
    for (const SlotRecord& slot : mSlots) {
        if (!IsObserverSlot(slot) || slot.mPlayerId == view || slot.mPlayerId >= kPlayers ||
            HasLeft(*this, slot.mPlayerId))
            continue;
        if (seen == index)
            return slot.mPlayerId;
        ++seen;
    }
    for (const SlotRecord& slot : mSlots)
        if (IsPlayingSlot(slot) && slot.mPlayerId != view && slot.mPlayerId < kPlayers &&
            !HasLeft(*this, slot.mPlayerId))
            return slot.mPlayerId;
    return 0;
}

bool Game::IsReadyForLan() const
{
    return mInfo && mInfo->mPresent && mDetails && mDetails->mCompleteness == 15 && mData && mData->IsFinished();
}
