#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/GameData.h"
#include "core/GameRecords.h"
#include "core/Packet.h"
#include "tests/core/RecordTestBytes.h"

namespace {

using rectest::Bytes;

// Payload whose bytes name the entry, so that a payload from the wrong entry or offset shows.
std::string Payload(uint32_t index, uint32_t length)
{
    std::string s(length, '\0');
    for (uint32_t i = 0; i < length; ++i)
        s[i] = char((index * 31 + i * 7) & 0xFF);
    return s;
}

uint32_t Append(GameData& data, uint32_t time, const std::string& payload)
{
    return data.Append(time, uint32_t(payload.size()), reinterpret_cast<const uint8_t*>(payload.data()));
}

struct Got {
    uint32_t result;
    uint32_t time;
    std::string payload;
};

Got NextOf(const GameData& data, GameDataCursor& cursor, uint32_t shift = 0,
           uint32_t limit = GameData::kNoLimit)
{
    uint32_t time = 99, length = 99;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&time);
    Got got;
    got.result = data.Next(cursor, time, length, bytes, shift, limit);
    got.time = time;
    if (got.result == 0)
        got.payload.assign(reinterpret_cast<const char*>(bytes), length);
    else {
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(bytes, nullptr);
        EXPECT_EQ(time, 0u);
    }
    return got;
}

// Every entry from the first, as Next gives them to a new cursor.
std::vector<Got> AllEntries(const GameData& data)
{
    std::vector<Got> out;
    GameDataCursor cursor;
    for (int guard = 0; guard < 100000; ++guard) {
        Got got = NextOf(data, cursor);
        if (got.result != 0)
            break;
        out.push_back(got);
    }
    return out;
}

filePacket PacketOf(const Bytes& bytes)
{
    filePacket packet;
    packet.Write(bytes.Data().data(), uint32_t(bytes.Size()));
    packet.SetCursor(0);
    return packet;
}

TEST(GameData, EntriesThatExactlyFillABlockAndThePayloadLimit)
{
    GameData data;
    // Four entries of 16381 bytes (header included) fill the 65524 bytes of a block exactly.
    for (uint32_t i = 0; i < 4; ++i)
        ASSERT_EQ(Append(data, 1000 + i, Payload(i, 16373)), 0u);
    EXPECT_EQ(data.BlockCount(), 1u);
    EXPECT_EQ(data.Total(), 65524u);
    // Even an empty entry needs 8 bytes: it opens the second block.
    ASSERT_EQ(Append(data, 2000, std::string()), 0u);
    EXPECT_EQ(data.BlockCount(), 2u);

    // The largest payload is accepted and fills a block on its own; one byte more is refused.
    EXPECT_EQ(Append(data, 3000, Payload(7, 65516)), 0u);
    EXPECT_EQ(data.BlockCount(), 3u);
    EXPECT_EQ(Append(data, 3001, Payload(8, 65517)), 1u);
    EXPECT_EQ(data.Count(), 6u);
    EXPECT_EQ(data.Total(), 65524u + 8 + 65524);
    EXPECT_EQ(data.LastTime(), 2000u);

    std::vector<Got> all = AllEntries(data);
    ASSERT_EQ(all.size(), 6u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(all[i].time, i);  // relative to the first entry
        EXPECT_EQ(all[i].payload, Payload(i, 16373));
    }
    EXPECT_EQ(all[4].time, 1000u);
    EXPECT_EQ(all[4].payload, "");
    EXPECT_EQ(all[5].payload, Payload(7, 65516));
}

TEST(GameData, OversizedLengthsAreRefusedWithoutWrapping)
{
    GameData data;
    uint8_t byte = 1;
    // length + 8 would wrap to a small number for these.
    EXPECT_EQ(data.Append(0, 0xFFFFFFF8u, &byte), 1u);
    EXPECT_EQ(data.Append(0, 0xFFFFFFFFu, &byte), 1u);
    EXPECT_EQ(data.Append(0, 0xFFFFFFF9u, &byte), 1u);
    // A length without bytes is refused too.
    EXPECT_EQ(data.Append(0, 4, nullptr), 1u);
    EXPECT_EQ(data.Count(), 0u);
    EXPECT_EQ(data.Total(), 0u);
    EXPECT_EQ(data.BlockCount(), 1u);
    GameDataCursor cursor;
    EXPECT_EQ(NextOf(data, cursor).result, 2u);
}

