#include "core/GameRecords.h"

#include "core/Packet.h"
#include "platform/ProgramClock.h"

namespace {

struct StateLook {
    const char* nameUtf8;
    GameStateRgb colour;
};

// Indexed by GameState.
const StateLook GameStateNames[GameStateCount] = {
    {"Coming up next", {200, 200, 10}},
    {"About to start", {200, 200, 10}},
    {"Started, delaying...", {10, 180, 10}},
    {"直播!", {10, 180, 10}},
    {"完成", {0, 0, 0}},
    {"损坏", {200, 10, 10}},
    {"本地", {3, 3, 3}},
};

const StateLook& LookOf(uint32_t state)
{
    return GameStateNames[ClampGameState(state)];
}

// Reads fields one after another. Once a field is missing, the packet's cursor is moved to its end, so
// that every later field fails as well: numbers read as 0xAD filler, strings keep their value, and the
// packet's read error is left set at the end.
class FieldReader {
public:
    explicit FieldReader(PacketBuffer& packet) : mPacket(packet) {}

    uint8_t U8()
    {
        uint8_t v = mPacket.ReadU8();
        Check();
        return v;
    }
    uint32_t U32()
    {
        uint32_t v = mPacket.ReadU32();
        Check();
        return v;
    }
    void Bytes(void* dst, uint32_t n)
    {
        mPacket.Read(dst, n);
        Check();
    }
    void String(std::string& out)
    {
        uint32_t before = mPacket.Cursor();
        mPacket.ReadString(out);
        if (mPacket.Cursor() == before)
            Fail();
    }

private:
    void Check()
    {
        if (mPacket.ReadError())
            Fail();
    }
    void Fail()
    {
        mPacket.SetCursor(mPacket.Size());
        // A string that failed leaves the read error untouched; make sure it reports the short packet.
        if (!mPacket.ReadError())
            mPacket.ReadU8();
    }

    PacketBuffer& mPacket;
};

} // namespace

wxString GameStateName(uint32_t state)
{
    return wxString::FromUTF8(LookOf(state).nameUtf8);
}

GameStateRgb GameStateColour(uint32_t state)
{
    return LookOf(state).colour;
}

bool IsPlayingSlot(const SlotRecord& slot)
{
    return slot.mValid && slot.mStatus == kSlotStatusUsed && slot.mPlayerId != 0 && slot.mComputer == 0
           && slot.mTeam != kObserverTeam;
}

bool IsObserverSlot(const SlotRecord& slot)
{
    return slot.mValid && slot.mStatus == kSlotStatusUsed && slot.mPlayerId != 0 && slot.mComputer == 0
           && slot.mTeam == kObserverTeam;
}

// ---------------------------------------------------------------------------------------------------

GameInfo::GameInfo(const std::string& gameName, uint16_t sessionPort)
    : mGameName(gameName), mSecondText("Brawlcast"), mSessionPort(sessionPort)
{
}

void GameInfo::Read(PacketBuffer& packet)
{
    FieldReader in(packet);
    mProduct = in.U32();
    mVersion = in.U32();
    mHostCounter = in.U32();
    mEntryKey = in.U32();
    in.Bytes(mInfoA, sizeof mInfoA);
    in.Bytes(mInfoB, sizeof mInfoB);
    mInfoC = in.U32();
    in.String(mMapPath);
    mInfoD = in.U32();
    mInfoE = in.U32();
    mWordF = 0;
    mWordG = 1;
    mReceiveTime = bcx::ProgramClock::Now();
    mPresent = 1;
}

bool GameInfo::Write(PacketBuffer& out) const
{
    out.WriteU32(kRecordMagic);
    out.WriteU32(mProduct);
    out.WriteU32(mVersion);
    out.WriteU32(mHostCounter);
    out.WriteU32(mEntryKey);
    out.WriteString(mGameName);
    out.Write(mInfoA, sizeof mInfoA);
    out.Write(mInfoB, sizeof mInfoB);
    out.WriteU32(mInfoC);
    out.WriteString(mMapPath);
    out.WriteString(mSecondText);
    out.WriteU32(mInfoD);
    out.WriteU32(mInfoE);
    out.WriteU32(mWordF);
    out.WriteU32(mWordG);
    out.WriteU32(mReceiveTime);
    out.WriteU16(mSessionPort);
    return true;
}

// ---------------------------------------------------------------------------------------------------

GameDetails::GameDetails() = default;

