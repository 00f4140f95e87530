#pragma once
// The per-player action analyzer: names what a player of the watched game builds, trains, researches,
// uses, buys or hires, counts it and decides, by the category's repeat window and report flags, whether
// the stream filter should comment it in the game chat.
//
// Layout: the id table is immutable and shared. ActionIdMap::Shared() performs the registrations once
// per process and keeps the first registration of each id plus an open-addressing index from id to
// record number. Every analyzer copies those records into its own flat array (InitIdTable) and keeps its
// own last time, count and text in it, so analyzers never see each other's counts; a lookup is one hash
// probe into the shared index followed by an array access. Nothing in DescribeAction allocates.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "analyzer/ActionIdTable.h"

class LanClient;

// One registration plus the analyzer's running state for it.
struct ActionIdInfo {
    // Room for the longest text: "gives away item " + "first " and the terminating NUL.
    static constexpr size_t kTextSize = 24;

    uint32_t mId = 0;
    uint32_t mCode = 0;
    const char* mName = "";     // ASCII bytes; never null
    uint32_t mRace = 0;
    uint32_t mCategory = 0;
    uint32_t mFlags = 0;        // 0: the category's default
    uint32_t mLastTime = 0;     // game time in ms of the last counted occurrence
    uint32_t mCount = 0;        // counted occurrences
    char mText[kTextSize] = {}; // description of the latest occurrence; empty: not to be reported

    ActionIdInfo() = default;
    ActionIdInfo(uint32_t id, uint32_t code, const char* name, uint32_t race, uint32_t category,
                 uint32_t flags);

    const char* GetText() const { return mText; }
    bool HasText() const { return mText[0] != '\0'; }
};

// The shared id table: records in first-registration order and an index from id to record.
class ActionIdMap {
public:
    // The table built from kActionIdTable; created on first use, never changed afterwards.
    static const ActionIdMap& Shared();

    ActionIdMap();

    // Registers one id. When the id is already registered the new registration is dropped and the
    // first one stays; returns whether the id was added.
    bool setID(uint32_t id, uint32_t code, uint32_t race, const char* name, uint32_t category,
               uint32_t flags);

    // Record number of an id, or -1 when the table lacks it.
    int Find(uint32_t id) const;
    // The record of an id, or null.
    const ActionIdInfo* Lookup(uint32_t id) const;

    size_t Size() const { return mRecords.size(); }
    const std::vector<ActionIdInfo>& Records() const { return mRecords; }

private:
    void Grow();
    size_t Probe(uint32_t id) const;

    std::vector<ActionIdInfo> mRecords;
    std::vector<uint32_t> mSlots; // record number + 1; 0 is an empty slot
    uint32_t mShift = 0;          // 32 - log2(slot count)
};

class ActionAnalyzer {
public:
    // Fallback name buffer: the longest mismatch text with the longest name fits with room to spare;
    // longer names are cut, never overrun.
    static constexpr size_t kFallbackNameSize = 192;

    ActionAnalyzer();
    ActionAnalyzer(const ActionAnalyzer&) = delete;
    ActionAnalyzer& operator=(const ActionAnalyzer&) = delete;

    // Gives the analyzer its own fresh copy of the shared table (counts, times and texts at 0/empty).
    void InitIdTable();

    // Looks the order or object id of one ability action up, counts it and leaves the text to report
    // in the record (empty when nothing is to be reported). actionCode is the ability action id 0x10 to
    // 0x14, timeMs the viewer's current game time. Ids outside the table, or carried by an action other
    // than the expected one, give the fallback record (id 0) with the reason in its name. The reference
    // stays valid while the analyzer lives; the fallback's name changes with the next call.
    const ActionIdInfo& DescribeAction(uint32_t id, uint32_t actionCode, int32_t timeMs);

    // The three columns of the category table.
    static const char* GetActionVerb(uint32_t category, uint32_t code);
    static uint32_t GetRepeatWindow(uint32_t category); // seconds; 0 = none
    static uint32_t GetDefaultFlags(uint32_t category);

    const ActionIdInfo& GetFallback() const { return mFallback; }
    size_t GetRecordCount() const { return mRecords.size(); }

private:
    const ActionIdMap* mMap;
    std::vector<ActionIdInfo> mRecords; // indexed by the shared map's record numbers
    ActionIdInfo mFallback;
    char mFallbackName[kFallbackNameSize];
};

// The thirteen analyzers of one joined Warcraft III connection, indexed by player id 0 to 12.
class ActionAnalyzerSet {
public:
    static constexpr uint32_t kPlayerCount = 13;

    // Holds no analyzers yet: a connection that never attaches to a game costs no more than this object.
    explicit ActionAnalyzerSet(LanClient* owner);
    ~ActionAnalyzerSet();
    ActionAnalyzerSet(const ActionAnalyzerSet&) = delete;
    ActionAnalyzerSet& operator=(const ActionAnalyzerSet&) = delete;

    // Builds the thirteen analyzers (about 1.2 MB) unless built; the host calls it when the client
    // attaches to a game. False when they could not be allocated.
    bool Build();
    bool IsBuilt() const { return mAnalyzers != nullptr; }

    // The analyzer of a player, or null for player ids above 12 (or when the analyzers could not be
    // allocated). The non-const form builds the analyzers first when nothing did.
    ActionAnalyzer* GetAnalyzer(uint32_t playerId);
    const ActionAnalyzer* GetAnalyzer(uint32_t playerId) const;

    LanClient* GetOwner() const { return mOwner; }

private:
    std::unique_ptr<ActionAnalyzer[]> mAnalyzers;
    LanClient* mOwner;
};