TEST(GameData, CursorWalksAcrossSeveralBlocks)
{
    GameData data;
    // Two 30008-byte entries fit a block, the third does not: ten entries take five blocks.
    for (uint32_t i = 0; i < 10; ++i)
        ASSERT_EQ(Append(data, 50000 + i * 250, Payload(i, 30000)), 0u);
    EXPECT_EQ(data.BlockCount(), 5u);

    GameDataCursor cursor;
    for (uint32_t i = 0; i < 10; ++i) {
        Got got = NextOf(data, cursor);
        ASSERT_EQ(got.result, 0u) << "entry " << i;
        EXPECT_EQ(got.time, i * 250);
        EXPECT_EQ(got.payload, Payload(i, 30000));
        EXPECT_EQ(cursor.mTime, i * 250);
        EXPECT_EQ(cursor.mEntriesRead, i + 1);
        EXPECT_EQ(cursor.mBytesRead, (i + 1) * 30008);
    }
    EXPECT_EQ(NextOf(data, cursor).result, 2u);  // at the write position, not finished
    EXPECT_EQ(NextOf(data, cursor).result, 2u);

    // The game goes on: the waiting cursor picks up the new entry.
    ASSERT_EQ(Append(data, 60000, "late"), 0u);
    Got late = NextOf(data, cursor);
    ASSERT_EQ(late.result, 0u);
    EXPECT_EQ(late.payload, "late");
    EXPECT_EQ(late.time, 10000u);

    data.Finish();
    EXPECT_EQ(NextOf(data, cursor).result, 3u);
    EXPECT_EQ(cursor.mDone, 1);
    EXPECT_EQ(NextOf(data, cursor).result, 3u);
}

TEST(GameData, EmptyAndFinishedData)
{
    GameData data;
    GameDataCursor cursor;
    EXPECT_EQ(NextOf(data, cursor).result, 2u);
    EXPECT_EQ(data.Finish(), 0u);
    EXPECT_TRUE(data.IsFinished());
    EXPECT_EQ(NextOf(data, cursor).result, 3u);
    // Nothing is added after the end.
    EXPECT_EQ(Append(data, 5, "x"), 3u);
    EXPECT_EQ(data.Count(), 0u);
    GameDataCursor fresh;
    EXPECT_EQ(NextOf(data, fresh).result, 3u);
}

TEST(GameData, FinishRightAfterAFullBlock)
{
    GameData data;
    ASSERT_EQ(Append(data, 7, Payload(1, 65516)), 0u);
    data.Finish();  // the finished marker takes the 12 reserved bytes
    std::vector<Got> all = AllEntries(data);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].payload, Payload(1, 65516));
    EXPECT_EQ(Append(data, 8, "y"), 3u);
}

TEST(GameData, TimeGateWithShiftAndLimit)
{
    GameData data;
    Append(data, 1000, "a");  // relative 0
    Append(data, 2000, "b");  // 1000
    Append(data, 3000, "c");  // 2000, the newest
    {
        // A limit alone holds back entries beyond it; the held entry is given once the limit allows.
        GameDataCursor cursor;
        EXPECT_EQ(NextOf(data, cursor, 0, 1500).payload, "a");
        EXPECT_EQ(NextOf(data, cursor, 0, 1500).payload, "b");
        EXPECT_EQ(NextOf(data, cursor, 0, 1500).result, 2u);
        EXPECT_EQ(cursor.mEntriesRead, 2u);
        EXPECT_EQ(NextOf(data, cursor, 0, 2000).payload, "c");
    }
    {
        // A shift holds back entries whose shifted time passes the newest entry's time.
        GameDataCursor cursor;
        EXPECT_EQ(NextOf(data, cursor, 500).payload, "a");
        EXPECT_EQ(NextOf(data, cursor, 500).payload, "b");
        EXPECT_EQ(NextOf(data, cursor, 500).result, 2u);
        EXPECT_EQ(NextOf(data, cursor, 0).payload, "c");
    }
    {
        // Shift and limit together: the shifted time is compared with the limit.
        GameDataCursor cursor;
        EXPECT_EQ(NextOf(data, cursor, 500, 1400).payload, "a");
        EXPECT_EQ(NextOf(data, cursor, 500, 1400).result, 2u);
        EXPECT_EQ(NextOf(data, cursor, 500, 1500).payload, "b");
    }
    {
        // A shift so large that time + shift passes 2^32 still holds the entry back.
        GameDataCursor cursor;
        EXPECT_EQ(NextOf(data, cursor, 0).payload, "a");
        EXPECT_EQ(NextOf(data, cursor, 0xFFFFF000u).result, 2u);
    }
    data.Finish();
    {
        // Finished data is not gated.
        GameDataCursor cursor;
        EXPECT_EQ(NextOf(data, cursor, 500, 0).payload, "a");
        EXPECT_EQ(NextOf(data, cursor, 500, 0).payload, "b");
        EXPECT_EQ(NextOf(data, cursor, 500, 0).payload, "c");
        EXPECT_EQ(NextOf(data, cursor, 500, 0).result, 3u);
    }
}

