// The paced release of the stored action messages after Warcraft III has loaded the game: the time
// budget and its carry, the speed of a live game, the halt without data and the resume, the end of a
// finished game.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/GameData.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanFixture.h"
#include "platform/ProgramClock.h"

namespace {

using bcxtest::PumpUntil;

class LanReleaseTest : public lantest::HostedGameTest {
protected:
    // Replaces the fixture's data by an empty record.
    void ResetData()
    {
        delete game->mData;
        game->mData = new GameData();
    }
    // Replaces the fixture's data by `count` entries with the given increment (finished or not).
    void SetData(uint32_t count, uint16_t increment, bool finished)
    {
        ResetData();
        for (uint32_t i = 0; i < count; ++i)
            Append(increment);
        if (finished)
            game->mData->Finish();
    }
    // A live game still downloading, with `count` entries of the given increment so far.
    void SetLiveData(uint32_t count, uint16_t increment)
    {
        game->mState = GameStateLive;
        game->mDownloadState = DownloadReceiving;
        SetData(count, increment, false);
    }
    void Append(uint16_t increment)
    {
        const std::string m = lantest::ActionMessage(increment, 1, std::string("\x10\x01", 2));
        game->mData->Append(mDataTime, static_cast<uint32_t>(m.size()), reinterpret_cast<const uint8_t*>(m.data()));
        mDataTime += increment;
    }
    // Ticks once and waits until the test client holds `expected` action messages; then checks that no
    // more came.
    void TickExpecting(size_t expected, uint32_t ms = 100)
    {
        TickHost(ms, 0);
        ASSERT_TRUE(PumpUntil([&] { return wc3.Actions().size() >= expected; })) << expected;
        bcxtest::PumpFor(5);
        ASSERT_EQ(wc3.Actions().size(), expected);
    }
    // Ticks through the steps before the release time (loaded + 500 ms), expecting nothing released.
    void TickToReleaseTime()
    {
        for (int i = 0; i < 5; ++i)
            TickExpecting(0);
    }
    size_t ZeroIncrementMessages() const
    {
        size_t n = 0;
        for (const auto& a : wc3.Actions())
            n += a.increment == 0 && a.raw.size() == 6;
        return n;
    }

    uint32_t mDataTime = 0;
};

TEST_F(LanReleaseTest, BudgetAndCarryAtNormalSpeed)
{
    SetData(40, 30, true);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    TickToReleaseTime();
    // 100 ms per step: entries of 30 ms fit while their increment is below the budget; the rest carries.
    TickExpecting(3);   // 100: 70, 40, 10 left
    EXPECT_EQ(client->mCarriedRemainder, 10u);
    TickExpecting(6);   // 110: 80, 50, 20
    TickExpecting(9);   // 120: 90, 60, 30 (30 does not fit into 30)
    TickExpecting(13);  // 130: 100, 70, 40, 10
    EXPECT_EQ(client->mGameTime, 13u * 30u);
    // An irregular step of 250 ms: 250 + 10 -> eight entries, 20 left.
    TickExpecting(21, 250);
    EXPECT_EQ(client->mCarriedRemainder, 20u);
    for (const auto& a : wc3.Actions())
        EXPECT_EQ(a.checksumResult, bcxtest::ChecksumResult::Ok);
}

TEST_F(LanReleaseTest, LiveGameRunsAtFourTimesSpeedUntilItCatchesUp)
{
    SetLiveData(20, 100);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->mReplaySpeed, 4.0);
    TickToReleaseTime();
    TickExpecting(3);  // 400: 300, 200, 100 left, the fourth waits
    // With new data arriving one entry per step the viewer keeps up; after more than twenty steps that
    // ended at the newest entry the speed goes back to normal.
    bool reset = false;
    for (int i = 0; i < 40 && !reset; ++i) {
        Append(100);
        TickHost();
        reset = client->mReplaySpeed == 1.0;
    }
    EXPECT_TRUE(reset);
    ASSERT_TRUE(PumpUntil([&] { return HasChat("Reset speed to normal."); }));
}

TEST_F(LanReleaseTest, HaltsAfterFifteenEmptyStepsAndResumesWhenDataIsAhead)
{
    SetLiveData(2, 100);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(TickUntil([&] { return client->mReplaySpeed == 0.0; }, 60));
    ASSERT_TRUE(PumpUntil([&] { return HasChat("Game halted due to lack of data from server."); }));
    EXPECT_EQ(client->mEmptySteps, -1);
    // While halted: zero-increment keep-alives, no repeated halt line.
    const size_t zeros = ZeroIncrementMessages();
    for (int i = 0; i < 5; ++i)
        TickHost();
    ASSERT_TRUE(PumpUntil([&] { return ZeroIncrementMessages() >= zeros + 5; }));
    EXPECT_EQ(CountChat("Game halted due to lack of data from server."), 1u);
    // Less than 5 s of data ahead: still halted.
    for (int i = 0; i < 40; ++i)
        Append(100);
    TickHost();
    EXPECT_EQ(client->mReplaySpeed, 0.0);
    for (int i = 0; i < 20; ++i)
        Append(100);
    TickHost();
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return HasChat("Game data available, resuming game..."); }));
    // The status line follows at the next pump.
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("Game time 00:00 (cached 00:") > 0; }));
}

