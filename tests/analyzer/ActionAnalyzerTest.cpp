// The per-player analyzer: counting, repeat windows, report flags, verbs, the fallback texts and the set
// of thirteen analyzers.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "AllocationCounter.h"
#include "analyzer/ActionAnalyzer.h"

namespace {

std::string Text(const ActionIdInfo& info) { return info.GetText(); }

TEST(ActionAnalyzer, FirstKnightIsReportedOnceThenCountedSilently)
{
    ActionAnalyzer analyzer;
    const ActionIdInfo& first = analyzer.DescribeAction(FourCC("hkni"), 0x10, 60000);
    EXPECT_EQ(first.mId, FourCC("hkni"));
    EXPECT_STREQ(first.mName, "Knight");
    EXPECT_EQ(Text(first), "trains first ");
    EXPECT_EQ(first.mCount, 1u);
    EXPECT_EQ(first.mLastTime, 60000u);

    const ActionIdInfo& second = analyzer.DescribeAction(FourCC("hkni"), 0x10, 70000);
    EXPECT_EQ(&second, &first);
    EXPECT_EQ(second.mCount, 2u);
    EXPECT_EQ(second.mLastTime, 70000u);
    EXPECT_FALSE(second.HasText());
}

TEST(ActionAnalyzer, RepeatWindowIsMeasuredFromLastTimeStartingAtZero)
{
    ActionAnalyzer analyzer;
    // Town Hall: category 1, code 0x11, default flags 1, window 5 s.
    const ActionIdInfo& early = analyzer.DescribeAction(FourCC("htow"), 0x11, 3000);
    EXPECT_EQ(early.mId, FourCC("htow"));
    EXPECT_EQ(early.mCount, 0u);
    EXPECT_EQ(early.mLastTime, 0u);
    EXPECT_FALSE(early.HasText());

    // The window's end is inclusive.
    EXPECT_EQ(analyzer.DescribeAction(FourCC("htow"), 0x11, 5000).mCount, 0u);
    const ActionIdInfo& counted = analyzer.DescribeAction(FourCC("htow"), 0x11, 5001);
    EXPECT_EQ(counted.mCount, 1u);
    EXPECT_EQ(counted.mLastTime, 5001u);
    EXPECT_EQ(Text(counted), "builds ");

    // Inside the window of the last counted occurrence: neither counted nor reported, last time stays.
    const ActionIdInfo& repeat = analyzer.DescribeAction(FourCC("htow"), 0x11, 9000);
    EXPECT_EQ(repeat.mCount, 1u);
    EXPECT_EQ(repeat.mLastTime, 5001u);
    EXPECT_FALSE(repeat.HasText());
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("htow"), 0x11, 10002)), "builds ");

    // A town hall upgrade carried by 0x10 upgrades.
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("hkee"), 0x10, 20000)), "upgrades to ");
}

TEST(ActionAnalyzer, WindowComparisonIsSigned32Bit)
{
    ActionAnalyzer analyzer;
    const uint32_t mage = FourCC("Hblm"); // flags 1, window 5 s
    EXPECT_EQ(analyzer.DescribeAction(mage, 0x10, -1).mCount, 0u);
    EXPECT_EQ(analyzer.DescribeAction(mage, 0x10, INT32_MAX - 4000).mCount, 1u);
    // 5000 + last time wraps to a negative value, so the next occurrence is outside the window.
    const ActionIdInfo& next = analyzer.DescribeAction(mage, 0x10, INT32_MAX - 3999);
    EXPECT_EQ(next.mCount, 2u);
    EXPECT_EQ(Text(next), "trains ");
}

