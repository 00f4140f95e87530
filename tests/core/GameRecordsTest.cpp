#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/GameRecords.h"
#include "core/Packet.h"
#include "platform/ProgramClock.h"
#include "tests/core/RecordTestBytes.h"

namespace {

using rectest::Bytes;
using rectest::Reader;

filePacket PacketOf(const Bytes& bytes)
{
    filePacket packet;
    packet.Write(bytes.Data().data(), uint32_t(bytes.Size()));
    packet.SetCursor(0);
    return packet;
}

std::string Seq(uint8_t first, size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char(first + i);
    return s;
}

// --- states ---

TEST(GameRecords, StateNamesAndColoursClampOutOfRangeStates)
{
    EXPECT_EQ(GameStateName(GameStateComingUp), wxS("Coming up next"));
    EXPECT_EQ(GameStateName(GameStateDelaying), wxS("Started, delaying..."));
    EXPECT_EQ(GameStateName(GameStateLive), wxString::FromUTF8("直播!"));
    EXPECT_EQ(GameStateName(GameStateLocal), wxString::FromUTF8("本地"));
    GameStateRgb live = GameStateColour(GameStateLive);
    EXPECT_EQ(live.r, 10);
    EXPECT_EQ(live.g, 180);
    EXPECT_EQ(live.b, 10);
    GameStateRgb local = GameStateColour(GameStateLocal);
    EXPECT_EQ(local.r + local.g + local.b, 9);

    // A state that the relay made up shows as broken.
    const wxString broken = wxString::FromUTF8("损坏");
    for (uint32_t state : {7u, 200u, 255u, 0xFFFFFFFFu}) {
        EXPECT_EQ(GameStateName(state), broken) << state;
        GameStateRgb c = GameStateColour(state);
        EXPECT_EQ(c.r, 200);
        EXPECT_EQ(c.g, 10);
        EXPECT_EQ(c.b, 10);
    }
    EXPECT_TRUE(IsLiveGameState(GameStateLive));
    EXPECT_FALSE(IsLiveGameState(GameStateFinished));
}

TEST(GameRecords, NewGameAndInfoDefaults)
{
    Game game(0xABCD0001);
    EXPECT_EQ(game.mId, 0xABCD0001u);
    EXPECT_EQ(game.mPlayers, "None");
    EXPECT_EQ(game.mInfo, nullptr);
    EXPECT_EQ(game.mResumeCursor, nullptr);

    GameInfo info("game", 10385);
    EXPECT_EQ(info.mGameName, "game");
    EXPECT_EQ(info.mSecondText, "Brawlcast");
    EXPECT_EQ(info.mSessionPort, 10385);
    EXPECT_EQ(info.mPresent, 0u);

    GameDetails details;
    EXPECT_EQ(details.mMapCheckWord, 1u);
    EXPECT_EQ(details.mCompleteness, 0u);
    for (const PlayerRecord& p : details.mPlayers) {
        EXPECT_EQ(p.mSlotIndex, -1);
        EXPECT_EQ(p.mLeaveTime, -1);
    }
}

// --- GameInfo ---

Bytes InfoBytes()
{
    Bytes b;
    b.U32(0x57335850).U32(26).U32(0x1111).U32(0x2222).Raw(Seq(0x10, 6)).Raw(Seq(0x20, 6)).U32(0x3333)
        .Str("Maps\\(2)Lost Temple.w3m").U32(0x4444).U32(0x5555);
    return b;
}

TEST(GameRecords, GameInfoReadsTheRelayOrderAndWritesTheRecordOrder)
{
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(123456);
    GameInfo info("\xB2\xE2\xCA\xD4 game", 4000);
    Bytes bytes = InfoBytes();
    filePacket packet = PacketOf(bytes);
    info.Read(packet);
    EXPECT_FALSE(packet.ReadError());
    EXPECT_EQ(packet.Cursor(), bytes.Size());
    EXPECT_EQ(info.mPresent, 1u);
    EXPECT_EQ(info.mReceiveTime, 123456u);

    filePacket out;
    EXPECT_TRUE(info.Write(out));
    Reader in(out.Data(), out.Size());
    EXPECT_EQ(in.U32(), rectest::kMagic);
    EXPECT_EQ(in.U32(), 0x57335850u);   // product
    EXPECT_EQ(in.U32(), 26u);           // version
    EXPECT_EQ(in.U32(), 0x1111u);       // host counter
    EXPECT_EQ(in.U32(), 0x2222u);       // entry key
    EXPECT_EQ(in.Str(), "\xB2\xE2\xCA\xD4 game");
    EXPECT_EQ(in.Raw(6), Seq(0x10, 6));
    EXPECT_EQ(in.Raw(6), Seq(0x20, 6));
    EXPECT_EQ(in.U32(), 0x3333u);
    EXPECT_EQ(in.Str(), "Maps\\(2)Lost Temple.w3m");
    EXPECT_EQ(in.Str(), "Brawlcast");
    EXPECT_EQ(in.U32(), 0x4444u);
    EXPECT_EQ(in.U32(), 0x5555u);
    EXPECT_EQ(in.U32(), 0u);            // word F
    EXPECT_EQ(in.U32(), 1u);            // word G
    EXPECT_EQ(in.U32(), 123456u);       // receive time
    EXPECT_EQ(in.U16(), 4000);          // session port
    EXPECT_EQ(in.Left(), 0u);
}

TEST(GameRecords, ShortGameInfoFillsTheRestAndKeepsTheMapPath)
{
    {
        // Cut two bytes into the entry key.
        GameInfo info("g", 1);
        info.mMapPath = "old.w3x";
        Bytes bytes = InfoBytes();
        bytes.Truncate(14);
        filePacket packet = PacketOf(bytes);
        info.Read(packet);
        EXPECT_TRUE(packet.ReadError());
        EXPECT_EQ(info.mProduct, 0x57335850u);
        EXPECT_EQ(info.mHostCounter, 0x1111u);
        EXPECT_EQ(info.mEntryKey, 0xADADADADu);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(info.mInfoA), 6), std::string(6, '\xAD'));
        EXPECT_EQ(info.mInfoC, 0xADADADADu);
        EXPECT_EQ(info.mMapPath, "old.w3x");
        EXPECT_EQ(info.mInfoE, 0xADADADADu);
        EXPECT_EQ(info.mPresent, 1u);
    }
    {
        // Cut inside the map path: the words behind it are filler, not the path's bytes.
        GameInfo info("g", 1);
        info.mMapPath = "old.w3x";
        Bytes bytes = InfoBytes();
        bytes.Truncate(4 * 4 + 12 + 4 + 12);
        filePacket packet = PacketOf(bytes);
        info.Read(packet);
        EXPECT_TRUE(packet.ReadError());
        EXPECT_EQ(info.mInfoC, 0x3333u);
        EXPECT_EQ(info.mMapPath, "old.w3x");
        EXPECT_EQ(info.mInfoD, 0xADADADADu);
        EXPECT_EQ(info.mInfoE, 0xADADADADu);
    }
}

