// The rewriting of the stream: minimap pings moved to the chosen player, the view player's scenario
// triggers removed, the checksum, chat filtered by the chat settings, early leavers suppressed, lag
// notices, the u16 length limit, and malformed messages of every length.

#include <cstdio>
#include <string>
#include <vector>

#include "core/ClientSettings.h"
#include "lanhost/LanFixture.h"
#include "lanhost/GameStreamFilterTestSupport.h"

namespace {

using namespace filtertest;
using Lines = std::vector<std::string>;

const std::string kPing = Ping(1.5f, -2.5f);

class GameStreamFilterRewrite : public GameStreamFilterTest {};

// A chat message (0x0F or 0x28) to every player from sender, in-game form (flag 0x20) or lobby form.
std::string Chat(uint8_t id, uint8_t sender, const std::string& text, bool inGame = true)
{
    std::string payload = U8(2) + U8(1) + U8(2) + U8(sender) + U8(inGame ? 0x20 : 0x10);
    if (inGame)
        payload += U32(0);
    return Message(id, payload + text + U8(0));
}

std::string Hex4(const char* format, uint32_t value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// ---------------------------------------------------------------------------------------------------
// Minimap pings

TEST_F(GameStreamFilterRewrite, PingInTheMiddleOfThreeActionsGetsABlockOfItsOwn)
{
    settings.mPlayerPing = PingReport | PingToSystemSender;
    const std::string in = ActionMsg(Block(1, Bytes({0x03, 0x01}) + kPing + U8(0x04)), 77);
    EXPECT_EQ(Filter(in), StreamFilterSend);
    ASSERT_TRUE(copied);
    EXPECT_EQ(out.size(), in.size() + 6);
    // Three blocks: the first action, the ping under the system sender, the third action; length field
    // and checksum follow.
    EXPECT_EQ(out, ActionMsg(Block(1, Bytes({0x03, 0x01})) + Block(4, kPing) + Block(1, U8(0x04)), 77));
    EXPECT_EQ(ReadU16(out, 2), out.size());
    EXPECT_EQ(lines, Lines{"MapPing by Alice"});
    EXPECT_TRUE(log.Contains("[malloc]1: "));
    EXPECT_FALSE(log.Contains("CHECKSUM"));
}

TEST_F(GameStreamFilterRewrite, PingAtTheStartOrEndOfItsBlockAndTwoInARow)
{
    settings.mPlayerPing = PingToSystemSender;
    Filter(ActionMsg(Block(1, kPing + U8(0x04))));
    EXPECT_EQ(out, ActionMsg(Block(4, kPing) + Block(1, U8(0x04))));
    Filter(ActionMsg(Block(1, U8(0x04) + kPing)));
    EXPECT_EQ(out, ActionMsg(Block(1, U8(0x04)) + Block(4, kPing)));
    log.Clear();
    Filter(ActionMsg(Block(1, kPing + kPing) + Block(2, U8(0x04))));
    EXPECT_EQ(out, ActionMsg(Block(4, kPing) + Block(4, kPing) + Block(2, U8(0x04))));
    EXPECT_TRUE(log.Contains("[malloc]1: "));
    EXPECT_TRUE(log.Contains("[malloc]2: "));
    EXPECT_TRUE(lines.empty());
}

TEST_F(GameStreamFilterRewrite, PingTargetByPlayerAndObserverSettings)
{
    // Without the system-sender bit the ping goes to the first playing slot's player (Alice).
    settings.mPlayerPing = PingReport;
    Filter(ActionMsg(Block(2, kPing)));
    EXPECT_EQ(out, ActionMsg(Block(1, kPing)));
    EXPECT_EQ(lines, Lines{"MapPing by Bob"});

    // Alice's own ping stays where it is.
    lines.clear();
    const std::string alice = ActionMsg(Block(1, kPing));
    Filter(alice);
    EXPECT_FALSE(copied);
    EXPECT_EQ(lines, Lines{"MapPing by Alice"});

    // An observer's ping follows ObsPing.
    lines.clear();
    settings.mObsPing = 0;
    Filter(ActionMsg(Block(4, kPing)));
    EXPECT_EQ(out, ActionMsg(Block(1, kPing)));
    EXPECT_TRUE(lines.empty());
    settings.mObsPing = PingReport | PingToSystemSender;  // the system sender is Dave himself
    Filter(ActionMsg(Block(4, kPing)));
    EXPECT_FALSE(copied);
    EXPECT_EQ(lines, Lines{"MapPing by Dave (Obs)"});

    // No playing slot at all: player 99.
    lines.clear();
    for (SlotRecord& slot : game->mDetails->mSlots)
        slot.mTeam = 12;
    settings.mObsPing = 0;
    Filter(alice);
    EXPECT_EQ(out, ActionMsg(Block(99, kPing)));

    // A player id without a record is named as unknown.
    settings.mPlayerPing = PingReport;
    lines.clear();
    Filter(ActionMsg(Block(200, kPing)));
    EXPECT_EQ(lines, Lines{"MapPing by unknown"});
}

// ---------------------------------------------------------------------------------------------------
// Scenario triggers of the view player

TEST_F(GameStreamFilterRewrite, ViewPlayersLoneTriggerBlockIsRemoved)
{
    const std::string in = ActionMsg(Block(1, U8(0x04)) + Block(3, Trigger()) + Block(2, U8(0x05)));
    EXPECT_EQ(Filter(in), StreamFilterSend);
    EXPECT_EQ(out.size(), in.size() - 16);
    EXPECT_EQ(out, ActionMsg(Block(1, U8(0x04)) + Block(2, U8(0x05))));

    // Another player's trigger stays.
    const std::string other = ActionMsg(Block(1, Trigger()));
    Filter(other);
    EXPECT_FALSE(copied);
    EXPECT_EQ(out, other);
    EXPECT_EQ(ActionLogCount(), 0u);
}

TEST_F(GameStreamFilterRewrite, ViewPlayersEmbeddedTriggersAreCutOut)
{
    Filter(ActionMsg(Block(3, Bytes({0x03, 0x01}) + Trigger() + U8(0x04)) + Block(1, U8(0x04))));
    EXPECT_EQ(out, ActionMsg(Block(3, Bytes({0x03, 0x01})) + Block(3, U8(0x04)) + Block(1, U8(0x04))));
    Filter(ActionMsg(Block(3, Trigger() + Trigger() + U8(0x04))));
    EXPECT_EQ(out, ActionMsg(Block(3, U8(0x04))));
    Filter(ActionMsg(Block(3, Trigger() + Trigger())));
    EXPECT_EQ(out, ActionMsg(""));
    EXPECT_EQ(ActionLogCount(), 0u);
}

TEST_F(GameStreamFilterRewrite, TheViewPlayerIsTheFirstObserverWhenTheDetailsNameNone)
{
    game->mDetails->mViewPlayer = 1;  // a player, not an observer: Carol (the first observer) stands in
    Filter(ActionMsg(Block(3, Trigger()) + Block(1, Trigger())));
    EXPECT_EQ(out, ActionMsg(Block(1, Trigger())));
}

// ---------------------------------------------------------------------------------------------------
// Checksum

TEST_F(GameStreamFilterRewrite, ChecksumMismatchIsFixedAndReported)
{
    const std::string blocks = Block(1, U8(0x04) + Ability(0x10, kObjectHfoo));
    const uint32_t right = BitCrc32(blocks) & 0xFFFF;
    const std::string good = ActionMsg(blocks);
    Filter(good);
    EXPECT_FALSE(copied);
    EXPECT_EQ(out, good);

    const uint32_t wrong = right ^ 0x1234;
    EXPECT_EQ(Filter(ActionMsg(blocks, 100, static_cast<int>(wrong))), StreamFilterSend);
    ASSERT_TRUE(copied);
    EXPECT_EQ(out, good);
    EXPECT_TRUE(log.Contains(Hex4("[malloc]7: %5d  ", static_cast<uint32_t>(good.size()))));
    EXPECT_TRUE(log.Contains(Hex4("[CHECKSUM ERROR]: org=0x%4.4X", wrong) + Hex4("  should=0x%4.4X", right)));

    // A rewritten message gets its new checksum without the report.
    log.Clear();
    settings.mPlayerPing = PingToSystemSender;
    Filter(ActionMsg(Block(1, kPing), 100, static_cast<int>(wrong)));
    EXPECT_EQ(out, ActionMsg(Block(4, kPing)));
    EXPECT_FALSE(log.Contains("CHECKSUM"));
}

TEST_F(GameStreamFilterRewrite, TenByteActionMessageIsNotChecked)
{
    const std::string ten = Message(0x0C, Bytes({0x64, 0x00, 0x12, 0x34, 0x01, 0x00}));
    ASSERT_EQ(ten.size(), 10u);
    Filter(ten);
    EXPECT_FALSE(copied);
    EXPECT_EQ(log.Lines().size(), 0u);
}

// ---------------------------------------------------------------------------------------------------
// Chat

TEST_F(GameStreamFilterRewrite, PlayerChatPassesAsHostChatOrIsDropped)
{
    const std::string toHost = Chat(0x28, 1, "gg");
    EXPECT_EQ(Filter(toHost), StreamFilterSend);
    ASSERT_TRUE(copied);
    std::string expected = toHost;
    expected[1] = 0x0F;
    EXPECT_EQ(out, expected);
    EXPECT_TRUE(log.Contains("[Chat] Alice: 'gg'"));
    EXPECT_TRUE(log.Contains("[malloc]8: "));
    const std::string hostChat = Chat(0x0F, 2, "hi");
    EXPECT_EQ(Filter(hostChat), StreamFilterSend);
    EXPECT_FALSE(copied);

    settings.mPlayerChat = 0;
    EXPECT_EQ(Filter(toHost), StreamFilterObserverChat);
    EXPECT_EQ(Filter(hostChat), StreamFilterObserverChat);
    EXPECT_TRUE(lines.empty());
}

TEST_F(GameStreamFilterRewrite, ObserverChatBecomesAnObserverLineOrNothing)
{
    EXPECT_EQ(Filter(Chat(0x0F, 4, "hello")), StreamFilterObserverChat);
    EXPECT_EQ(lines, Lines{"Dave: hello"});
    EXPECT_TRUE(log.Contains("[Chat] Dave(Obs): 'hello'"));
    lines.clear();
    settings.mObserverChat = 0;
    EXPECT_EQ(Filter(Chat(0x28, 3, "quiet")), StreamFilterObserverChat);
    EXPECT_TRUE(lines.empty());

    // The lobby form is not logged; its text starts right behind the flag.
    settings.mObserverChat = 1;
    log.Clear();
    EXPECT_EQ(Filter(Chat(0x0F, 4, "lobby", false)), StreamFilterObserverChat);
    EXPECT_EQ(lines, Lines{"Dave: lobby"});
    EXPECT_FALSE(log.Contains("[Chat]"));
}

TEST_F(GameStreamFilterRewrite, ChatWithoutSenderOrTextEnd)
{
    // The receiver count reaches past the message: no sender, no flag; the message is not sent.
    EXPECT_EQ(Filter(Message(0x0F, U8(12) + U8(1) + U8(2))), StreamFilterDrop);
    EXPECT_EQ(Filter(Message(0x28, "")), StreamFilterDrop);
    // A text without its NUL ends with the message; an extra-flags field cut short leaves no text.
    EXPECT_EQ(Filter(Message(0x0F, U8(1) + U8(1) + U8(4) + U8(0x10) + "abc")), StreamFilterObserverChat);
    EXPECT_EQ(lines, Lines{"Dave: abc"});
    lines.clear();
    EXPECT_EQ(Filter(Message(0x0F, U8(1) + U8(1) + U8(200) + U8(0x20) + U8(0))), StreamFilterSend);
    EXPECT_TRUE(log.Contains("[Chat] unknown: ''"));
}

// ---------------------------------------------------------------------------------------------------
// Leave and lag messages

TEST_F(GameStreamFilterRewrite, EarlyLeaversAreSuppressedLaterOnesPass)
{
    const std::string bobLeaves = Message(0x07, U8(2) + U32(0x0D));
    client.mGameTime = 0;
    client.mCursor.mEntriesRead = 1;
    EXPECT_EQ(Filter(bobLeaves), StreamFilterDrop);
    EXPECT_EQ(client.mSuppressedLeaves, 1u);
    EXPECT_EQ(game->mDetails->mPlayers[2].mLeaveTime, 0);
    client.mCursor.mEntriesRead = 2;
    EXPECT_EQ(Filter(Message(0x07, U8(1) + U32(0x0D))), StreamFilterDrop);
    EXPECT_EQ(client.mSuppressedLeaves, 2u);
    EXPECT_EQ(log.Count("Found an early leaver, suppressing"), 2u);

    // After any other entry a leave message is passed on.
    client.mCursor.mEntriesRead = 4;
    client.mGameTime = 123456;
    EXPECT_EQ(Filter(bobLeaves), StreamFilterSend);
    EXPECT_FALSE(copied);
    EXPECT_EQ(client.mSuppressedLeaves, 2u);
    EXPECT_EQ(game->mDetails->mPlayers[2].mLeaveTime, 123456);
}

TEST_F(GameStreamFilterRewrite, LeaveRepairsTheChatSendersAndStaysInsideTheRecords)
{
    // The repair reads the chat prompts from the client core's settings.
    ASSERT_NE(lantest::StartCore(0), nullptr);
    client.mCursor.mEntriesRead = 50;
    client.mSenders[ChatSenderWizard].mPlayerId = 4;
    // Dave speaks for the system and the wizard; with him gone nobody observes but Carol, the view
    // player, so the first playing human takes over.
    EXPECT_EQ(Filter(Message(0x07, U8(4) + U32(0x07))), StreamFilterSend);
    EXPECT_EQ(client.mSenders[ChatSenderSystem].mPlayerId, 1u);
    EXPECT_EQ(client.mSenders[ChatSenderWizard].mPlayerId, 1u);
    EXPECT_EQ(game->mDetails->mPlayers[4].mLeaveTime, 60000);

    // Ids without a record, and a message without its player id.
    const GameDetails before = *game->mDetails;
    EXPECT_EQ(Filter(Message(0x07, U8(13) + U32(0x07))), StreamFilterSend);
    EXPECT_EQ(Filter(Message(0x07, U8(255) + U32(0x07))), StreamFilterSend);
    EXPECT_EQ(Filter(Message(0x07, "")), StreamFilterSend);
    for (int i = 0; i < GameDetails::kPlayers; ++i)
        EXPECT_EQ(game->mDetails->mPlayers[i].mLeaveTime, before.mPlayers[i].mLeaveTime) << i;
    lantest::StopCore();
}

TEST_F(GameStreamFilterRewrite, LagNoticesKeepTheLagFlag)
{
    EXPECT_EQ(Filter(Message(0x10, U8(1) + U8(2) + U32(3000))), StreamFilterSend);
    EXPECT_EQ(client.mLagging, 1);
    EXPECT_EQ(lines, Lines{"Bob laggs"});
    EXPECT_EQ(Filter(Message(0x11, U8(2) + U32(3000))), StreamFilterSend);
    EXPECT_EQ(client.mLagging, 0);
    lines.clear();
    Filter(Message(0x10, U8(1) + U8(77) + U32(3000)));
    EXPECT_EQ(lines, Lines{"unknown laggs"});
    lines.clear();
    Filter(Message(0x10, U8(1)));
    EXPECT_EQ(client.mLagging, 1);
    EXPECT_TRUE(lines.empty());
}

// ---------------------------------------------------------------------------------------------------
// The u16 length limit

TEST_F(GameStreamFilterRewrite, AppendedPingsNeverPushAMessagePast65535Bytes)
{
    settings.mAnalyzerFlags = 0xFF;
    // A trigger chat of t text bytes and a reported building: 44 + t bytes.
    auto big = [](uint32_t total) {
        const uint32_t t = total - 44;
        const std::string chat = U8(0x60) + std::string(8, '\x08') + std::string(t, 'x') + U8(0);
        return ActionMsg(Block(1, chat + Ability(0x11, Id4("htow"), 3.0f, 4.0f)));
    };
    client.mGameTime = 60000;
    const std::string fits = big(65519);
    ASSERT_EQ(fits.size(), 65519u);
    Filter(fits);
    ASSERT_EQ(out.size(), 65535u);
    EXPECT_EQ(ReadU16(out, 2), 0xFFFFu);
    EXPECT_EQ(out.substr(65519, 4), Bytes({4, 13, 0, 0x68}));
    EXPECT_EQ(lines, Lines{"Alice builds Town Hall"});

    lines.clear();
    client.mGameTime = 70000;
    const std::string full = big(65520);
    Filter(full);
    EXPECT_FALSE(copied);
    EXPECT_EQ(out, full);
    EXPECT_EQ(lines, Lines{"Alice builds Town Hall"});
}

TEST_F(GameStreamFilterRewrite, PingMoveThatWouldPassTheLimitStaysPut)
{
    settings.mPlayerPing = PingToSystemSender;
    auto big = [](uint32_t total) {
        const uint32_t t = total - 36;
        const std::string chat = U8(0x60) + std::string(8, '\x08') + std::string(t, 'x') + U8(0);
        return ActionMsg(Block(1, chat + U8(0x04) + kPing + U8(0x04)));
    };
    const std::string fits = big(65529);
    ASSERT_EQ(fits.size(), 65529u);
    Filter(fits);
    EXPECT_EQ(out.size(), 65535u);
    EXPECT_EQ(ReadU16(out, 2), 0xFFFFu);
    const std::string over = big(65530);
    Filter(over);
    EXPECT_FALSE(copied);
    EXPECT_EQ(out, over);
}

// ---------------------------------------------------------------------------------------------------
// Isolate and remove on their own

TEST_F(GameStreamFilterRewrite, IsolateAndRemoveKeepTheWalkPositions)
{
    const std::string in = ActionMsg(Block(3, U8(0x04) + Trigger() + U8(0x05)));
    std::vector<uint8_t> stored(in.begin(), in.end());
    uint8_t* data = stored.data();
    uint32_t length = static_cast<uint32_t>(stored.size());
    uint32_t blockStart = 8, pos = 12, blockEnd = 26;
    IsolateAction(data, length, pos, blockEnd, blockStart, 13, 3, stored.data());
    ASSERT_NE(data, stored.data());
    EXPECT_EQ(std::string(in.begin(), in.end()), std::string(stored.begin(), stored.end()));
    EXPECT_EQ(blockStart, 12u);
    EXPECT_EQ(pos, 15u);
    EXPECT_EQ(blockEnd, 28u);
    EXPECT_EQ(length, in.size() + 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, length - 8),
              Block(3, U8(0x04)) + Block(3, Trigger()) + Block(3, U8(0x05)));

    // Removing the isolated action (already alone: no growth) leaves the walk at the next block.
    uint8_t* before = data;
    RemoveAction(data, length, pos, blockEnd, blockStart, 13, 3, stored.data());
    EXPECT_EQ(data, before);
    EXPECT_EQ(blockEnd, 12u);
    EXPECT_EQ(pos + 13, 12u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, length - 8), Block(3, U8(0x04)) + Block(3, U8(0x05)));
    delete[] data;
}

