#include "analyzer/ActionAnalyzer.h"

#include <cstdio>
#include <cstring>
#include <new>

// ---------------------------------------------------------------------------------------------------
// ActionIdInfo

ActionIdInfo::ActionIdInfo(uint32_t id, uint32_t code, const char* name, uint32_t race,
                           uint32_t category, uint32_t flags)
    : mId(id), mCode(code), mName(name ? name : ""), mRace(race), mCategory(category), mFlags(flags)
{
}

// ---------------------------------------------------------------------------------------------------
// ActionIdMap

namespace {

constexpr uint32_t kInitialSlotBits = 12; // 4096 slots for the 1430 ids of the table

} // namespace

ActionIdMap::ActionIdMap()
    : mSlots(size_t(1) << kInitialSlotBits, 0), mShift(32 - kInitialSlotBits)
{
}

const ActionIdMap& ActionIdMap::Shared()
{
    static const ActionIdMap shared = [] {
        ActionIdMap map;
        for (size_t i = 0; i < kActionIdTableSize; ++i) {
            const ActionIdRegistration& r = kActionIdTable[i];
            map.setID(r.id, r.code, r.race, r.name, r.category, r.flags);
        }
        return map;
    }();
    return shared;
}

size_t ActionIdMap::Probe(uint32_t id) const
{
    // Fibonacci hashing, then linear probing; the table is kept at most half full.
    const size_t mask = mSlots.size() - 1;
    size_t slot = static_cast<uint32_t>(id * 0x9E3779B1u) >> mShift;
    while (mSlots[slot] != 0 && mRecords[mSlots[slot] - 1].mId != id)
        slot = (slot + 1) & mask;
    return slot;
}

void ActionIdMap::Grow()
{
    std::vector<uint32_t> old;
    old.swap(mSlots);
    mSlots.assign(old.size() * 2, 0);
    --mShift;
    for (uint32_t entry : old) {
        if (entry != 0)
            mSlots[Probe(mRecords[entry - 1].mId)] = entry;
    }
}

bool ActionIdMap::setID(uint32_t id, uint32_t code, uint32_t race, const char* name, uint32_t category,
                        uint32_t flags)
{
    if (Find(id) >= 0)
        return false;
    if ((mRecords.size() + 1) * 2 > mSlots.size())
        Grow();
    mRecords.emplace_back(id, code, name, race, category, flags);
    mSlots[Probe(id)] = static_cast<uint32_t>(mRecords.size());
    return true;
}

int ActionIdMap::Find(uint32_t id) const
{
    const uint32_t entry = mSlots[Probe(id)];
    return entry == 0 ? -1 : static_cast<int>(entry - 1);
}

