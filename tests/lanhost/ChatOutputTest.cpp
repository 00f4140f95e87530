// Chat output: the W3GS chat message, the decorated system and IRC lines as a joined Warcraft III gets
// them, the choice of the sending player, the slot descriptions and the game-day clock.

#include <string>

#include <gtest/gtest.h>

#include "core/Packet.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanFixture.h"
#include "platform/TextCodec.h"

namespace {

using bcxtest::PumpUntil;

std::string Raw(const warPacket& p)
{
    return std::string(reinterpret_cast<const char*>(p.Data()), p.Size());
}

uint16_t LengthField(const warPacket& p)
{
    return static_cast<uint16_t>(p.Data()[2] | p.Data()[3] << 8);
}

TEST(ChatPacket, LobbyAndInGameFormsWithTheirCuts)
{
    warPacket lobby;
    BuildChatPacket(lobby, std::string(300, 'a'), 0, 5);
    EXPECT_EQ(LengthField(lobby), 249);
    ASSERT_EQ(lobby.Size(), 249u);
    EXPECT_EQ(Raw(lobby).substr(0, 8), std::string("\xF7\x0F\xF9\x00\x01\xFF\x05\x10", 8));
    EXPECT_EQ(Raw(lobby).substr(8), std::string(240, 'a') + '\0');

    warPacket game;
    BuildChatPacket(game, std::string(200, 'b'), 1, 7);
    EXPECT_EQ(LengthField(game), 140);
    ASSERT_EQ(game.Size(), 140u);
    EXPECT_EQ(Raw(game).substr(0, 12), std::string("\xF7\x0F\x8C\x00\x01\xFF\x07\x20\x00\x00\x00\x00", 12));
    EXPECT_EQ(Raw(game).substr(12), std::string(127, 'b') + '\0');

    // Any non-zero in-game flag selects the in-game form; short texts are not cut.
    warPacket shortText;
    BuildChatPacket(shortText, "hi", 2, 1);
    EXPECT_EQ(LengthField(shortText), 15);
}

TEST(ChatPacket, CutsCountGbkBytes)
{
    // 100 Chinese characters: 200 GBK bytes. The cut keeps the first 127 / 240 bytes of the GBK text.
    wxString text;
    for (int i = 0; i < 100; ++i)
        text += wxS("中");
    const std::string gbk = bcx::ToGbk(text);
    ASSERT_EQ(gbk.size(), 200u);
    warPacket game;
    BuildChatPacket(game, gbk, 1, 1);
    EXPECT_EQ(LengthField(game), 13 + 127);
    EXPECT_EQ(Raw(game).substr(12, 127), gbk.substr(0, 127));
    warPacket lobby;
    BuildChatPacket(lobby, gbk + gbk, 0, 1);
    EXPECT_EQ(LengthField(lobby), 9 + 240);
    EXPECT_EQ(Raw(lobby).substr(8, 240), (gbk + gbk).substr(0, 240));
}

class ChatOutputTest : public lantest::HostedGameTest {
protected:
    const bcxtest::LanChat* LastChat() const { return wc3.Chats().empty() ? nullptr : &wc3.Chats().back(); }
};

TEST_F(ChatOutputTest, SystemLinesInTheLobbyAndInTheGame)
{
    wc3.SetMapReply(bcxtest::MapReply::Off);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !wc3.Chats().empty(); }));  // the welcome line
    const size_t before = wc3.Chats().size();

    core->Settings().mChatPrompts[ChatPromptBcx] = "ABC";
    SendSystemMessage(client, std::string());
    SendSystemMessage(client, std::string("100% sure"));
    ASSERT_TRUE(PumpUntil([&] { return wc3.Chats().size() == before + 2; }));
    const bcxtest::LanChat& empty = wc3.Chats()[before];
    EXPECT_EQ(empty.text, "[ABC]");
    EXPECT_EQ(empty.flag, 0x10);
    EXPECT_EQ(empty.sender, 1);
    EXPECT_EQ(wc3.Frames()[empty.seq].raw.size(), 14u);
    EXPECT_EQ(wc3.Chats()[before + 1].text, "[ABC]100% sure");
    EXPECT_TRUE(log.Contains("Send system msg: '100% sure'"));

    // In the game: sender prefix + PromptBcxPrefix + line + PromptBcxPostfix, from the system sender.
    client->mLoaded = 1;
    client->mSenders[ChatSenderSystem] = {9, "[BCX] "};
    core->Settings().mChatPromptPrefixes[ChatPromptBcx] = "<<";
    core->Settings().mChatPromptPostfixes[ChatPromptBcx] = ">>";
    SendSystemMessage(client, wxString(wxS("状态")));
    ASSERT_TRUE(PumpUntil([&] { return wc3.Chats().size() == before + 3; }));
    const bcxtest::LanChat& inGame = wc3.Chats().back();
    EXPECT_EQ(inGame.text, "[BCX] <<" + bcx::ToGbk(wxS("状态")) + ">>");
    EXPECT_EQ(inGame.flag, 0x20);
    EXPECT_TRUE(inGame.hasExtra);
    EXPECT_EQ(inGame.sender, 9);

    // IRC lines: the IRC sender and prompts; not logged.
    client->mSenders[ChatSenderIrc] = {6, ""};
    core->Settings().mChatPromptPrefixes[ChatPromptIrc] = "irc: ";
    log.Clear();
    ForwardLineToGame(client, std::string("from the channel"));
    ASSERT_TRUE(PumpUntil([&] { return wc3.Chats().size() == before + 4; }));
    EXPECT_EQ(wc3.Chats().back().text, "irc: from the channel");
    EXPECT_EQ(wc3.Chats().back().sender, 6);
    EXPECT_FALSE(log.Contains("Send system msg"));
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}