// --- GameDetails ---

struct SlotBytes {
    uint8_t valid, id, download, status, computer, team, colour, race, level, handicap;
};

const std::string kDetailsMapPath = "Maps\\FrozenThrone\\(4)TwistedMeadows.w3x";
// Bytes of the relay's details record before its slot count: the map path and its NUL, seven words,
// two bytes and the join address.
const size_t kBytesBeforeSlotCount = kDetailsMapPath.size() + 1 + 28 + 2 + 16;

// Crafted relay bytes of a details record. Slots 0-11 and players 0-12 are described by the callbacks.
Bytes DetailsBytes(uint8_t slotCount, const SlotBytes (&slots)[12], const char* const (&names)[13])
{
    Bytes b;
    b.Str(kDetailsMapPath);
    b.U32(0x0001A2B3).U32(0x11).U32(0x22).U32(0x33).U32(0x55).U32(0x66).U32(0xDEADBEEF);
    b.U8(3).U8(4).Raw(Seq(0x40, 16)).U8(slotCount);
    for (const SlotBytes& s : slots)
        b.U8(s.valid).U8(s.id).U8(s.download).U8(s.status).U8(s.computer).U8(s.team).U8(s.colour)
            .U8(s.race).U8(s.level).U8(s.handicap);
    for (int i = 0; i < 13; ++i) {
        b.U8(names[i][0] ? 7 : 0).U32(1000 + i).Str(names[i]).Raw(Seq(uint8_t(i), 16))
            .Raw(Seq(uint8_t(0x80 + i), 16));
    }
    b.U8(5).Str("detail text").U32(15);
    return b;
}

