// The stream filter in the host's release: a joined Warcraft III (the test LAN client) gets the action
// messages as the filter rewrote them, with right checksums, and the filter's lines as wizard chat.

#include <string>

#include <gtest/gtest.h>

#include "core/GameData.h"
#include "lanhost/GameStreamFilterTestSupport.h"
#include "lanhost/LanFixture.h"
#include "support/Pump.h"

namespace {

using namespace filtertest;
using bcxtest::PumpUntil;

class GameStreamFilterHost : public lantest::HostedGameTest {
protected:
    void SetData(const std::vector<std::string>& messages)
    {
        delete game->mData;
        game->mData = new GameData();
        uint32_t time = 0;
        for (const std::string& m : messages) {
            game->mData->Append(time, static_cast<uint32_t>(m.size()), reinterpret_cast<const uint8_t*>(m.data()));
            time += 100;
        }
        game->mData->Finish();
    }

};

TEST_F(GameStreamFilterHost, ReleasedMessagesPassTheFilter)
{
    // The fixture's core turns the filter off; the product's filter goes back in.
    LanGameHost::SetStreamFilter(&FilterGamePacket);
    core->Settings().mPlayerPing = PingReport | PingToSystemSender;

    const std::string ping = Ping(10.0f, 20.0f);
    // Player 1 ("Alpha") pings in the middle of a block; a message with a wrong checksum; the view
    // player's scenario trigger (player 3, "Streamer").
    SetData({ActionMsg(Block(1, Bytes({0x03, 0x01}) + ping + U8(0x04))),
             ActionMsg(Block(2, U8(0x04)), 100, 0x0BAD),
             ActionMsg(Block(3, Trigger()) + Block(2, U8(0x05)))});

    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return client->mStartRequested != 0; }));
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return client->mLoaded != 0; }));
    // The senders were chosen when the lobby was completed; the client goes once the game has ended.
    const uint8_t system = static_cast<uint8_t>(client->mSenders[ChatSenderSystem].mPlayerId);
    client = nullptr;
    ASSERT_TRUE(TickUntil([&] { return wc3.Actions().size() >= 3 && HasChatWith("MapPing by Alpha"); }));

    const auto& actions = wc3.Actions();
    ASSERT_EQ(actions.size(), 3u);
    for (const auto& a : actions) {
        EXPECT_EQ(a.checksumResult, bcxtest::ChecksumResult::Ok);
        EXPECT_TRUE(a.blocksOk);
    }
    EXPECT_EQ(actions[0].raw, ActionMsg(Block(1, Bytes({0x03, 0x01})) + Block(system, ping) + Block(1, U8(0x04))));
    EXPECT_EQ(actions[1].raw, ActionMsg(Block(2, U8(0x04))));
    EXPECT_EQ(actions[2].raw, ActionMsg(Block(2, U8(0x05))));
    EXPECT_TRUE(log.Contains("[CHECKSUM ERROR]: org=0x0BAD"));
}

} // namespace