TEST_F(ChatOutputTest, DecoratedLinesAreCutInTheGameAndInTheLobby)
{
    wc3.SetMapReply(bcxtest::MapReply::Off);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !wc3.Chats().empty(); }));
    const size_t before = wc3.Chats().size();
    wxString line;
    for (int i = 0; i < 150; ++i)
        line += wxS("汉");
    SendSystemMessage(client, line);
    client->mLoaded = 1;
    SendSystemMessage(client, line);
    ASSERT_TRUE(PumpUntil([&] { return wc3.Chats().size() == before + 2; }));
    const std::string gbk = bcx::ToGbk(line);
    EXPECT_EQ(wc3.Chats()[before].text, ("[BCX]" + gbk).substr(0, 240));
    EXPECT_EQ(wc3.Chats()[before + 1].text, gbk.substr(0, 127));
}

TEST_F(ChatOutputTest, AClientWithoutSocketReceivesNothing)
{
    LanClient loose;
    SendSystemMessage(&loose, std::string("nobody hears this"));
    ForwardLineToGame(&loose, std::string("nor this"));
    EXPECT_FALSE(log.Contains("nobody hears this"));
    EXPECT_FALSE(loose.SendFailed());
}

TEST_F(ChatOutputTest, OtherPlayerChoiceSkipsTheViewPlayerAndPlayersWhoLeft)
{
    GameDetails& d = *game->mDetails;
    // Observers 3 (view player) and 4.
    EXPECT_EQ(d.CountObserverSlots(), 2u);
    EXPECT_EQ(d.GetOtherPlayer(0), 4u);
    // No observer at index 1: the first playing human.
    EXPECT_EQ(d.GetOtherPlayer(1), 1u);
    // Observer 4 left: the first playing human speaks.
    d.mPlayers[4].mLeaveTime = 5000;
    EXPECT_EQ(d.GetOtherPlayer(0), 1u);
    // ... and when that player left too, the next one who is still there.
    d.mPlayers[1].mLeaveTime = 7000;
    EXPECT_EQ(d.GetOtherPlayer(0), 2u);
    d.mPlayers[2].mLeaveTime = 8000;
    EXPECT_EQ(d.GetOtherPlayer(0), 0u);
}