void GameDetails::Read(PacketBuffer& packet)
{
    FieldReader in(packet);
    in.String(mMapPath);
    mMapSize = in.U32();
    mMapInfo = in.U32();
    mMapCheckWord = in.U32();
    mMapChecksum = in.U32();
    mDetailWord5 = in.U32();
    mDetailWord6 = in.U32();
    mRandomSeed = in.U32();
    mLayoutStyle = in.U8();
    mPlayerSlots = in.U8();
    in.Bytes(mJoinAddress, sizeof mJoinAddress);
    uint8_t slotCount = in.U8();
    mSlotCount = slotCount > kSlots ? kSlots : slotCount;
    for (SlotRecord& slot : mSlots) {
        slot.mValid = in.U8() != 0 ? 1 : 0;
        uint8_t b[9];
        in.Bytes(b, sizeof b);
        slot.mPlayerId = b[0];
        slot.mDownloadPercent = b[1];
        slot.mStatus = b[2];
        slot.mComputer = b[3];
        slot.mTeam = b[4];
        slot.mColour = b[5];
        slot.mRace = b[6];
        slot.mComputerLevel = b[7];
        slot.mHandicap = b[8];
    }
    for (PlayerRecord& player : mPlayers) {
        player.mValid = in.U8() != 0 ? 1 : 0;
        player.mJoinCounter = in.U32();
        in.String(player.mName);
        in.Bytes(player.mExternalAddress, sizeof player.mExternalAddress);
        in.Bytes(player.mInternalAddress, sizeof player.mInternalAddress);
        // The slot table may have changed: look every player up afresh.
        player.mSlotIndex = -1;
    }
    mViewPlayer = in.U8();
    in.String(mDetailText);
    mCompleteness = in.U32();
}

bool GameDetails::Write(PacketBuffer& out) const
{
    out.WriteU32(kRecordMagic);
    out.WriteString(mMapPath);
    out.WriteU32(mMapSize);
    out.WriteU32(mMapInfo);
    out.WriteU32(mMapCheckWord);
    out.WriteU32(mMapChecksum);
    out.WriteU32(mDetailWord5);
    out.WriteU32(mDetailWord6);
    out.WriteU32(mRandomSeed);
    out.WriteU8(mLayoutStyle);
    out.WriteU8(mPlayerSlots);
    out.Write(mJoinAddress, sizeof mJoinAddress);
    out.WriteU8(mSlotCount);
    for (const SlotRecord& slot : mSlots) {
        const uint8_t b[10] = {slot.mValid, slot.mPlayerId, slot.mDownloadPercent, slot.mStatus,
                               slot.mComputer, slot.mTeam, slot.mColour, slot.mRace,
                               slot.mComputerLevel, slot.mHandicap};
        out.Write(b, sizeof b);
    }
    for (const PlayerRecord& player : mPlayers) {
        out.WriteU8(player.mValid);
        out.WriteU32(player.mJoinCounter);
        out.WriteString(player.mName);
        out.Write(player.mExternalAddress, sizeof player.mExternalAddress);
        out.Write(player.mInternalAddress, sizeof player.mInternalAddress);
    }
    out.WriteU8(mViewPlayer);
    out.WriteString(mDetailText);
    out.WriteU32(mCompleteness);
    return true;
}

SlotRecord* GameDetails::GetPlayerSlot(uint8_t playerId)
{
    if (playerId == 0 || playerId >= kPlayers)
        return &mSlots[0];
    PlayerRecord& player = mPlayers[playerId];
    if (player.mSlotIndex >= 0 && player.mSlotIndex < kSlots)
        return &mSlots[player.mSlotIndex];
    for (int i = 0; i < kSlots; ++i) {
        if (mSlots[i].mPlayerId == playerId) {
            player.mSlotIndex = i;
            return &mSlots[i];
        }
    }
    return &mSlots[0];
}

uint8_t GameDetails::GetViewPlayer()
{
    // The fallback slot of GetPlayerSlot does not hold the view player; it must not make an id without a
    // slot (0, above 12, or absent) pass as an observer.
    const SlotRecord* own = GetPlayerSlot(mViewPlayer);
    if (IsObserverSlot(*own) && own->mPlayerId == mViewPlayer)
        return mViewPlayer;
    for (const SlotRecord& slot : mSlots)
        if (IsObserverSlot(slot) && slot.mPlayerId < kPlayers)
            return slot.mPlayerId;
    return mViewPlayer;
}

// ---------------------------------------------------------------------------------------------------

Game::Game(uint32_t id) : mId(id) {}

Game::~Game()
{
    mDownloadState = DownloadListed;
    delete mData;
    mData = nullptr;
    delete mDetails;
    mDetails = nullptr;
    delete mInfo;
    mInfo = nullptr;
    delete mResumeCursor;
    mResumeCursor = nullptr;
}