const ActionIdInfo* ActionIdMap::Lookup(uint32_t id) const
{
    const int index = Find(id);
    return index < 0 ? nullptr : &mRecords[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------------------------------
// ActionAnalyzer

ActionAnalyzer::ActionAnalyzer()
    : mMap(nullptr)
{
    mFallbackName[0] = '\0';
    mFallback.mName = mFallbackName;
    InitIdTable();
}

void ActionAnalyzer::InitIdTable()
{
    mMap = &ActionIdMap::Shared();
    mRecords = mMap->Records();
}

const char* ActionAnalyzer::GetActionVerb(uint32_t category, uint32_t code)
{
    switch (category) {
    case kCategoryBuilding: return code == kActionCodeNoTarget ? "upgrades to" : "builds";
    case kCategoryUnit: return "trains";
    case kCategoryResearch: return "researches";
    case kCategoryUnitAbility: return "uses ability";
    case kCategoryBasicOrder: return "action";
    case kCategoryOtherOrder: return "uses ability";
    case kCategoryAutocastOn: return "enables";
    case kCategoryAutocastOff: return "disables";
    case kCategoryReviveHero: return "revives";
    case kCategoryUseItem: return "uses item";
    case kCategoryMoveItem: return code == kActionCodePointObject ? "swapes item" : "gives away item";
    case kCategoryItem: return "buys";
    case kCategoryNeutralUnit: return "hires";
    case kCategoryHeroAbility: return "trains";
    default: return "";
    }
}

uint32_t ActionAnalyzer::GetRepeatWindow(uint32_t category)
{
    switch (category) {
    case kCategoryBuilding:
    case kCategoryUnit:
    case kCategoryResearch:
    case kCategoryUnitAbility:
    case kCategoryReviveHero:
        return 5;
    case kCategoryUseItem:
    case kCategoryMoveItem:
    case kCategoryItem:
    case kCategoryNeutralUnit:
        return 1;
    case kCategoryHeroAbility:
        return 3;
    default:
        return 0;
    }
}

uint32_t ActionAnalyzer::GetDefaultFlags(uint32_t category)
{
    switch (category) {
    case kCategoryBuilding:
    case kCategoryResearch:
    case kCategoryReviveHero:
    case kCategoryItem:
    case kCategoryNeutralUnit:
    case kCategoryHeroAbility:
        return kReportEvery;
    case kCategoryUnit:
        return kReportOnlyFirst;
    default:
        return kReportNever;
    }
}

const ActionIdInfo& ActionAnalyzer::DescribeAction(uint32_t id, uint32_t actionCode, int32_t timeMs)
{
    const uint32_t c = actionCode == kActionCodeTwoPoints ? uint32_t(kActionCodePointObject) : actionCode;

    const int index = mMap ? mMap->Find(id) : -1;
    if (index < 0 || static_cast<size_t>(index) >= mRecords.size()) {
        int n = std::snprintf(mFallbackName, sizeof mFallbackName, "unknown unitId: %8x", id);
        if (id >= 1000001 && n > 0 && static_cast<size_t>(n) < sizeof mFallbackName) {
            std::snprintf(mFallbackName + n, sizeof mFallbackName - static_cast<size_t>(n), " '%c%c%c%c'",
                          static_cast<char>(id >> 24), static_cast<char>(id >> 16),
                          static_cast<char>(id >> 8), static_cast<char>(id));
        }
        return mFallback;
    }

    ActionIdInfo& rec = mRecords[static_cast<size_t>(index)];
    if (rec.mCode != c && rec.mCode != kActionCodeAny && c != 0) {
        std::snprintf(mFallbackName, sizeof mFallbackName,
                      "unknown unitID on action %2.2x (should: %2.2x) (item: '%s' hex:%8.8x)", rec.mCode, c,
                      rec.mName, id);
        return mFallback;
    }

    rec.mText[0] = '\0';

    // The window is measured from the last counted occurrence, which starts at 0; the comparison is
    // signed 32-bit.
    const uint32_t window = GetRepeatWindow(rec.mCategory);
    if (window > 0 && static_cast<int32_t>(window * 1000u + rec.mLastTime) >= timeMs)
        return rec;

    rec.mCount += 1;
    rec.mLastTime = static_cast<uint32_t>(timeMs);

    const uint32_t flags = rec.mFlags != 0 ? rec.mFlags : GetDefaultFlags(rec.mCategory);
    if (flags & (kReportNever | kReportHidden))
        return rec;
    if ((flags & kReportNotFirst) && rec.mCount == 1)
        return rec;
    const char* prefix = "";
    if (flags & kReportOnlyFirst) {
        if (rec.mCount > 1)
            return rec;
        prefix = "first ";
    }
    std::snprintf(rec.mText, sizeof rec.mText, "%s %s", GetActionVerb(rec.mCategory, rec.mCode), prefix);
    return rec;
}

// ---------------------------------------------------------------------------------------------------
// ActionAnalyzerSet

ActionAnalyzerSet::ActionAnalyzerSet(LanClient* owner) : mOwner(owner) {}

ActionAnalyzerSet::~ActionAnalyzerSet() = default;

bool ActionAnalyzerSet::Build()
{
    if (!mAnalyzers)
        mAnalyzers.reset(new (std::nothrow) ActionAnalyzer[kPlayerCount]);
    return mAnalyzers != nullptr;
}

ActionAnalyzer* ActionAnalyzerSet::GetAnalyzer(uint32_t playerId)
{
    if (playerId >= kPlayerCount || !Build())
        return nullptr;
    return &mAnalyzers[playerId];
}

const ActionAnalyzer* ActionAnalyzerSet::GetAnalyzer(uint32_t playerId) const
{
    if (playerId >= kPlayerCount || !mAnalyzers)
        return nullptr;
    return &mAnalyzers[playerId];
}