TEST_F(ChatOutputTest, SendersFollowTheSystemSenderWhenItsPlayerLeaves)
{
    LanClient client;
    client.mGame = game.get();
    for (ChatSender& sender : client.mSenders)
        sender = {4, "[x] "};
    client.mSenders[ChatSenderWizard].mPlayerId = 2;
    game->mDetails->mPlayers[4].mLeaveTime = 1000;
    EXPECT_TRUE(OnPlayerLeft(&client, 4));
    EXPECT_EQ(client.mSenders[ChatSenderSystem].mPlayerId, 1u);
    EXPECT_EQ(client.mSenders[ChatSenderSystem].mPrefix, "[BCX]");
    EXPECT_EQ(client.mSenders[ChatSenderObserver].mPlayerId, 1u);
    EXPECT_EQ(client.mSenders[ChatSenderObserver].mPrefix, "[Obs]");
    EXPECT_EQ(client.mSenders[ChatSenderIrc].mPlayerId, 1u);
    EXPECT_EQ(client.mSenders[ChatSenderWizard].mPlayerId, 2u);
    EXPECT_EQ(client.mSenders[ChatSenderWizard].mPrefix, "[x] ");
}

TEST(ChatOutput, NewClientSendersAllStartAtPlayerOne)
{
    LanClient client;
    for (const ChatSender& sender : client.mSenders) {
        EXPECT_EQ(sender.mPlayerId, 1u);
        EXPECT_TRUE(sender.mPrefix.empty());
    }
}

TEST(ChatOutput, SlotDescriptions)
{
    SlotRecord slot;
    EXPECT_EQ(DescribeSlot(slot), wxS("<未使用>"));
    slot.mValid = 1;
    slot.mStatus = kSlotStatusOpen;
    EXPECT_EQ(DescribeSlot(slot), wxS("<空闲>"));
    slot.mStatus = kSlotStatusClosed;
    EXPECT_EQ(DescribeSlot(slot), wxS("<已关闭>"));
    slot.mStatus = kSlotStatusUsed;
    slot.mComputer = 1;
    slot.mComputerLevel = 0;
    EXPECT_EQ(DescribeSlot(slot), wxS("电脑 (简单)"));
    slot.mComputerLevel = 1;
    EXPECT_EQ(DescribeSlot(slot), wxS("电脑 (中等)"));
    slot.mComputerLevel = 2;
    EXPECT_EQ(DescribeSlot(slot), wxS("电脑 (疯狂)"));
    slot.mComputerLevel = 3;
    EXPECT_TRUE(DescribeSlot(slot).empty());
    slot.mComputer = 0;
    slot.mPlayerId = 2;
    EXPECT_TRUE(DescribeSlot(slot).empty());
}

TEST(ChatOutput, GameClockMinutes)
{
    LanClient client;
    EXPECT_EQ(GameClockMinutes(&client, 0, 0), 480u);
    EXPECT_EQ(GameClockMinutes(&client, 0, 100000), 779u);
    EXPECT_EQ(GameClockMinutes(&client, 60000, 40000), 779u);
    // Time -1: the current game time, or the pause start when the game is paused.
    client.mGameTime = 100000;
    EXPECT_EQ(GameClockMinutes(&client, 0, -1), 779u);
    client.mPauseStartGameTime = 1;
    EXPECT_EQ(GameClockMinutes(&client, 0, -1), 480u);
    // The day wraps after 1440 minutes (a game day is about 8 real minutes).
    const uint32_t day = 480808;  // truncate(480808 * 2.9947) / 1000 = 1439
    EXPECT_EQ(GameClockMinutes(&client, 0, static_cast<int32_t>(day)), (1439u + 480u) % 1440u);
}

} // namespace