TEST(GameData, SeekInsideAndAtTheEndOfAFullBlock)
{
    GameData data;
    // 108-byte entries: 606 fit a block (65448 bytes), the 607th opens the next one.
    for (uint32_t i = 0; i < 700; ++i)
        ASSERT_EQ(Append(data, i * 10, Payload(i, 100)), 0u);
    ASSERT_EQ(data.BlockCount(), 2u);

    auto entryAt = [&](uint32_t offset) {
        GameDataCursor cursor;
        cursor.mEntriesRead = 5;
        EXPECT_EQ(data.Seek(cursor, offset), 0u);
        EXPECT_EQ(cursor.mBytesRead, offset);
        EXPECT_EQ(cursor.mDone, 0);
        Got got = NextOf(data, cursor);
        EXPECT_EQ(got.result, 0u) << "offset " << offset;
        EXPECT_EQ(cursor.mBytesRead, offset + 108);
        return got;
    };
    EXPECT_EQ(entryAt(0).payload, Payload(0, 100));
    EXPECT_EQ(entryAt(108 * 5).payload, Payload(5, 100));
    EXPECT_EQ(entryAt(108 * 605).payload, Payload(605, 100));
    // Exactly at the end of the full block: the cursor stands on its marker and Next follows it.
    Got atEnd = entryAt(108 * 606);
    EXPECT_EQ(atEnd.payload, Payload(606, 100));
    EXPECT_EQ(atEnd.time, 6060u);
    EXPECT_EQ(entryAt(108 * 650).payload, Payload(650, 100));
    EXPECT_EQ(entryAt(108 * 699).payload, Payload(699, 100));

    GameDataCursor cursor;
    EXPECT_EQ(data.Seek(cursor, data.Total()), 0u);
    EXPECT_EQ(NextOf(data, cursor).result, 2u);
    EXPECT_EQ(data.Seek(cursor, data.Total() + 1), 1u);
}

TEST(GameData, SeekToTheEndOfTheOnlyFullBlock)
{
    GameData data;
    ASSERT_EQ(Append(data, 0, Payload(0, 65516)), 0u);
    ASSERT_EQ(Append(data, 5, "next"), 0u);
    GameDataCursor cursor;
    ASSERT_EQ(data.Seek(cursor, 65524), 0u);
    Got got = NextOf(data, cursor);
    ASSERT_EQ(got.result, 0u);
    EXPECT_EQ(got.payload, "next");
}

TEST(GameData, ACursorInsideAnEntryReportsCorruptionWithoutReadingPastTheBlock)
{
    GameData data;
    // A payload that looks like an entry header with a huge length, then one with a length just below
    // the corruption bound but beyond the block.
    Bytes fake;
    fake.U32(0).U32(0x7FFFFFFF).U32(0).U32(99999);
    std::string payload(fake.Data().begin(), fake.Data().end());
    ASSERT_EQ(Append(data, 0, payload), 0u);

    GameDataCursor cursor;
    ASSERT_EQ(data.Seek(cursor, 8), 0u);
    GameDataCursor before = cursor;
    EXPECT_EQ(NextOf(data, cursor).result, 1u);
    EXPECT_EQ(cursor.mOffset, before.mOffset);
    EXPECT_EQ(cursor.mEntriesRead, 0u);
    ASSERT_EQ(data.Seek(cursor, 16), 0u);
    EXPECT_EQ(NextOf(data, cursor).result, 1u);
}

