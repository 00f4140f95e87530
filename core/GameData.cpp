#include "core/GameData.h"

#include <cstring>

#include "core/GameRecords.h"
#include "core/Packet.h"

namespace {

uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// A length field at or above this (as a signed number) marks a corrupt entry.
constexpr int32_t kCorruptLength = 100000;

} // namespace

GameData::GameData()
{
    NewBlock();
}

GameData::~GameData() = default;

void GameData::PutMarker(uint32_t block, uint32_t offset, uint32_t next)
{
    uint8_t* p = mBlocks[block].get() + offset;
    PutU32(p, 0);
    PutU32(p + 4, kMarkerLength);
    PutU32(p + 8, next);
}

void GameData::NewBlock()
{
    // Zero-filled, so that nothing behind the write position is ever uninitialised memory.
    mBlocks.push_back(std::make_unique<uint8_t[]>(kBlockSize));
    mFillSizes.push_back(0);
    uint32_t newIndex = uint32_t(mBlocks.size() - 1);
    if (newIndex >= 1) {
        PutMarker(mWriteBlock, mWriteOffset, newIndex + 1);
        mFillSizes[newIndex - 1] = kBlockUsable - mFree;
    }
    mWriteBlock = newIndex;
    mWriteOffset = 0;
    mFree = kBlockUsable;
}

uint32_t GameData::Append(uint32_t time, uint32_t length, const uint8_t* bytes)
{
    if (length > kMaxPayload || (length != 0 && bytes == nullptr))
        return 1;
    if (mFinished)
        return 3;
    const uint32_t need = length + kEntryHeader;  // cannot wrap: length <= 65516
    if (mFull || need > kMaxTotal - mTotal) {
        mFull = true;
        return 4;
    }
    if (mFree < need)
        NewBlock();
    if (mCount == 0)
        mBaseTime = time;
    uint8_t* p = mBlocks[mWriteBlock].get() + mWriteOffset;
    const uint32_t relative = time - mBaseTime;
    PutU32(p, relative);
    PutU32(p + 4, length);
    if (length != 0)
        std::memcpy(p + 8, bytes, length);
    mLastBlock = mWriteBlock;
    mLastOffset = mWriteOffset;
    mWriteOffset += need;
    mFree -= need;
    mTotal += need;
    mCount += 1;
    mLastTime = relative;
    return 0;
}

uint32_t GameData::Finish()
{
    PutMarker(mWriteBlock, mWriteOffset, 0);
    mFinished = 1;
    return 0;
}

uint32_t GameData::Next(GameDataCursor& cursor, uint32_t& time, uint32_t& length, const uint8_t*& bytes,
                        uint32_t shift, uint32_t limit) const
{
    time = 0;
    length = 0;
    bytes = nullptr;
    if (cursor.mDone)
        return 3;
    for (;;) {
        if (cursor.mBlock == mWriteBlock && cursor.mOffset == mWriteOffset && !mFinished)
            return 2;
        // A cursor outside the stored entries (placed by hand or by a Seek into the middle of an entry)
        // reads nothing beyond what is stored.
        if (cursor.mBlock >= mBlocks.size() || cursor.mOffset > kBlockUsable
            || (cursor.mBlock == mWriteBlock && cursor.mOffset > mWriteOffset)
            || cursor.mBlock > mWriteBlock)
            return 1;
        const uint8_t* p = mBlocks[cursor.mBlock].get() + cursor.mOffset;
        const uint32_t t = GetU32(p);
        const uint32_t n = GetU32(p + 4);
        if (n == kMarkerLength) {
            const uint32_t next = GetU32(p + 8);
            if (next == 0) {
                cursor.mDone = 1;
                return 3;
            }
            // Markers only ever point forward; anything else is corrupt.
            if (next - 1 <= cursor.mBlock || next - 1 >= mBlocks.size())
                return 1;
            cursor.mBlock = next - 1;
            cursor.mOffset = 0;
            continue;
        }
        if (int32_t(n) >= kCorruptLength || uint64_t(cursor.mOffset) + kEntryHeader + n > kBlockUsable)
            return 1;
        if (!mFinished) {
            const uint64_t shifted = uint64_t(t) + shift;
            if (shift != 0 && shifted > mLastTime)
                return 2;
            if (limit != kNoLimit && shifted > limit)
                return 2;
        }
        time = t;
        length = n;
        bytes = p + kEntryHeader;
        cursor.mEntriesRead += 1;
        cursor.mOffset += n + kEntryHeader;
        cursor.mBytesRead += n + kEntryHeader;
        cursor.mTime = t;
        return 0;
    }
}

