#pragma once
// The order ids and object ids that the action analyzer knows: one immutable array of registrations,
// shared by every analyzer. The analyzers keep their running state (count, last time, text) apart from it.

#include <cstddef>
#include <cstdint>

// An object id is four ASCII characters with the first one in the most significant byte:
// FourCC("hfoo") is 0x68666F6F.
constexpr uint32_t FourCC(const char (&chars)[5])
{
    return (static_cast<uint32_t>(static_cast<unsigned char>(chars[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(chars[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(chars[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(chars[3]));
}

// The ability action ids under which an id is expected (the "code" of a registration).
enum ActionCode : uint32_t {
    kActionCodeNone = 0x00,        // no action carries the id: it is named but never reported
    kActionCodeNoTarget = 0x10,
    kActionCodeTargetPoint = 0x11,
    kActionCodePointObject = 0x12,
    kActionCodeItem = 0x13,        // give or drop item
    kActionCodeTwoPoints = 0x14,   // looked up as 0x12
    kActionCodeAny = 0xFF,
};

enum ActionRace : uint32_t {
    kRaceNone = 0,
    kRaceHuman = 1,
    kRaceOrc = 2,
    kRaceNightElf = 3,
    kRaceUndead = 4,
    kRaceOther = 5,
};

enum ActionCategory : uint32_t {
    kCategoryBuilding = 1,
    kCategoryUnit = 2,
    kCategoryResearch = 3,
    kCategoryUnitAbility = 4,
    kCategoryBasicOrder = 5,
    kCategoryOtherOrder = 6,
    kCategoryAutocastOn = 7,
    kCategoryAutocastOff = 8,
    kCategoryReviveHero = 9,
    kCategoryUseItem = 10,
    kCategoryMoveItem = 11,
    kCategoryItem = 12,
    kCategoryNeutralUnit = 13,
    kCategoryHeroAbility = 14,
};

// Report flags; 0 in a registration means the category's default.
enum ActionReportFlags : uint32_t {
    kReportEvery = 1,       // report every counted occurrence
    kReportNotFirst = 2,    // do not report the first counted occurrence
    kReportOnlyFirst = 4,   // report only the first counted occurrence, with the word "first "
    kReportHidden = 8,      // never report
    kReportNever = 16,      // never report
};

// One registration: id, expected action code, English name (ASCII bytes, kept exactly as the game's list
// has them, blanks included), race, category and report flags.
struct ActionIdRegistration {
    uint32_t id;
    uint32_t code;
    const char* name;
    uint32_t race;
    uint32_t category;
    uint32_t flags;
};

// All registrations in registration order: the order ids first, then the object ids. Two ids appear
// twice (0xD0016 and 0xD0050); their first registration is the one that counts.
extern const ActionIdRegistration kActionIdTable[];
extern const size_t kActionIdTableSize;