TEST(GameData, WriteGivesEveryEntryWithoutMarkers)
{
    GameData data;
    std::vector<std::string> payloads;
    for (uint32_t i = 0; i < 5; ++i) {
        payloads.push_back(Payload(i, 40000));
        ASSERT_EQ(Append(data, 100 + i * 40, payloads.back()), 0u);
    }
    filePacket out;
    EXPECT_TRUE(data.Write(out));
    rectest::Reader in(out.Data(), out.Size());
    EXPECT_EQ(in.U32(), rectest::kMagic);
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(in.U32(), i * 40);
        ASSERT_EQ(in.U32(), 40000u);
        EXPECT_EQ(in.Raw(40000), payloads[i]);
    }
    EXPECT_EQ(in.Left(), 0u);
}

// --- ReadBlocks: the entries of relay data messages ---

TEST(GameData, ReadBlocksStoresAWholeRun)
{
    GameData data;
    Bytes run;
    run.Entry(7000, "first").Entry(7040, "").Entry(7100, Payload(3, 300));
    filePacket packet = PacketOf(run);
    GameDataCursor* resume = nullptr;
    EXPECT_EQ(data.ReadBlocks(packet, uint32_t(run.Size()), resume), 0u);
    EXPECT_EQ(packet.Cursor(), run.Size());
    std::vector<Got> all = AllEntries(data);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].payload, "first");
    EXPECT_EQ(all[0].time, 0u);
    EXPECT_EQ(all[1].payload, "");
    EXPECT_EQ(all[1].time, 40u);
    EXPECT_EQ(all[2].payload, Payload(3, 300));
    EXPECT_EQ(all[2].time, 100u);

    // A byte count of 0 reads nothing.
    filePacket again = PacketOf(run);
    EXPECT_EQ(data.ReadBlocks(again, 0, resume), 0u);
    EXPECT_EQ(data.Count(), 3u);
}

TEST(GameData, ReadBlocksReportsOneToSevenStrayBytes)
{
    for (uint32_t stray = 1; stray <= 7; ++stray) {
        GameData data;
        Bytes run;
        run.Entry(1, "ab").Entry(2, "cd").Fill(stray, 0x01);
        filePacket packet = PacketOf(run);
        GameDataCursor* resume = nullptr;
        EXPECT_EQ(data.ReadBlocks(packet, uint32_t(run.Size()), resume), 1u) << stray << " stray bytes";
        EXPECT_EQ(data.Count(), 2u) << stray << " stray bytes";
    }
}

TEST(GameData, ReadBlocksStopsAtAnEntryLongerThanTheRest)
{
    GameData data;
    Bytes run;
    run.Entry(1, "kept").U32(2).U32(50).Raw("only ten!!");
    filePacket packet = PacketOf(run);
    GameDataCursor* resume = nullptr;
    EXPECT_EQ(data.ReadBlocks(packet, uint32_t(run.Size()), resume), 1u);
    std::vector<Got> all = AllEntries(data);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].payload, "kept");

    // A length near 2^32 must not wrap the bounds check.
    GameData other;
    Bytes huge;
    huge.U32(1).U32(0xFFFFFFF9u).Raw("abc");
    filePacket hugePacket = PacketOf(huge);
    EXPECT_EQ(other.ReadBlocks(hugePacket, uint32_t(huge.Size()), resume), 1u);
    EXPECT_EQ(other.Count(), 0u);
}

TEST(GameData, ReadBlocksWithAByteCountBeyondTheFrame)
{
    Bytes run;
    run.Entry(1, "one").Entry(2, "two");
    {
        // More announced than held: the whole entries held are stored, the run is reported malformed,
        // and nothing behind the frame is read.
        GameData data;
        filePacket packet = PacketOf(run);
        GameDataCursor* resume = nullptr;
        EXPECT_EQ(data.ReadBlocks(packet, uint32_t(run.Size()) + 100, resume), 1u);
        EXPECT_EQ(data.Count(), 2u);
        EXPECT_EQ(packet.Cursor(), run.Size());
    }
    {
        // Less announced than held: only the announced bytes are entries.
        GameData data;
        filePacket packet = PacketOf(run);
        GameDataCursor* resume = nullptr;
        EXPECT_EQ(data.ReadBlocks(packet, 11, resume), 0u);
        EXPECT_EQ(data.Count(), 1u);
        EXPECT_EQ(packet.Cursor(), 11u);
    }
    {
        // A frame whose cursor already stands at its end.
        GameData data;
        filePacket packet = PacketOf(run);
        packet.SetCursor(packet.Size());
        GameDataCursor* resume = nullptr;
        EXPECT_EQ(data.ReadBlocks(packet, 8, resume), 1u);
        EXPECT_EQ(data.Count(), 0u);
    }
}