uint32_t GameData::Seek(GameDataCursor& cursor, uint32_t offset) const
{
    if (offset > mTotal)
        return 1;
    uint32_t block = 0;
    uint32_t rest = offset;
    while (block + 1 < mFillSizes.size() && mFillSizes[block] >= 1 && rest > mFillSizes[block]) {
        rest -= mFillSizes[block];
        ++block;
    }
    cursor.mBlock = block;
    cursor.mOffset = rest;
    cursor.mBytesRead = offset;
    cursor.mDone = 0;
    return 0;
}

uint32_t GameData::ReadBlocks(PacketBuffer& packet, uint32_t byteCount, GameDataCursor*& resume)
{
    if (byteCount == 0)
        return 0;
    const uint32_t start = packet.Cursor();
    const uint32_t held = packet.Size() > start ? packet.Size() - start : 0;
    const bool shortFrame = byteCount > held;
    const uint32_t total = shortFrame ? held : byteCount;
    const uint8_t* base = packet.Data() ? packet.Data() + start : nullptr;

    uint32_t pos = 0;
    uint32_t result = 0;
    while (total - pos >= kEntryHeader) {
        const uint32_t time = GetU32(base + pos);
        const uint32_t length = GetU32(base + pos + 4);
        if (length > total - pos - kEntryHeader) {
            result = 1;
            break;
        }
        const uint8_t* payload = base + pos + kEntryHeader;
        pos += kEntryHeader + length;

        bool append = true;
        if (resume) {
            uint32_t t, n;
            const uint8_t* b;
            if (Next(*resume, t, n, b, 0, kNoLimit) == 2) {
                // Caught up with what is stored: the resume is over.
                delete resume;
                resume = nullptr;
            } else {
                append = false;
            }
        }
        if (append) {
            const uint32_t appended = Append(time, length, payload);
            if (appended == 1) {
                // Too large for a block: it can never be stored.
                result = 1;
                break;
            }
            if (appended == 4) {
                result = 2;
                break;
            }
        }
    }
    if (result == 0 && (pos != total || shortFrame))
        result = 1;
    packet.SetCursor(start + pos);
    return result;
}

bool GameData::IsWholeRun(const PacketBuffer& packet, uint32_t byteCount)
{
    const uint32_t start = packet.Cursor();
    if (byteCount == 0)
        return true;
    if (!packet.Data() || packet.Size() < start || packet.Size() - start < byteCount)
        return false;
    const uint8_t* base = packet.Data() + start;
    uint32_t pos = 0;
    while (byteCount - pos >= kEntryHeader) {
        const uint32_t length = GetU32(base + pos + 4);
        if (length > kMaxPayload || length > byteCount - pos - kEntryHeader)
            return false;
        pos += kEntryHeader + length;
    }
    return pos == byteCount;
}

bool GameData::Write(PacketBuffer& out) const
{
    out.WriteU32(kRecordMagic);
    GameDataCursor cursor;
    uint32_t time, length;
    const uint8_t* bytes;
    // Without a time gate Next gives entries until the stored end (2 or 3); each call advances.
    while (Next(cursor, time, length, bytes, 0, kNoLimit) == 0) {
        out.WriteU32(time);
        out.WriteU32(length);
        out.Write(bytes, length);
    }
    return true;
}
