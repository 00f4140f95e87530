// The compiled id table: its size, its distributions, the ids registered twice, and sample rows of every
// category compared byte for byte with the game's list (blanks and unbalanced parentheses included).

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "analyzer/ActionAnalyzer.h"
#include "analyzer/ActionIdTable.h"

namespace {

std::map<uint32_t, size_t> CountBy(uint32_t ActionIdRegistration::*field)
{
    std::map<uint32_t, size_t> counts;
    for (size_t i = 0; i < kActionIdTableSize; ++i)
        ++counts[kActionIdTable[i].*field];
    return counts;
}

bool IsOrderId(uint32_t id) { return id >= 0xD0000 && id < 0xE0000; }

bool IsObjectId(uint32_t id)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = static_cast<unsigned char>(id >> shift);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

TEST(ActionAnalyzerIdTable, HoldsAllRegistrationsOrderIdsFirst)
{
    ASSERT_EQ(kActionIdTableSize, 1432u);
    for (size_t i = 0; i < kActionIdTableSize; ++i) {
        const uint32_t id = kActionIdTable[i].id;
        if (i < 285) {
            EXPECT_TRUE(IsOrderId(id)) << "registration " << i;
            EXPECT_GE(id, 0xD0003u);
            EXPECT_LE(id, 0xD02C0u);
        } else {
            EXPECT_TRUE(IsObjectId(id)) << "registration " << i;
        }
        ASSERT_NE(kActionIdTable[i].name, nullptr);
        EXPECT_GT(std::strlen(kActionIdTable[i].name), 0u);
    }
    EXPECT_EQ(kActionIdTable[0].id, 0xD0003u);
    EXPECT_EQ(kActionIdTable[285].id, FourCC("haro"));
    EXPECT_EQ(kActionIdTable[kActionIdTableSize - 1].id, FourCC("ANfb"));
}

TEST(ActionAnalyzerIdTable, RowsPerCategoryAsListed)
{
    const std::map<uint32_t, size_t> expected = {
        {1, 58}, {2, 120}, {3, 80}, {4, 83}, {5, 10}, {6, 187}, {7, 33},
        {8, 32}, {9, 10}, {10, 6}, {11, 7}, {12, 274}, {13, 416}, {14, 116},
    };
    EXPECT_EQ(CountBy(&ActionIdRegistration::category), expected);
}

TEST(ActionAnalyzerIdTable, FlagsCodesAndRacesDistributions)
{
    const std::map<uint32_t, size_t> flags = {{0, 1374}, {1, 24}, {2, 10}, {8, 9}, {16, 15}};
    const std::map<uint32_t, size_t> codes = {{0x10, 1116}, {0x00, 129}, {0x12, 108},
                                              {0x11, 72},   {0xFF, 6},   {0x13, 1}};
    const std::map<uint32_t, size_t> races = {{0, 989}, {1, 91}, {2, 92}, {3, 102}, {4, 100}, {5, 58}};
    EXPECT_EQ(CountBy(&ActionIdRegistration::flags), flags);
    EXPECT_EQ(CountBy(&ActionIdRegistration::code), codes);
    EXPECT_EQ(CountBy(&ActionIdRegistration::race), races);
}

TEST(ActionAnalyzerIdTable, SharedMapKeepsTheFirstOfTwoRegistrations)
{
    const ActionIdMap& map = ActionIdMap::Shared();
    EXPECT_EQ(map.Size(), 1430u);

    std::set<uint32_t> distinct;
    std::multiset<uint32_t> all;
    for (size_t i = 0; i < kActionIdTableSize; ++i) {
        distinct.insert(kActionIdTable[i].id);
        all.insert(kActionIdTable[i].id);
    }
    EXPECT_EQ(distinct.size(), 1430u);
    EXPECT_EQ(all.count(0xD0016), 2u);
    EXPECT_EQ(all.count(0xD0050), 2u);

    const ActionIdInfo* patrol = map.Lookup(0xD0016);
    ASSERT_NE(patrol, nullptr);
    EXPECT_STREQ(patrol->mName, "patrol ground");
    EXPECT_EQ(patrol->mCode, 0x11u);
    EXPECT_EQ(patrol->mCategory, 5u);

    const ActionIdInfo* unload = map.Lookup(0xD0050);
    ASSERT_NE(unload, nullptr);
    EXPECT_STREQ(unload->mName, "unload all units (Zepellin/Ship/NE Mine)");
    EXPECT_EQ(unload->mCode, 0x11u);
    EXPECT_EQ(unload->mCategory, 6u);

    // Every registered id is found, and every record is the first registration of its id.
    std::set<uint32_t> seen;
    for (size_t i = 0; i < kActionIdTableSize; ++i) {
        const ActionIdRegistration& r = kActionIdTable[i];
        const ActionIdInfo* info = map.Lookup(r.id);
        ASSERT_NE(info, nullptr) << std::hex << r.id;
        if (seen.insert(r.id).second) {
            EXPECT_EQ(info->mName, r.name);
            EXPECT_EQ(info->mCode, r.code);
        }
        EXPECT_EQ(info->mLastTime, 0u);
        EXPECT_EQ(info->mCount, 0u);
        EXPECT_FALSE(info->HasText());
    }
}

TEST(ActionAnalyzerIdTable, SetIdDropsTheSecondRegistrationAndGrows)
{
    ActionIdMap map;
    EXPECT_TRUE(map.setID(0xD0016, 0x11, 0, "patrol ground", 5, 0));
    EXPECT_FALSE(map.setID(0xD0016, 0x12, 0, "patrol unit", 5, 0));
    ASSERT_EQ(map.Size(), 1u);
    EXPECT_STREQ(map.Lookup(0xD0016)->mName, "patrol ground");
    EXPECT_EQ(map.Lookup(0xD0016)->mCode, 0x11u);

    // Far more ids than the initial index holds; ids that collide in the low bits too.
    for (uint32_t i = 0; i < 20000; ++i)
        ASSERT_TRUE(map.setID(0x10000000u + i * 4096u, 0x10, 0, "x", 1, 0));
    EXPECT_EQ(map.Size(), 20001u);
    for (uint32_t i = 0; i < 20000; ++i)
        ASSERT_EQ(map.Find(0x10000000u + i * 4096u), static_cast<int>(i + 1));
    EXPECT_EQ(map.Find(0x10000000u + 20000u * 4096u), -1);
    EXPECT_EQ(map.Find(0), -1);
    EXPECT_EQ(map.Lookup(0xD0017), nullptr);
}

struct Row {
    const char* id4;  // object id, or null for an order id
    uint32_t order;
    uint32_t code;
    const char* name;
    uint32_t race;
    uint32_t category;
    uint32_t flags;
};

// Sample rows of every category as the game's list gives them.
const Row kRows[] = {
    // 1 buildings
    {"haro", 0, 0x00, "Arcane Observatory", 0, 1, 0},
    {"halt", 0, 0x11, "Altar of Kings", 1, 1, 2},
    {"hctw", 0, 0x10, "Cannon Tower", 1, 1, 8},
    {"otrb", 0, 0x11, "Orc Burrow", 2, 1, 16},
    {"orbr", 0, 0x00, "Reinforced Orc Burrow", 2, 1, 16},
    {"egol", 0, 0x00, "Entangled Gold Mine", 3, 1, 0},
    {"ugol", 0, 0x12, "Haunted gold mine", 4, 1, 0},
    {"uzg2", 0, 0x10, "Nerubian Tower", 4, 1, 8},
    // 2 units
    {"nlv1", 0, 0x00, "Lava Spawn (Lvl1)", 0, 2, 0},
    {"nrac", 0, 0x10, "Racoon (Critter)", 0, 2, 0},
    {"hfoo", 0, 0x10, "Footman", 1, 2, 16},
    {"Hblm", 0, 0x10, "Blood Mage", 1, 2, 1},
    {"hkni", 0, 0x10, "Knight", 1, 2, 0},
    {"ospw", 0, 0x00, "Spirit Walker (morph)", 2, 2, 0},
    {"ucsC", 0, 0x00, "Carrion Scarab (Lvl3) (Burrowed)", 4, 2, 0},
    {"Nalm", 0, 0x10, "Goblin Alchimist (in Chemical Rage)", 5, 2, 0},
    // 3 research
    {"Rhss", 0, 0x10, "Control Magic", 1, 3, 0},
    {"Rosp", 0, 0x10, "Spided Barricades Upgrade", 2, 3, 0},
    {"Repm", 0, 0x10, "Backpack Upgrade", 3, 3, 0},
    {"Rupm", 0, 0x10, "Backpack Upgrade", 4, 3, 0},
    // 4 unit abilities
    {"Amic", 0, 0x00, "Call to Arms (for all nearby peasants", 1, 4, 0},
    {"AHta", 0, 0x00, "reveal on arcane tower", 1, 4, 0},
    {"Aroa", 0, 0x00, "Roar, night elf form (druid of the claw)", 3, 4, 0},
    {"Adri", 0, 0x00, "Cargo Unload (Instant, gold mine)", 3, 4, 0},
    {"Arpm", 0, 0x00, "Spirit Touch  (obsidian statue)", 4, 4, 0},
    {"Asac", 0, 0x00, "Sacrifice (Sacrificial Pit's button)", 4, 4, 0},
    // 5 basic orders
    {nullptr, 0xD0003, 0x12, "rightclick", 0, 5, 0},
    {nullptr, 0xD0004, 0x10, "stop", 0, 5, 0},
    {nullptr, 0xD0010, 0x11, "attack ground", 0, 5, 0},
    {nullptr, 0xD0019, 0x10, "hold position", 0, 5, 0},
    // 6 other orders
    {nullptr, 0xD0031, 0x10, "return resources", 0, 6, 0},
    {nullptr, 0xD004F, 0x12, "unload single unit (Zepellin/Ship/Orc Burrow/NE Mine", 0, 6, 0},
    {nullptr, 0xD0059, 0x11, "Area Dispell (HU Priest,...)", 0, 6, 0},
    {nullptr, 0xD007D, 0x12, "Mass Teleportation  (HU Archmage)", 0, 6, 0},
    {nullptr, 0xD00AA, 0x10, "Transform: DotC -> Bear (NE DotC)", 0, 6, 0},
    {nullptr, 0xD00D4, 0x10, "Metamorphosis ((NE DH ultimate)", 0, 6, 0},
    {nullptr, 0xD026A, 0x10, "Storm, Earth and Fire (Hero: Pandaren Brewmaster ultimate) ", 0, 6, 0},
    {nullptr, 0xD02BE, 0x12, "Incinerate (Firelord)", 0, 6, 0},
    // 7 autocast on, 8 autocast off
    {nullptr, 0xD0039, 0x10, "autocast: repair", 0, 7, 0},
    {nullptr, 0xD0057, 0x10, "Defend (HU Footman)", 0, 7, 0},
    {nullptr, 0xD02BF, 0x10, "autocast: Incinerate (Firelord)", 0, 7, 0},
    {nullptr, 0xD003A, 0x10, "autocast: repair", 0, 8, 0},
    {nullptr, 0xD026E, 0x10, "Mana Shield (Hero: Naga Sea Witch)", 0, 8, 0},
    {nullptr, 0xD02C0, 0x10, "autocast: Incinerate (Firelord)", 0, 8, 0},
    // 9 revive, 10 use item, 11 move or give item
    {nullptr, 0xD003B, 0x12, "dead hero", 0, 9, 0},
    {nullptr, 0xD01F2, 0x12, "5th dead hero on tavern", 0, 9, 0},
    {nullptr, 0xD0028, 0xFF, "place 7", 0, 10, 0},
    {nullptr, 0xD002D, 0xFF, "place 2", 0, 10, 0},
    {nullptr, 0xD0021, 0x13, "give away item", 0, 11, 0},
    {nullptr, 0xD0022, 0x12, "place 7", 0, 11, 0},
    {nullptr, 0xD0027, 0x12, "place 2", 0, 11, 0},
    // 12 items
    {"amrc", 0, 0x10, "Amulet of Recall", 0, 12, 0},
    {"belv", 0, 0x10, "Boots of Quel'Thalas +6", 0, 12, 0},
    {"rej5", 0, 0x10, "Lesser Scroll of Replenishment ", 0, 12, 0},
    {"rej6", 0, 0x10, "Greater Scroll of Replenishment ", 0, 12, 0},
    {"gldo", 0, 0x10, "Orb of Kil'jaeden", 0, 12, 0},
    {"dthb", 0, 0x10, "Thunderbloom Bulb", 0, 12, 0},
    // 13 neutral units
    {"nwad", 0, 0x10, "Watcher Ward", 0, 13, 0},
    {"nmr0", 0, 0x10, "Mercenary Camp", 0, 13, 0},
    {"nmcf", 0, 0x10, "Mur'gul Cliffrunner", 0, 13, 0},
    {"nane", 0, 0x10, "Arachnathid Earth-borer ", 0, 13, 0},
    {"njg1", 0, 0x10, "Jungle Stalker", 0, 13, 0},
    // 14 hero abilities
    {"AHdr", 0, 0x10, "Siphon Mana (HU Blood Mage)", 1, 14, 0},
    {"AOre", 0, 0x10, "Reincarnation (Orc Tauren Chieftain)", 2, 14, 0},
    {"Avng", 0, 0x10, "Vengeance (NE Warden)", 3, 14, 0},
    {"AUfu", 0, 0x10, "Frost Armor (UD Lich)", 4, 14, 0},
    {"ANef", 0, 0x10, "Storm, Earth, and Fire (Pandaren Brewmaster)", 5, 14, 0},
    {"ANdr", 0, 0x10, "Life Drain  (Dark Ranger)", 5, 14, 0},
    {"ANfb", 0, 0x10, "Firebolt", 5, 14, 0},
};

uint32_t RowId(const Row& row)
{
    if (!row.id4)
        return row.order;
    uint32_t id = 0;
    for (int i = 0; i < 4; ++i)
        id = (id << 8) | static_cast<unsigned char>(row.id4[i]);
    return id;
}

TEST(ActionAnalyzerIdTable, SampleRowsOfEveryCategoryAreByteExact)
{
    const ActionIdMap& map = ActionIdMap::Shared();
    std::set<uint32_t> categories;
    for (const Row& row : kRows) {
        const uint32_t id = RowId(row);
        SCOPED_TRACE(row.name);
        const ActionIdInfo* info = map.Lookup(id);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->mId, id);
        EXPECT_EQ(std::string(info->mName), std::string(row.name));
        EXPECT_EQ(info->mCode, row.code);
        EXPECT_EQ(info->mRace, row.race);
        EXPECT_EQ(info->mCategory, row.category);
        EXPECT_EQ(info->mFlags, row.flags);
        categories.insert(row.category);
    }
    EXPECT_EQ(categories.size(), 14u);
}

TEST(ActionAnalyzerIdTable, FourCharacterIdsHaveTheFirstCharacterMostSignificant)
{
    EXPECT_EQ(FourCC("hfoo"), 0x68666F6Fu);
    const ActionIdInfo* footman = ActionIdMap::Shared().Lookup(0x68666F6F);
    ASSERT_NE(footman, nullptr);
    EXPECT_STREQ(footman->mName, "Footman");
    EXPECT_EQ(footman->mCategory, 2u);
    EXPECT_EQ(footman->mRace, 1u);
    EXPECT_EQ(footman->mCode, 0x10u);
    EXPECT_EQ(footman->mFlags, 16u);
}

} // namespace