TEST(GameData, ReadBlocksReportsAnEntryTooLargeForABlock)
{
    GameData data;
    Bytes run;
    run.Entry(1, "ok").Entry(2, Payload(9, 65517));
    filePacket packet = PacketOf(run);
    GameDataCursor* resume = nullptr;
    EXPECT_EQ(data.ReadBlocks(packet, uint32_t(run.Size()), resume), 1u);
    EXPECT_EQ(data.Count(), 1u);
}

TEST(GameData, ResumeSkipsStoredEntriesAndAppendsFromTheFirstNewOne)
{
    // The relay re-sends the whole game after a broken download; the stored part spans a block end.
    std::vector<std::string> payloads;
    for (uint32_t i = 0; i < 8; ++i)
        payloads.push_back(Payload(i, 30000));

    GameData data;
    for (uint32_t i = 0; i < 5; ++i)
        ASSERT_EQ(Append(data, 9000 + i * 100, payloads[i]), 0u);

    GameDataCursor* resume = new GameDataCursor;
    ASSERT_EQ(data.Seek(*resume, 0), 0u);

    Bytes first;  // entries 0-1: all stored already
    for (uint32_t i = 0; i < 2; ++i)
        first.Entry(9000 + i * 100, payloads[i]);
    filePacket p1 = PacketOf(first);
    EXPECT_EQ(data.ReadBlocks(p1, uint32_t(first.Size()), resume), 0u);
    ASSERT_NE(resume, nullptr);
    EXPECT_EQ(data.Count(), 5u);

    Bytes second;  // entries 2-7: the resume catches up at entry 5 in the middle of the message
    for (uint32_t i = 2; i < 8; ++i)
        second.Entry(9000 + i * 100, payloads[i]);
    filePacket p2 = PacketOf(second);
    EXPECT_EQ(data.ReadBlocks(p2, uint32_t(second.Size()), resume), 0u);
    // The cursor object was deleted by ReadBlocks (the leak checker would report it otherwise).
    EXPECT_EQ(resume, nullptr);

    std::vector<Got> all = AllEntries(data);
    ASSERT_EQ(all.size(), 8u);
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(all[i].time, i * 100) << "entry " << i;
        EXPECT_EQ(all[i].payload, payloads[i]) << "entry " << i;
    }

    // Later messages append without a cursor.
    Bytes third;
    third.Entry(9800, "tail");
    filePacket p3 = PacketOf(third);
    EXPECT_EQ(data.ReadBlocks(p3, uint32_t(third.Size()), resume), 0u);
    EXPECT_EQ(data.Count(), 9u);
}

TEST(GameData, ResumeThatCatchesUpOnTheFirstEntryOfAMessage)
{
    GameData data;
    Append(data, 0, "s0");
    Append(data, 10, "s1");
    GameDataCursor* resume = new GameDataCursor;
    data.Seek(*resume, 0);

    Bytes old;
    old.Entry(0, "s0").Entry(10, "s1");
    filePacket p1 = PacketOf(old);
    EXPECT_EQ(data.ReadBlocks(p1, uint32_t(old.Size()), resume), 0u);
    ASSERT_NE(resume, nullptr);

    Bytes fresh;
    fresh.Entry(20, "n2").Entry(30, "n3");
    filePacket p2 = PacketOf(fresh);
    EXPECT_EQ(data.ReadBlocks(p2, uint32_t(fresh.Size()), resume), 0u);
    EXPECT_EQ(resume, nullptr);
    std::vector<Got> all = AllEntries(data);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2].payload, "n2");
    EXPECT_EQ(all[3].payload, "n3");
}

TEST(GameData, AGameDeletesItsResumeCursorAndRecords)
{
    // Owned members are freed with the game; the leak checker sees any that is not.
    Game* game = new Game(0x42);
    game->mResumeCursor = new GameDataCursor;
    game->mData = new GameData;
    Append(*game->mData, 1, "x");
    game->mDetails = new GameDetails;
    game->mInfo = new GameInfo("name", 10385);
    delete game;
}

} // namespace