// ---------------------------------------------------------------------------------------------------
// Malformed input: every prefix and single-byte corruptions of messages that use every path

TEST_F(GameStreamFilterRewrite, EveryPrefixAndCorruptionStaysInsideTheMessage)
{
    settings.mAnalyzerFlags = 0xFF;
    settings.mPlayerPing = PingReport | PingToSystemSender;
    settings.mObsPing = PingReport;
    // No sender speaks for a player of these messages (the repair of the senders is not looked at here).
    for (ChatSender& sender : client.mSenders)
        sender.mPlayerId = 1000;
    const std::string rich = ActionMsg(
        Block(1, U8(0x06) + "sv" + U8(0) + Ability(0x11, Id4("htow"), 1, 2) + kPing + U8(0x1A) + U8(0x19) +
                     std::string(12, '\0') + U8(0x16) + U8(1) + U16(1) + std::string(8, '\0')) +
        Block(3, U8(0x04) + Trigger() + U8(0x60) + std::string(8, '\0') + "t" + U8(0) + U8(0x50) + U8(1) + U32(0x40) +
                     U8(0x51) + U8(1) + U32(5) + U32(6)) +
        Block(2, Ability(0x14, Id4("ugol"), 5, 6) + Ability(0x13, 0xD0021) + Ability(0x12, 0xD0003)) +
        Block(4, kPing + Bytes({0x01, 0x02, 0x17, 0x00, 0x00, 0x00})));
    const std::vector<std::string> messages = {rich, Chat(0x28, 1, "text"), Chat(0x0F, 4, "obs text"),
                                               Message(0x07, U8(2) + U32(1)), Message(0x10, U8(1) + U8(2) + U32(1))};
    for (const std::string& m : messages) {
        for (size_t n = 0; n <= m.size(); ++n) {
            client.mGameTime += 7000;
            lines.clear();
            Filter(m.substr(0, n));
            EXPECT_LE(out.size(), 65535u);
        }
    }
    // Corruptions: every byte of the rich message set to a few telling values.
    uint32_t seed = 12345;
    for (size_t i = 2; i < rich.size(); ++i) {
        for (int value : {0x00, 0x0C, 0x16, 0x62, 0x68, 0xFF}) {
            std::string m = rich;
            m[i] = static_cast<char>(value);
            seed = seed * 1103515245u + 12345u;
            client.mGameTime += seed % 10000;
            lines.clear();
            Filter(m);
            if (m[1] == 0x0C && m.size() >= 11) {
                EXPECT_EQ(ReadU16(out, 6), BitCrc32(out.substr(8)) & 0xFFFF) << i << " " << value;
            }
        }
    }
}

} // namespace