const char* const kNames[13] = {"", "Moon", "\xC0\xEE\xCB\xC4", "Ted", "", "Obs1", "", "", "", "", "", "", ""};

void DefaultSlots(SlotBytes (&slots)[12])
{
    std::memset(slots, 0, sizeof slots);
    slots[0] = {9, 1, 100, 2, 0, 0, 0, 1, 1, 100};    // valid given as 9: stored as 1
    slots[1] = {1, 2, 100, 2, 0, 1, 1, 2, 1, 100};
    slots[2] = {1, 3, 100, 2, 1, 12, 2, 4, 2, 100};   // a computer in the observer team
    slots[3] = {1, 5, 100, 2, 0, 12, 12, 0, 1, 100};  // a human observer
    slots[4] = {1, 0, 0, 0, 0, 12, 0, 0, 0, 100};     // an open observer slot
}

TEST(GameRecords, GameDetailsReadAndWriteBack)
{
    SlotBytes slots[12];
    DefaultSlots(slots);
    Bytes bytes = DetailsBytes(5, slots, kNames);
    filePacket packet = PacketOf(bytes);
    GameDetails details;
    details.Read(packet);
    EXPECT_FALSE(packet.ReadError());
    EXPECT_EQ(packet.Cursor(), bytes.Size());
    EXPECT_EQ(details.mSlots[0].mValid, 1);
    EXPECT_EQ(details.mPlayers[1].mValid, 1);
    EXPECT_EQ(details.mPlayers[0].mValid, 0);
    EXPECT_EQ(details.mMapCheckWord, 0x22u);  // third of the seven words
    EXPECT_EQ(details.mRandomSeed, 0xDEADBEEFu);

    filePacket out;
    EXPECT_TRUE(details.Write(out));
    Reader in(out.Data(), out.Size());
    EXPECT_EQ(in.U32(), rectest::kMagic);
    EXPECT_EQ(in.Str(), kDetailsMapPath);
    const uint32_t words[7] = {0x0001A2B3, 0x11, 0x22, 0x33, 0x55, 0x66, 0xDEADBEEF};
    for (uint32_t w : words)
        EXPECT_EQ(in.U32(), w);
    EXPECT_EQ(in.U8(), 3);
    EXPECT_EQ(in.U8(), 4);
    EXPECT_EQ(in.Raw(16), Seq(0x40, 16));
    EXPECT_EQ(in.U8(), 5);
    for (int i = 0; i < 12; ++i) {
        const SlotBytes& s = slots[i];
        EXPECT_EQ(in.U8(), s.valid ? 1 : 0) << "slot " << i;
        const uint8_t rest[9] = {s.id, s.download, s.status, s.computer, s.team, s.colour, s.race, s.level,
                                 s.handicap};
        EXPECT_EQ(in.Raw(9), std::string(reinterpret_cast<const char*>(rest), 9)) << "slot " << i;
    }
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(in.U8(), kNames[i][0] ? 1 : 0) << "player " << i;
        EXPECT_EQ(in.U32(), uint32_t(1000 + i));
        EXPECT_EQ(in.Str(), kNames[i]);
        EXPECT_EQ(in.Raw(16), Seq(uint8_t(i), 16));
        EXPECT_EQ(in.Raw(16), Seq(uint8_t(0x80 + i), 16));
    }
    EXPECT_EQ(in.U8(), 5);
    EXPECT_EQ(in.Str(), "detail text");
    EXPECT_EQ(in.U32(), 15u);
    EXPECT_EQ(in.Left(), 0u);
}

