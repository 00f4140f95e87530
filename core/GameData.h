#pragma once
// The action packets of one broadcast game: time-stamped entries kept in place in a chain of 64 KB
// blocks, and the cursor with which a reader walks them.
//
// Entry layout inside a block: u32 time in ms relative to the first entry, u32 length n, n bytes.
// A block holds at most 65524 bytes of entries; the last 12 bytes always leave room for a marker:
//   block end marker  {u32 0, u32 0xFFFFFFFF, u32 index of the next block + 1}
//   finished marker   {u32 0, u32 0xFFFFFFFF, u32 0}
// Blocks are never moved or freed while the GameData lives, so the payload pointers handed out by Next
// stay valid for the GameData's whole life.

#include <cstdint>
#include <memory>
#include <vector>

class PacketBuffer;

// A reader's position in a GameData. A new cursor (all zeros) stands at the first entry.
struct GameDataCursor {
    uint32_t mBlock = 0;        // index of the block
    uint32_t mOffset = 0;       // byte offset inside the block
    uint32_t mEntriesRead = 0;  // entries returned by Next
    uint32_t mBytesRead = 0;    // entry bytes passed, headers included
    uint8_t mDone = 0;          // set when the finished marker was reached
    uint32_t mTime = 0;         // relative time of the entry last returned
};

class GameData {
public:
    static constexpr uint32_t kBlockSize = 65536;
    static constexpr uint32_t kBlockUsable = 65524;   // entry bytes a block can hold
    static constexpr uint32_t kEntryHeader = 8;
    static constexpr uint32_t kMaxPayload = kBlockUsable - kEntryHeader;  // 65516
    static constexpr uint32_t kMarkerLength = 0xFFFFFFFF;
    static constexpr uint32_t kNoLimit = 0xFFFFFFFF;
    // The bound on the entry bytes one game holds, headers included: thirty times the largest real game,
    // and far from where the u32 totals of the relay acknowledgement and the cursors would wrap.
    static constexpr uint32_t kMaxTotal = 64u * 1024u * 1024u;

    GameData();
    ~GameData();
    GameData(const GameData&) = delete;
    GameData& operator=(const GameData&) = delete;

    // Appends one entry. 0 stored; 1 when length exceeds kMaxPayload (or bytes is null with a length);
    // 3 after Finish; 4 when the entry would take Total() past kMaxTotal, and for every entry after that
    // (the data is full: a later, smaller entry would leave a hole). A refused entry leaves the data
    // unchanged.
    uint32_t Append(uint32_t time, uint32_t length, const uint8_t* bytes);

    // Writes the finished marker at the write position; the data is read-only afterwards. Returns 0.
    uint32_t Finish();

    // Returns the entry at the cursor and moves the cursor behind it. The outputs are zeroed first.
    //  0: an entry (bytes point into the block, not copied);
    //  1: corrupt length at the cursor (the cursor does not move past it);
    //  2: nothing (more) to give now: the cursor stands at the write position of unfinished data, or the
    //     entry is held back by the time gate (shift not 0: time + shift beyond the newest entry's time;
    //     limit not kNoLimit: time + shift beyond limit) - the gate applies only while unfinished;
    //  3: the cursor reached the end of finished data (done).
    // Block end markers are followed transparently.
    uint32_t Next(GameDataCursor& cursor, uint32_t& time, uint32_t& length, const uint8_t*& bytes,
                  uint32_t shift, uint32_t limit) const;

    // Places the cursor at a byte offset (entry headers included) counted from the first entry.
    // 1 when the offset exceeds Total(); otherwise 0. An offset that ends exactly at a full block's end
    // leaves the cursor on that block's end marker, which Next follows.
    uint32_t Seek(GameDataCursor& cursor, uint32_t offset) const;

    // Reads the entries of one relay data message ({u32 time, u32 length, bytes}...) from the packet's
    // cursor. Takes min(byteCount, bytes held behind the cursor); the packet's cursor ends behind the
    // last byte looked at.
    // With a resume cursor, entries that are already stored (Next gives an entry) are skipped; when the
    // resume cursor reaches the stored end (Next gives 2), ReadBlocks DELETES the cursor object, nulls the
    // pointer and appends from that entry on. The caller must not keep other copies of that pointer.
    // Results: 0 the run was whole; 1 malformed (1-7 stray bytes, an entry longer than the rest, fewer
    // bytes held than announced, or an entry too large for a block); 2 the entries reached kMaxTotal
    // (the rest of the run is not stored). Entries before a fault or the bound stay stored.
    uint32_t ReadBlocks(PacketBuffer& packet, uint32_t byteCount, GameDataCursor*& resume);

    // True when byteCount bytes are held behind the packet's cursor and they are a whole run of entries
    // that ReadBlocks would take without result 1. Reads nothing.
    static bool IsWholeRun(const PacketBuffer& packet, uint32_t byteCount);

    // Writes the magic "bCx\0" and every entry from the first as {u32 time, u32 length, bytes};
    // markers are not written. Always true.
    bool Write(PacketBuffer& out) const;

    uint32_t Count() const { return mCount; }        // entries appended
    uint32_t Total() const { return mTotal; }        // entry bytes appended, headers included
    uint32_t LastTime() const { return mLastTime; }  // relative time of the newest entry
    uint32_t BaseTime() const { return mBaseTime; }  // absolute time of the first entry
    bool IsFinished() const { return mFinished != 0; }
    // True once an entry was refused for kMaxTotal.
    bool IsFull() const { return mFull; }
    size_t BlockCount() const { return mBlocks.size(); }

private:
    void NewBlock();
    void PutMarker(uint32_t block, uint32_t offset, uint32_t next);

    uint32_t mCount = 0;
    uint32_t mTotal = 0;
    uint32_t mLastTime = 0;
    uint32_t mFinished = 0;
    bool mFull = false;
    std::vector<std::unique_ptr<uint8_t[]>> mBlocks;
    std::vector<uint32_t> mFillSizes;  // entry bytes per block; 0 for the newest block until it is full
    uint32_t mFree = 0;                // bytes still free in the newest block
    uint32_t mWriteBlock = 0;          // write position: block index and offset
    uint32_t mWriteOffset = 0;
    uint32_t mLastBlock = 0;           // the newest entry
    uint32_t mLastOffset = 0;
    uint32_t mBaseTime = 0;
};