TEST(ActionAnalyzer, ReportFlags)
{
    ActionAnalyzer analyzer;
    // 1: every counted occurrence, without "first ".
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("Hblm"), 0x10, 10000)), "trains ");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("Hblm"), 0x10, 20000)), "trains ");

    // 2: the first counted occurrence is silent, the later ones are reported.
    const ActionIdInfo& altar = analyzer.DescribeAction(FourCC("halt"), 0x11, 10000);
    EXPECT_EQ(altar.mCount, 1u);
    EXPECT_FALSE(altar.HasText());
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("halt"), 0x11, 20000)), "builds ");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("halt"), 0x11, 30000)), "builds ");

    // 4 (the units' default): only the first, with "first ".
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("ogru"), 0x10, 10000)), "");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("orai"), 0x10, 10000)), "trains first ");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("orai"), 0x10, 20000)), "");

    // 8 and 16: counted, never reported.
    for (int32_t t = 10000; t <= 30000; t += 10000) {
        const ActionIdInfo& tower = analyzer.DescribeAction(FourCC("hwtw"), 0x11, t);
        EXPECT_FALSE(tower.HasText());
        const ActionIdInfo& footman = analyzer.DescribeAction(FourCC("hfoo"), 0x10, t);
        EXPECT_FALSE(footman.HasText());
    }
    EXPECT_EQ(analyzer.DescribeAction(FourCC("hwtw"), 0x11, 40000).mCount, 4u);
    EXPECT_EQ(analyzer.DescribeAction(FourCC("hfoo"), 0x10, 40000).mCount, 4u);
}

TEST(ActionAnalyzer, CategoryVerbsWindowsAndDefaultFlags)
{
    struct Expect {
        uint32_t category;
        const char* verb10;  // verb for code 0x10
        const char* verb12;  // verb for code 0x12
        uint32_t window;
        uint32_t flags;
    };
    const Expect expected[] = {
        {1, "upgrades to", "builds", 5, 1},
        {2, "trains", "trains", 5, 4},
        {3, "researches", "researches", 5, 1},
        {4, "uses ability", "uses ability", 5, 16},
        {5, "action", "action", 0, 16},
        {6, "uses ability", "uses ability", 0, 16},
        {7, "enables", "enables", 0, 16},
        {8, "disables", "disables", 0, 16},
        {9, "revives", "revives", 5, 1},
        {10, "uses item", "uses item", 1, 16},
        {11, "gives away item", "swapes item", 1, 16},
        {12, "buys", "buys", 1, 1},
        {13, "hires", "hires", 1, 1},
        {14, "trains", "trains", 3, 1},
        {0, "", "", 0, 16},
        {15, "", "", 0, 16},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.category);
        EXPECT_STREQ(ActionAnalyzer::GetActionVerb(e.category, 0x10), e.verb10);
        EXPECT_STREQ(ActionAnalyzer::GetActionVerb(e.category, 0x12), e.verb12);
        EXPECT_EQ(ActionAnalyzer::GetRepeatWindow(e.category), e.window);
        EXPECT_EQ(ActionAnalyzer::GetDefaultFlags(e.category), e.flags);
    }
    EXPECT_STREQ(ActionAnalyzer::GetActionVerb(1, 0x11), "builds");
    EXPECT_STREQ(ActionAnalyzer::GetActionVerb(11, 0x13), "gives away item");
}

TEST(ActionAnalyzer, ReportedTextsOfTheReportingCategories)
{
    ActionAnalyzer analyzer;
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("Rhme"), 0x10, 10000)), "researches ");
    EXPECT_EQ(Text(analyzer.DescribeAction(0xD003B, 0x12, 10000)), "revives ");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("bspd"), 0x10, 10000)), "buys ");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("nogr"), 0x10, 10000)), "hires ");
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("AHbz"), 0x10, 10000)), "trains ");

    // Items have a one-second window, hero abilities three seconds.
    EXPECT_FALSE(analyzer.DescribeAction(FourCC("bspd"), 0x10, 11000).HasText());
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("bspd"), 0x10, 11001)), "buys ");
    EXPECT_FALSE(analyzer.DescribeAction(FourCC("AHbz"), 0x10, 13000).HasText());
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("AHbz"), 0x10, 13001)), "trains ");

    // Orders without a window are counted every time but stay silent by default.
    for (int i = 1; i <= 3; ++i) {
        const ActionIdInfo& stop = analyzer.DescribeAction(0xD0004, 0x10, 10000);
        EXPECT_EQ(stop.mCount, static_cast<uint32_t>(i));
        EXPECT_FALSE(stop.HasText());
    }
}