TEST(GameRecords, SlotCountIsClampedToTwelve)
{
    SlotBytes slots[12];
    DefaultSlots(slots);
    Bytes bytes = DetailsBytes(200, slots, kNames);
    filePacket packet = PacketOf(bytes);
    GameDetails details;
    details.Read(packet);
    EXPECT_EQ(details.mSlotCount, 12);
    filePacket out;
    details.Write(out);
    // The magic, then the relay's bytes up to the slot count.
    size_t at = 4 + kBytesBeforeSlotCount;
    ASSERT_GT(out.Size(), at);
    EXPECT_EQ(out.Data()[at], 12);
}

TEST(GameRecords, ShortDetailsFillNumbersAndKeepStrings)
{
    SlotBytes slots[12];
    DefaultSlots(slots);
    Bytes bytes = DetailsBytes(5, slots, kNames);
    // Cut after player 2's join counter: its name and everything behind it is missing.
    size_t cut = bytes.Size();
    {
        Bytes head = DetailsBytes(5, slots, kNames);
        size_t beforePlayers = kBytesBeforeSlotCount + 1 + 120;
        size_t p0 = 1 + 4 + 1 + 32;
        size_t p1 = 1 + 4 + 5 + 32;
        cut = beforePlayers + p0 + p1 + 1 + 4;
        ASSERT_LT(cut, head.Size());
    }
    bytes.Truncate(cut);

    GameDetails details;
    details.mPlayers[2].mName = "kept";
    details.mDetailText = "old text";
    filePacket packet = PacketOf(bytes);
    details.Read(packet);
    EXPECT_TRUE(packet.ReadError());
    EXPECT_EQ(details.mPlayers[1].mName, "Moon");
    EXPECT_EQ(details.mPlayers[2].mJoinCounter, 1002u);
    EXPECT_EQ(details.mPlayers[2].mName, "kept");
    EXPECT_EQ(details.mPlayers[2].mExternalAddress[0], 0xAD);
    EXPECT_EQ(details.mPlayers[3].mJoinCounter, 0xADADADADu);
    EXPECT_EQ(details.mPlayers[3].mValid, 1);  // 0xAD filler is non-zero
    EXPECT_EQ(details.mViewPlayer, 0xAD);
    EXPECT_EQ(details.mDetailText, "old text");
    EXPECT_EQ(details.mCompleteness, 0xADADADADu);

    // An empty packet: everything filler, every string kept.
    GameDetails empty;
    empty.mMapPath = "path";
    filePacket nothing;
    empty.Read(nothing);
    EXPECT_TRUE(nothing.ReadError());
    EXPECT_EQ(empty.mMapPath, "path");
    EXPECT_EQ(empty.mSlotCount, 12);
    EXPECT_EQ(empty.mRandomSeed, 0xADADADADu);
}

