// The walk of the action blocks: the size of every action id, the ids outside the table, size errors and
// blocks that run past the message, and the messages that are passed on untouched.

#include <string>
#include <utility>
#include <vector>

#include "lanhost/GameStreamFilterTestSupport.h"

namespace {

using namespace filtertest;

class GameStreamFilterWalk : public GameStreamFilterTest {
protected:
    void SetUp() override
    {
        GameStreamFilterTest::SetUp();
        // Nothing is reported or moved: only the walk shows.
        settings.mAnalyzerFlags = 0;
    }
};

// The fixed sizes, written down from the game's action list.
const std::vector<std::pair<int, int>>& FixedSizes()
{
    static const std::vector<std::pair<int, int>> sizes = {
        {0x01, 1},  {0x02, 1},  {0x03, 2},  {0x19, 2},  {0x75, 2},  {0x04, 1},  {0x05, 1},  {0x20, 1},
        {0x22, 1},  {0x23, 1},  {0x24, 1},  {0x25, 1},  {0x26, 1},  {0x29, 1},  {0x2A, 1},  {0x2B, 1},
        {0x2C, 1},  {0x2F, 1},  {0x30, 1},  {0x31, 1},  {0x32, 1},  {0x61, 1},  {0x66, 1},  {0x67, 1},
        {0x07, 5},  {0x2E, 5},  {0x10, 15}, {0x11, 23}, {0x12, 31}, {0x13, 39}, {0x14, 44}, {0x18, 3},
        {0x1B, 10}, {0x1C, 10}, {0x1D, 9},  {0x21, 9},  {0x1E, 6},  {0x27, 6},  {0x28, 6},  {0x2D, 6},
        {0x50, 6},  {0x51, 10}, {0x62, 13}, {0x68, 13}, {0x69, 17}, {0x6A, 17},
    };
    return sizes;
}

TEST_F(GameStreamFilterWalk, EveryFixedSizeEndsExactlyAtItsBlockEnd)
{
    for (const auto& [id, size] : FixedSizes()) {
        // The action alone in a block of player 1 (no view player, no ping move with these settings),
        // filled with 0x08 bytes, which are no action: a size taken too small runs into them.
        const std::string action = U8(id) + std::string(size - 1, '\x08');
        log.Clear();
        EXPECT_EQ(Filter(ActionMsg(Block(1, action) + Block(2, U8(0x04)))), StreamFilterSend);
        EXPECT_EQ(ActionLogCount(), 0u) << "id " << id;
        EXPECT_FALSE(copied) << "id " << id;

        // One byte short: the action runs one byte past its block.
        if (size > 1) {
            log.Clear();
            Filter(ActionMsg(Block(1, action.substr(0, size - 1))));
            EXPECT_TRUE(log.Contains("[action] SizeError: 1")) << "id " << id;
        }
    }
}

TEST_F(GameStreamFilterWalk, ManyActionsInOneBlockAndSeveralBlocks)
{
    std::string first;
    for (const auto& [id, size] : FixedSizes())
        first += U8(id) + std::string(size - 1, '\0');
    const std::string message = ActionMsg(Block(1, first) + Block(1, first) + Block(1, ""));
    EXPECT_EQ(Filter(message), StreamFilterSend);
    EXPECT_EQ(ActionLogCount(), 0u);
    EXPECT_FALSE(copied);
    EXPECT_EQ(out, message);
}

TEST_F(GameStreamFilterWalk, NulTerminatedSaveGameAndTriggerChat)
{
    // 0x06: id, name, NUL (2 + name length); 0x60: id, eight bytes, text, NUL (10 + text length).
    const std::string save = U8(0x06) + "save one" + U8(0);
    const std::string chat = U8(0x60) + std::string(8, '\x08') + "hello there" + U8(0);
    const std::string empty = U8(0x60) + std::string(8, '\x08') + U8(0);
    Filter(ActionMsg(Block(1, save + chat + empty + U8(0x04))));
    EXPECT_EQ(ActionLogCount(), 0u);

    // Without a NUL inside the block the action cannot end there.
    log.Clear();
    // The next block's header holds a NUL (the high byte of its length); it is not taken.
    Filter(ActionMsg(Block(1, U8(0x06) + "abc") + Block(2, U8(0x04) + U8(0x04))));
    EXPECT_TRUE(log.Contains("[action] SizeError: 1"));
    EXPECT_EQ(ActionLogCount(), 1u);

    log.Clear();
    Filter(ActionMsg(Block(1, U8(0x60) + std::string(5, '\x08'))));
    EXPECT_TRUE(log.Contains("[action] SizeError: 4"));
}

TEST_F(GameStreamFilterWalk, SelectionCountsAndPreSubselection)
{
    // 0x16/0x17: 4 + 8 x the u16 count at offset 2.
    const std::string select = U8(0x16) + U8(1) + U16(2) + std::string(16, '\x08');
    const std::string assign = U8(0x17) + U8(3) + U16(0);
    // 0x1A followed by 0x19: one unit of 14 bytes; 0x1A followed by anything else: 1 byte.
    const std::string subgroup = U8(0x1A) + U8(0x19) + std::string(12, '\x08');
    const std::string lone = U8(0x1A) + U8(0x03) + U8(0x08);
    Filter(ActionMsg(Block(1, select + assign + subgroup + lone)));
    EXPECT_EQ(ActionLogCount(), 0u);

    // 0x1A as the block's last byte does not look into the next block.
    log.Clear();
    Filter(ActionMsg(Block(1, U8(0x1A)) + Block(2, U8(0x19) + U8(0x00))));
    EXPECT_EQ(ActionLogCount(), 0u);

    // A count that the block does not hold, and a count field cut by the block end.
    log.Clear();
    Filter(ActionMsg(Block(1, U8(0x16) + U8(1) + U16(0xFFFF) + std::string(8, '\x08'))));
    EXPECT_TRUE(log.Contains("[action] SizeError: 524272"));
    log.Clear();
    Filter(ActionMsg(Block(1, U8(0x17) + U8(1))));
    EXPECT_TRUE(log.Contains("[action] SizeError: 2"));
}

TEST_F(GameStreamFilterWalk, UnknownActionLeavesTheBlockAndTheWalkGoesOn)
{
    const std::vector<int> unknown = {0x00, 0x08, 0x0F, 0x15, 0x1F, 0x33, 0x4F, 0x52, 0x5F, 0x63, 0x65, 0x6B, 0x74, 0x76, 0xFF};
    for (int id : unknown) {
        log.Clear();
        const std::string message = ActionMsg(Block(1, U8(0x04) + U8(id) + U8(0x04)) + Block(2, U8(0x08)));
        EXPECT_EQ(Filter(message), StreamFilterSend);
        EXPECT_TRUE(log.Contains("[action] Error: Unknown Action: " + std::to_string(id))) << id;
        EXPECT_TRUE(log.Contains("[action] SizeError: -2")) << id;
        // The second block is walked too.
        EXPECT_TRUE(log.Contains("[action] Error: Unknown Action: 8")) << id;
        EXPECT_TRUE(log.Contains("[action] SizeError: -1")) << id;
        EXPECT_EQ(out, message);
    }
}

TEST_F(GameStreamFilterWalk, BlockRunningPastTheMessageEndsTheWalk)
{
    // The second block claims 50 bytes, 5 are there; its bytes are not walked.
    std::string blocks = Block(1, U8(0x04)) + U8(2) + U16(50) + Ping(1, 2).substr(0, 5);
    Filter(ActionMsg(blocks));
    EXPECT_TRUE(log.Contains("[action] SizeError: -45"));
    EXPECT_EQ(ActionLogCount(), 1u);
    EXPECT_FALSE(copied);

    // A block header cut after its player id.
    log.Clear();
    Filter(ActionMsg(Block(1, U8(0x04)) + U8(2)));
    EXPECT_TRUE(log.Contains("[action] SizeError: -2"));

    // The checksum still covers the whole message.
    log.Clear();
    EXPECT_EQ(Filter(ActionMsg(blocks, 100, 0x0000)), StreamFilterSend);
    EXPECT_TRUE(copied);
    EXPECT_EQ(ReadU16(out, 6), BitCrc32(blocks) & 0xFFFF);
}

TEST_F(GameStreamFilterWalk, MessagesThatPassUntouched)
{
    // Too short to be judged, not a W3GS message, or an id the filter does not look at.
    for (const std::string& message :
         {std::string("\xF7"), std::string("\x00\x0C\x0A\x00", 4), Message(0x0C, std::string(6, '\x08')),
          Message(0x01, U32(5)), Message(0x48, "")}) {
        log.Clear();
        EXPECT_EQ(Filter(message), StreamFilterSend);
        EXPECT_FALSE(copied);
        EXPECT_EQ(out, message);
        EXPECT_EQ(log.Lines().size(), 0u);
    }
    EXPECT_TRUE(lines.empty());
}

TEST(GameStreamFilterTimeIncrement, ReadsOnlyActionMessages)
{
    const std::string m = ActionMsg(Block(1, U8(0x04)), 0x1234);
    EXPECT_EQ(GetActionTimeIncrement(reinterpret_cast<const uint8_t*>(m.data()), 6), 0x1234u);
    EXPECT_EQ(GetActionTimeIncrement(reinterpret_cast<const uint8_t*>(m.data()), 5), 0u);
    const std::string chat = Message(0x0F, std::string(8, '\x01'));
    EXPECT_EQ(GetActionTimeIncrement(reinterpret_cast<const uint8_t*>(chat.data()), 12), 0u);
    EXPECT_EQ(GetActionTimeIncrement(nullptr, 12), 0u);
}

} // namespace