TEST(ActionAnalyzer, IdsOutsideTheTableGiveTheFallback)
{
    ActionAnalyzer analyzer;
    const ActionIdInfo& nope = analyzer.DescribeAction(FourCC("nope"), 0x10, 1000);
    EXPECT_EQ(&nope, &analyzer.GetFallback());
    EXPECT_EQ(nope.mId, 0u);
    EXPECT_FALSE(nope.HasText());
    EXPECT_EQ(std::string(nope.mName), "unknown unitId: 6e6f7065 'nope'");

    const ActionIdInfo& order = analyzer.DescribeAction(0xD0001, 0x12, 1000);
    EXPECT_EQ(std::string(order.mName), "unknown unitId:    d0001");

    // The character suffix starts at 1000001.
    EXPECT_EQ(std::string(analyzer.DescribeAction(1000000, 0x10, 1000).mName), "unknown unitId:    f4240");
    EXPECT_EQ(std::string(analyzer.DescribeAction(0x41424344, 0x10, 1000).mName),
              "unknown unitId: 41424344 'ABCD'");
    EXPECT_EQ(std::string(analyzer.DescribeAction(1000001, 0x10, 1000).mName).rfind("unknown unitId:    f4241 '", 0),
              0u);
    EXPECT_EQ(analyzer.GetFallback().mCount, 0u);
}

TEST(ActionAnalyzer, ActionCodeMismatchGivesTheFallbackAndCountsNothing)
{
    ActionAnalyzer analyzer;
    const ActionIdInfo& patrol = analyzer.DescribeAction(0xD0016, 0x12, 10000);
    EXPECT_EQ(patrol.mId, 0u);
    EXPECT_EQ(std::string(patrol.mName),
              "unknown unitID on action 11 (should: 12) (item: 'patrol ground' hex:000d0016)");

    // A record with code 0 never matches an ability action.
    EXPECT_EQ(std::string(analyzer.DescribeAction(FourCC("nlv1"), 0x10, 10000).mName),
              "unknown unitID on action 00 (should: 10) (item: 'Lava Spawn (Lvl1)' hex:6e6c7631)");

    // The mismatch did not count the record.
    const ActionIdInfo& ground = analyzer.DescribeAction(0xD0016, 0x11, 10000);
    EXPECT_EQ(ground.mId, 0xD0016u);
    EXPECT_EQ(ground.mCount, 1u);

    // A mismatch after a report leaves the record's text as it was and returns the fallback.
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("hkni"), 0x10, 10000)), "trains first ");
    EXPECT_EQ(analyzer.DescribeAction(FourCC("hkni"), 0x11, 20000).mId, 0u);
}

TEST(ActionAnalyzer, Action14FindsRecordsOfCode12)
{
    ActionAnalyzer analyzer;
    const ActionIdInfo& revive = analyzer.DescribeAction(0xD003B, 0x14, 10000);
    EXPECT_EQ(revive.mId, 0xD003Bu);
    EXPECT_EQ(Text(revive), "revives ");

    const ActionIdInfo& right = analyzer.DescribeAction(0xD0003, 0x14, 10000);
    EXPECT_EQ(right.mId, 0xD0003u);
    EXPECT_EQ(right.mCount, 1u);

    // 0x14 is looked up as 0x12, so a 0x11 record reports 12 as the carrying action.
    EXPECT_EQ(std::string(analyzer.DescribeAction(0xD0010, 0x14, 10000).mName),
              "unknown unitID on action 11 (should: 12) (item: 'attack ground' hex:000d0010)");
}