TEST(GameRecords, PlayerSlotLookupCachesAndIsResetByANewRead)
{
    SlotBytes slots[12];
    DefaultSlots(slots);
    slots[7] = {1, 200, 100, 2, 0, 12, 3, 0, 1, 100};  // a slot naming an id that has no player record
    {
        Bytes bytes = DetailsBytes(8, slots, kNames);
        filePacket packet = PacketOf(bytes);
        GameDetails details;
        details.Read(packet);

        EXPECT_EQ(details.GetPlayerSlot(0), &details.mSlots[0]);
        EXPECT_EQ(details.GetPlayerSlot(3), &details.mSlots[2]);
        EXPECT_EQ(details.mPlayers[3].mSlotIndex, 2);
        EXPECT_EQ(details.GetPlayerSlot(9), &details.mSlots[0]);  // no slot holds 9
        EXPECT_EQ(details.mPlayers[9].mSlotIndex, -1);

        // Ids above 12 give the first slot and touch no player record.
        for (int id : {13, 200, 255}) {
            EXPECT_EQ(details.GetPlayerSlot(uint8_t(id)), &details.mSlots[0]) << id;
        }
        for (const PlayerRecord& p : details.mPlayers)
            EXPECT_TRUE(p.mSlotIndex == -1 || &p == &details.mPlayers[3]);

        // Details read again with player 3 moved: the cached index does not survive.
        std::swap(slots[2], slots[6]);
        Bytes moved = DetailsBytes(8, slots, kNames);
        filePacket again = PacketOf(moved);
        details.Read(again);
        EXPECT_EQ(details.mPlayers[3].mSlotIndex, -1);
        EXPECT_EQ(details.GetPlayerSlot(3), &details.mSlots[6]);
    }
}

TEST(GameRecords, PlayingAndObserverSlots)
{
    SlotRecord human{1, 4, 100, kSlotStatusUsed, 0, 1, 0, 0, 0, 100};
    EXPECT_TRUE(IsPlayingSlot(human));
    EXPECT_FALSE(IsObserverSlot(human));
    SlotRecord observer = human;
    observer.mTeam = kObserverTeam;
    EXPECT_FALSE(IsPlayingSlot(observer));
    EXPECT_TRUE(IsObserverSlot(observer));

    // Each failing condition alone disqualifies both kinds.
    for (int k = 0; k < 4; ++k) {
        SlotRecord a = human, b = observer;
        for (SlotRecord* s : {&a, &b}) {
            if (k == 0) s->mValid = 0;
            if (k == 1) s->mStatus = kSlotStatusClosed;
            if (k == 2) s->mPlayerId = 0;
            if (k == 3) s->mComputer = 1;
        }
        EXPECT_FALSE(IsPlayingSlot(a)) << k;
        EXPECT_FALSE(IsObserverSlot(b)) << k;
    }
}

TEST(GameRecords, ViewPlayerRules)
{
    SlotBytes slots[12];
    DefaultSlots(slots);
    Bytes bytes = DetailsBytes(5, slots, kNames);
    filePacket packet = PacketOf(bytes);
    GameDetails details;
    details.Read(packet);

    details.mViewPlayer = 5;  // sits in the observer slot
    EXPECT_EQ(details.GetViewPlayer(), 5);
    details.mViewPlayer = 2;  // a playing player: the first human observer is followed
    EXPECT_EQ(details.GetViewPlayer(), 5);
    details.mViewPlayer = 3;  // the computer in the observer team is not a viewer
    EXPECT_EQ(details.GetViewPlayer(), 5);
    details.mViewPlayer = 0;  // no such player
    EXPECT_EQ(details.GetViewPlayer(), 5);
    details.mViewPlayer = 77;
    EXPECT_EQ(details.GetViewPlayer(), 5);

    // The first slot is a human observer: an id without a slot must not pass as that observer.
    details.mSlots[0].mTeam = kObserverTeam;
    details.mViewPlayer = 0;
    EXPECT_EQ(details.GetViewPlayer(), 1);
    details.mViewPlayer = 200;
    EXPECT_EQ(details.GetViewPlayer(), 1);

    // Without any human observer the view player stays.
    GameDetails none;
    none.mSlots[0] = SlotRecord{1, 1, 100, kSlotStatusUsed, 0, 0, 0, 0, 0, 100};
    none.mSlots[1] = SlotRecord{1, 200, 100, kSlotStatusUsed, 0, kObserverTeam, 0, 0, 0, 100};  // id > 12
    none.mViewPlayer = 1;
    EXPECT_EQ(none.GetViewPlayer(), 1);
    none.mViewPlayer = 9;
    EXPECT_EQ(none.GetViewPlayer(), 9);
}

} // namespace