TEST_F(LanReleaseTest, HaltedGameResumesWhenTheDownloadFinishesAndEndsAfterTheLastEntry)
{
    SetLiveData(3, 100);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    const uint32_t id = client->GetConnectionId();
    ASSERT_TRUE(TickUntil([&] { return client->mReplaySpeed == 0.0; }, 60));
    // The live game ends with less than 5 s of data left: the finished download resumes the game.
    Append(100);
    Append(100);
    game->mData->Finish();
    TickHost();
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    ASSERT_TRUE(TickUntil([&] { return wc3.HostClosed(); }, 30));
    // Warcraft III closes its side at the end of the stream; then the host lets the client go.
    ASSERT_TRUE(PumpUntil([&] { return host->FindClient(id) == nullptr; }));
    size_t released = 0;
    for (const auto& a : wc3.Actions())
        released += a.increment == 100;
    EXPECT_EQ(released, 5u);
    EXPECT_EQ(wc3.ClosedAtSeq(), wc3.Frames().size());
}

TEST_F(LanReleaseTest, EveryEntryOfALongFinishedGameArrivesOnceAndInOrderBeforeTheEnd)
{
    // Entries carry their index in the action bytes; large enough in total to need the send queue.
    ResetData();
    const uint32_t count = 3000;
    for (uint32_t i = 0; i < count; ++i) {
        std::string actions(400, '\x10');
        actions[1] = static_cast<char>(i & 0xFF);
        actions[2] = static_cast<char>(i >> 8);
        const std::string m = lantest::ActionMessage(static_cast<uint16_t>(i % 3 == 0 ? 0 : 40), 1, actions);
        game->mData->Append(i * 40, static_cast<uint32_t>(m.size()), reinterpret_cast<const uint8_t*>(m.data()));
    }
    game->mData->Finish();
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    const uint32_t id = client->GetConnectionId();
    client->mReplaySpeed = 1000.0;  // everything within a few steps
    // Released to the end: the stream is ended once the send queue is empty ...
    ASSERT_TRUE(TickUntil([&] {
        const LanClient* c = host->FindClient(id);
        return !c || c->mClosing == 2;
    }, 100));
    // ... and the test client reads everything up to the end of the stream.
    ASSERT_TRUE(PumpUntil([&] { return wc3.HostClosed(); }, 30000));
    ASSERT_EQ(wc3.Actions().size(), count) << wc3.Error();
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(wc3.Actions()[i].blocks.size(), 1u);
        const std::string& a = wc3.Actions()[i].blocks[0].actions;
        EXPECT_EQ(static_cast<uint8_t>(a[1]) | static_cast<uint8_t>(a[2]) << 8, static_cast<int>(i));
    }
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}

int gFiltered = 0;

// Message 2 becomes observer chat, message 3 is replaced by a copy with another action byte and adds a
// wizard line, message 4 is dropped; the rest pass.
int TestFilter(ActionAnalyzerSet*, const uint8_t*& data, uint32_t& length, std::vector<std::string>& lines)
{
    ++gFiltered;
    if (gFiltered == 2) {
        lines.push_back("observer says hi");
        return 1;
    }
    if (gFiltered == 3) {
        auto* copy = new uint8_t[length];
        std::memcpy(copy, data, length);
        copy[length - 1] = 0x77;
        data = copy;
        lines.push_back("wizard note");
        return 0;
    }
    if (gFiltered == 4)
        return 2;
    return 0;
}

TEST_F(LanReleaseTest, FilteredMessagesChatLinesAndReplacements)
{
    SetData(6, 10, true);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    client->mSenders[ChatSenderObserver] = {5, "[Obs] "};
    client->mSenders[ChatSenderWizard] = {6, ""};
    LanGameHost::SetStreamFilter(TestFilter);
    ASSERT_TRUE(TickUntil([&] { return wc3.HostClosed(); }, 40));
    LanGameHost::SetStreamFilter(nullptr);
    EXPECT_EQ(gFiltered, 6);
    ASSERT_EQ(wc3.Actions().size(), 4u);
    EXPECT_EQ(static_cast<uint8_t>(wc3.Actions()[1].raw.back()), 0x77);
    bool observer = false, wizard = false;
    for (const auto& chat : wc3.Chats()) {
        observer |= chat.text == "[Obs]          observer says hi" && chat.sender == 5 && chat.flag == 0x20;
        wizard |= chat.text == " <<wizard note >>" && chat.sender == 6;
    }
    EXPECT_TRUE(observer);
    EXPECT_TRUE(wizard);
    EXPECT_TRUE(log.Contains("[free]:"));
}

} // namespace