TEST(ActionAnalyzer, InventoryAndAnyCodeRecords)
{
    ActionAnalyzer analyzer;
    // Category 11 under 0x12 swaps; its default flags keep it silent, but it is counted.
    const ActionIdInfo& swap = analyzer.DescribeAction(0xD0022, 0x12, 10000);
    EXPECT_EQ(swap.mId, 0xD0022u);
    EXPECT_EQ(swap.mCount, 1u);
    EXPECT_FALSE(swap.HasText());
    EXPECT_STREQ(ActionAnalyzer::GetActionVerb(swap.mCategory, swap.mCode), "swapes item");
    EXPECT_EQ(analyzer.DescribeAction(0xD0021, 0x13, 10000).mId, 0xD0021u);

    // Code 0xFF records are found under every ability action.
    for (uint32_t action = 0x10; action <= 0x14; ++action)
        EXPECT_EQ(analyzer.DescribeAction(0xD0028, action, 10000 + 2000 * static_cast<int32_t>(action)).mId,
                  0xD0028u);
    EXPECT_EQ(analyzer.DescribeAction(0xD0028, 0x10, 100000).mCount, 6u);
}

TEST(ActionAnalyzer, DescribingAnUnchangedOrSilentActionDoesNotAllocate)
{
    ActionAnalyzer analyzer;
    analyzer.DescribeAction(FourCC("hkni"), 0x10, 1000);
    const size_t before = bcxtest::AllocationCount();
    for (int32_t t = 0; t < 100000; t += 10) {
        analyzer.DescribeAction(FourCC("hfoo"), 0x10, t);
        analyzer.DescribeAction(FourCC("hkni"), 0x10, t);
        analyzer.DescribeAction(0xD0003, 0x12, t);
        analyzer.DescribeAction(FourCC("nope"), 0x10, t);
        analyzer.DescribeAction(0xD0016, 0x12, t);
        analyzer.DescribeAction(FourCC("bspd"), 0x10, t);
    }
    EXPECT_EQ(bcxtest::AllocationCount(), before);

    // The counter does see allocations.
    std::string* volatile probe = new std::string(64, 'x');
    delete probe;
    EXPECT_GT(bcxtest::AllocationCount(), before);
}

TEST(ActionAnalyzer, InitIdTableStartsFresh)
{
    ActionAnalyzer analyzer;
    EXPECT_EQ(analyzer.GetRecordCount(), 1430u);
    EXPECT_EQ(Text(analyzer.DescribeAction(FourCC("hkni"), 0x10, 60000)), "trains first ");
    analyzer.InitIdTable();
    const ActionIdInfo& again = analyzer.DescribeAction(FourCC("hkni"), 0x10, 60000);
    EXPECT_EQ(again.mCount, 1u);
    EXPECT_EQ(Text(again), "trains first ");
}

TEST(ActionAnalyzerSet, ThirteenIndependentAnalyzersAndNoneAbove12)
{
    alignas(8) static char ownerStandIn[8];
    LanClient* owner = reinterpret_cast<LanClient*>(ownerStandIn);
    ActionAnalyzerSet set(owner);
    EXPECT_EQ(set.GetOwner(), owner);

    for (uint32_t p = 0; p < 13; ++p) {
        ActionAnalyzer* a = set.GetAnalyzer(p);
        ASSERT_NE(a, nullptr) << p;
        for (uint32_t q = 0; q < p; ++q)
            EXPECT_NE(a, set.GetAnalyzer(q));
    }
    EXPECT_EQ(set.GetAnalyzer(13), nullptr);
    EXPECT_EQ(set.GetAnalyzer(255), nullptr);
    EXPECT_EQ(set.GetAnalyzer(UINT32_MAX), nullptr);
    const ActionAnalyzerSet& constSet = set;
    EXPECT_EQ(constSet.GetAnalyzer(13), nullptr);
    EXPECT_EQ(constSet.GetAnalyzer(12), set.GetAnalyzer(12));

    // Each player has its own counts: player 0's first knight does not spend player 1's.
    EXPECT_EQ(Text(set.GetAnalyzer(0)->DescribeAction(FourCC("hkni"), 0x10, 60000)), "trains first ");
    EXPECT_EQ(set.GetAnalyzer(0)->DescribeAction(FourCC("hkni"), 0x10, 70000).mCount, 2u);
    const ActionIdInfo& other = set.GetAnalyzer(1)->DescribeAction(FourCC("hkni"), 0x10, 70000);
    EXPECT_EQ(other.mCount, 1u);
    EXPECT_EQ(Text(other), "trains first ");
}

} // namespace
