// The lines the filter derives from the actions: the analyzer's verbs by category, the analyzer flags that
// let a category through, the repeat windows and report flags, the ids that cannot be described, the
// pings at the target points, pause and resume, shared control and resource transfers.

#include <cstdio>
#include <string>
#include <vector>

#include "lanhost/GameStreamFilterTestSupport.h"

namespace {

using namespace filtertest;
using Lines = std::vector<std::string>;

class GameStreamFilterDescribe : public GameStreamFilterTest {
protected:
    // The lines of one message of player 1 holding the actions, at the given game time.
    Lines Describe(const std::string& actions, uint32_t gameTime, uint8_t playerId = 1)
    {
        client.mGameTime = gameTime;
        lines.clear();
        EXPECT_EQ(Filter(ActionMsg(Block(playerId, actions))), StreamFilterSend);
        return lines;
    }
};

TEST_F(GameStreamFilterDescribe, EveryReportedCategoryWithItsVerb)
{
    const std::string actions = Ability(0x11, Id4("htow")) + Ability(0x10, Id4("hkee")) +
                                Ability(0x10, Id4("hkni")) + Ability(0x10, Id4("Rhme")) +
                                Ability(0x12, 0xD003B) + Ability(0x10, Id4("amrc")) + Ability(0x10, Id4("nwad")) +
                                Ability(0x10, Id4("AHdr"));
    EXPECT_EQ(Describe(actions, 60000), (Lines{"Alice builds Town Hall", "Alice upgrades to Keep",
                                               "Alice trains first Knight",
                                               "Alice researches Iron Swords Upgrades", "Alice revives dead hero",
                                               "Alice buys Amulet of Recall", "Alice hires Watcher Ward",
                                               "Alice trains Siphon Mana (HU Blood Mage)"}));
    EXPECT_FALSE(copied);
    EXPECT_EQ(ActionLogCount(), 0u);
}

TEST_F(GameStreamFilterDescribe, OrdersAbilitiesAndItemMovesAreNotReported)
{
    // Basic order, other order, autocast on, item use, item give-away, unit ability (code 0: never
    // carried), an ordinary footman.
    const std::string actions = Ability(0x12, 0xD0003) + Ability(0x10, 0xD0031) + Ability(0x10, 0xD0039) +
                                Ability(0x10, 0xD0028) + Ability(0x13, 0xD0021) + Ability(0x10, Id4("Adef")) +
                                Ability(0x10, kObjectHfoo);
    EXPECT_TRUE(Describe(actions, 60000).empty());
    EXPECT_TRUE(Describe(actions, 90000).empty());
}

TEST_F(GameStreamFilterDescribe, AnalyzerFlagsSelectTheCategories)
{
    struct Case {
        uint32_t bit;
        std::string action;
        std::string line;
    };
    const std::vector<Case> cases = {
        {AnalyzerBuildings, Ability(0x11, Id4("htow")), "Alice builds Town Hall"},
        {AnalyzerUnits, Ability(0x10, Id4("Hpal")), "Alice trains Paladin"},
        {AnalyzerUnits, Ability(0x12, 0xD003B), "Alice revives dead hero"},
        {AnalyzerUnits, Ability(0x10, Id4("nwad")), "Alice hires Watcher Ward"},
        {AnalyzerResearch, Ability(0x10, Id4("Rhme")), "Alice researches Iron Swords Upgrades"},
        {AnalyzerItems, Ability(0x10, Id4("amrc")), "Alice buys Amulet of Recall"},
        {AnalyzerHeroAbilities, Ability(0x10, Id4("AHdr")), "Alice trains Siphon Mana (HU Blood Mage)"},
    };
    uint32_t time = 60000;
    for (const Case& c : cases) {
        settings.mAnalyzerFlags = static_cast<int32_t>(0xFF & ~c.bit);
        EXPECT_TRUE(Describe(c.action, time += 10000).empty()) << c.line;
        settings.mAnalyzerFlags = static_cast<int32_t>(c.bit);
        EXPECT_EQ(Describe(c.action, time += 10000), Lines{c.line});
    }
}

TEST_F(GameStreamFilterDescribe, RepeatWindowCountsFromGameTimeZero)
{
    const std::string townHall = Ability(0x11, Id4("htow"));
    // The record's last time starts at 0: the first five seconds of the game fall inside the window.
    EXPECT_TRUE(Describe(townHall, 3000).empty());
    EXPECT_EQ(Describe(townHall, 6000), Lines{"Alice builds Town Hall"});
    EXPECT_TRUE(Describe(townHall, 8000).empty());
    EXPECT_TRUE(Describe(townHall, 11000).empty());
    EXPECT_EQ(Describe(townHall, 11001), Lines{"Alice builds Town Hall"});

    // Items have a one-second window, hero abilities three seconds.
    const std::string item = Ability(0x10, Id4("amrc"));
    EXPECT_EQ(Describe(item, 20000), Lines{"Alice buys Amulet of Recall"});
    EXPECT_TRUE(Describe(item, 21000).empty());
    EXPECT_EQ(Describe(item, 21001), Lines{"Alice buys Amulet of Recall"});
    const std::string hero = Ability(0x10, Id4("AHdr"));
    EXPECT_EQ(Describe(hero, 30000), Lines{"Alice trains Siphon Mana (HU Blood Mage)"});
    EXPECT_TRUE(Describe(hero, 33000).empty());
    EXPECT_EQ(Describe(hero, 33001), Lines{"Alice trains Siphon Mana (HU Blood Mage)"});
}

TEST_F(GameStreamFilterDescribe, FirstOnlyNotFirstAndNever)
{
    // Knight: only the first, with "first ". Barracks: all but the first. Footman and Ziggurat: never.
    const std::string knight = Ability(0x10, Id4("hkni"));
    EXPECT_EQ(Describe(knight, 60000), Lines{"Alice trains first Knight"});
    EXPECT_TRUE(Describe(knight, 70000).empty());
    const std::string barracks = Ability(0x11, Id4("hbar"));
    EXPECT_TRUE(Describe(barracks, 60000).empty());
    EXPECT_EQ(Describe(barracks, 70000), Lines{"Alice builds Human Barracks"});
    EXPECT_EQ(Describe(barracks, 80000), Lines{"Alice builds Human Barracks"});
    for (uint32_t t : {60000u, 70000u, 80000u}) {
        EXPECT_TRUE(Describe(Ability(0x10, kObjectHfoo), t).empty());
        EXPECT_TRUE(Describe(Ability(0x11, Id4("uzig")), t).empty());
    }
    // Every player has an analyzer of their own.
    EXPECT_EQ(Describe(knight, 90000, 2), Lines{"Bob trains first Knight"});
}

TEST_F(GameStreamFilterDescribe, IdsThatCannotBeDescribedAreNotReported)
{
    settings.mAnalyzerFlags = 0xFF;  // pings included: nothing is queued for them either
    EXPECT_TRUE(Describe(Ability(0x11, Id4("nope")), 60000).empty());
    EXPECT_FALSE(copied);
    EXPECT_EQ(std::string(client.mAnalyzers->GetAnalyzer(1)->GetFallback().mName),
              "unknown unitId: 6e6f7065 'nope'");
    EXPECT_TRUE(Describe(Ability(0x12, 0xD0016), 60000).empty());
    EXPECT_EQ(std::string(client.mAnalyzers->GetAnalyzer(1)->GetFallback().mName),
              "unknown unitID on action 11 (should: 12) (item: 'patrol ground' hex:000d0016)");
    EXPECT_FALSE(copied);

    // Player ids above 12 have no analyzer: their actions are walked and not described.
    EXPECT_TRUE(Describe(Ability(0x11, Id4("htow")), 60000, 13).empty());
    EXPECT_TRUE(Describe(Ability(0x11, Id4("htow")), 60000, 255).empty());
    EXPECT_FALSE(copied);
    EXPECT_EQ(ActionLogCount(), 0u);
}

TEST_F(GameStreamFilterDescribe, ReportedTargetsGetAPingBehindTheLastBlock)
{
    settings.mAnalyzerFlags = 0xFF;
    client.mGameTime = 60000;
    // Town Hall (0x11) and Haunted gold mine (0x14, registered with code 0x12) are reported with a ping;
    // a Knight (0x10) has no target; a right-click is never reported.
    const std::string blocks =
        Block(1, Ability(0x11, Id4("htow"), 100.5f, -200.25f) + Ability(0x10, Id4("hkni"))) +
        Block(2, Ability(0x12, 0xD0003, 1.0f, 2.0f) + Ability(0x14, Id4("ugol"), 7.0f, 8.0f));
    EXPECT_EQ(Filter(ActionMsg(blocks, 250)), StreamFilterSend);
    EXPECT_EQ(lines, (Lines{"Alice builds Town Hall", "Alice trains first Knight", "Bob builds Haunted gold mine"}));
    ASSERT_TRUE(copied);
    const std::string pings = Block(4, Ping(100.5f, -200.25f).substr(0, 9) + U32(0)) +
                              Block(4, Ping(7.0f, 8.0f).substr(0, 9) + U32(0));
    EXPECT_EQ(out, ActionMsg(blocks + pings, 250));
    char malloc4[32];
    std::snprintf(malloc4, sizeof malloc4, "[malloc]4: %5d  ", static_cast<int>(out.size()));
    EXPECT_TRUE(log.Contains(malloc4));
    EXPECT_FALSE(log.Contains("CHECKSUM"));
}

TEST_F(GameStreamFilterDescribe, PauseAndResumeKeepThePauseStart)
{
    client.mGameTime = 60000;
    Filter(ActionMsg(Block(1, U8(0x01))));
    EXPECT_EQ(client.mPauseStartGameTime, 60000u);
    client.mGameTime = 61000;
    Filter(ActionMsg(Block(2, U8(0x01))));
    EXPECT_EQ(client.mPauseStartGameTime, 60000u);
    Filter(ActionMsg(Block(1, U8(0x02))));
    EXPECT_EQ(client.mGameTime, 60000u);
    EXPECT_EQ(client.mPauseStartGameTime, 0u);
    client.mGameTime = 62000;
    Filter(ActionMsg(Block(1, U8(0x02))));
    EXPECT_EQ(client.mGameTime, 62000u);
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(copied);
}

TEST_F(GameStreamFilterDescribe, SharedControlAndTransfers)
{
    auto ally = [](uint8_t slot, uint32_t flags) { return U8(0x50) + U8(slot) + U32(flags); };
    auto transfer = [](uint8_t slot, uint32_t gold, uint32_t lumber) {
        return U8(0x51) + U8(slot) + U32(gold) + U32(lumber);
    };
    EXPECT_EQ(Describe(ally(1, 0x5F) + ally(1, 0x1F) + transfer(1, 100, 50) + transfer(1, 300, 0) +
                           transfer(1, 0, 75) + transfer(1, 0, 0),
                       60000),
              (Lines{"Alice shares control with Bob", "Alice disables control sharing with Bob",
                     "Alice transfers 100 gold and 50 lumber to Bob", "Alice transfers 300 gold to Bob",
                     "Alice transfers 75 lumber to Bob"}));
    // Slots and players that the game does not have are named as unknown.
    EXPECT_EQ(Describe(ally(200, 0x40) + transfer(12, 5, 0), 60000, 13),
              (Lines{"unknown shares control with unknown", "unknown transfers 5 gold to unknown"}));
    settings.mAnalyzerFlags = 0xFF & ~AnalyzerAlliances;
    EXPECT_TRUE(Describe(ally(1, 0x40) + transfer(1, 100, 50), 60000).empty());
    EXPECT_FALSE(copied);
}

} // namespace
