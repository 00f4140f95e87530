// Malformed and unusual input from a joined Warcraft III, the packet dump, the day-time sync and shift of
// the pump, the re-decision a host without viewers asks for, and a smoke run on the real timers.

#include <string>

#include <gtest/gtest.h>

#include "core/Packet.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanFixture.h"
#include "peers/LanWire.h"
#include "platform/ProgramClock.h"

namespace {

using bcxtest::MapReply;
using bcxtest::PumpUntil;
namespace lan = bcxtest::lan;

class LanHostInputTest : public lantest::HostedGameTest {};

TEST_F(LanHostInputTest, MalformedMessagesAreIgnoredAndTheConnectionStays)
{
    wc3.SetMapReply(MapReply::Off);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !wc3.Chats().empty(); }));
    const size_t chats = wc3.Chats().size();
    // Chat without its NUL, chat cut inside the recipients, a map reply without its size, a ping answer
    // without its time, an unknown id, a header only.
    wc3.SendFrame(0x28, std::string("\x01\x01\x03\x10no nul", 10));
    wc3.SendFrame(0x28, std::string("\x09\x01", 2));
    wc3.SendFrame(0x42, std::string("\x01\x00\x00\x00\x01", 5));
    wc3.SendFrame(0x46, std::string("\x01", 1));
    wc3.SendFrame(0x99, std::string("xyz"));
    wc3.SendFrame(0x26, std::string());
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("unknown packet: 153"); }));
    bcxtest::PumpFor(20);
    EXPECT_EQ(host->Clients().Size(), 1u);
    EXPECT_FALSE(wc3.HostClosed());
    // No chat line came of the broken chats.
    EXPECT_EQ(wc3.Chats().size(), chats);
    // A map reply without its size neither validates the map nor reports it missing.
    EXPECT_FALSE(log.Contains("validated the map"));
    EXPECT_FALSE(log.Contains("not found!"));
    EXPECT_FALSE(client->mMapValidated);
    // A broken frame header afterwards closes the connection.
    wc3.SendRaw(std::string("\xF7\x28\x02\x00", 4));
    ASSERT_TRUE(PumpUntil([&] { return host->Clients().Empty(); }));
    EXPECT_TRUE(log.Contains("Disconnected, broken packet"));
}

TEST_F(LanHostInputTest, LobbyChatWithoutCommandsGetsTheNotices)
{
    wc3.SetMapReply(MapReply::Off);
    ASSERT_NE(JoinAndAttach(), nullptr);
    wc3.SendChat("hello there");
    wc3.SendChat("/NoSuchThing   arg");
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("[BCX]\"nosuchthing\" is not a valid command") == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("[BCX]No chat interface to talk to") == 1; }));
}

TEST_F(LanHostInputTest, RegisteredCommandsRunThroughTheAliasMap)
{
    static std::string seen;
    ChatCommands()["testcmd"] = [](LanClient*, std::string args, bool showUsage) {
        seen = args + (showUsage ? "!" : "");
    };
    ChatCommands()["broken"] = nullptr;
    ChatAliases()["tc"] = "testcmd";
    wc3.SetMapReply(MapReply::Off);
    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    client->ExecuteChatLine("/TC   two words");
    EXPECT_EQ(seen, "  two words");
    client->ExecuteChatLine("/testcmd\t");
    EXPECT_EQ(seen, "");
    client->ExecuteChatLine("/broken");
    client->ExecuteChatLine(" /testcmd x");
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("[BCX]\"broken\" is a broken command") == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("[BCX]No chat interface to talk to") == 1; }));
    ChatCommands().erase("testcmd");
    ChatCommands().erase("broken");
    ChatAliases().erase("tc");
}

TEST(PacketDump, OneLineWithHexAndCharacters)
{
    warPacket p;
    p.WriteHeader(0x28);
    const std::string text = "Hi\x01\xC8 there, long text!";
    p.Write(text.data(), static_cast<uint32_t>(text.size()));
    p.UpdateLength();
    const wxString dump = PacketHexDump(p, 1024);
    EXPECT_TRUE(dump.StartsWith(wxS("Packet: ")));
    EXPECT_NE(dump.Find(wxS(", Type: 40(0x28), Length: 26, Data: F7 28 1A 00 48 69 01 C8")), wxNOT_FOUND) << dump;
    // Sixteen bytes, then a blank in both columns; control and high bytes as dots.
    EXPECT_NE(dump.Find(wxS(" \".(..Hi.. there,  long text!\"")), wxNOT_FOUND) << dump;
    const wxString cut = PacketHexDump(p, 4);
    EXPECT_TRUE(cut.EndsWith(wxS(" F7 28 1A 00 \".(..\" [22 bytes truncated]"))) << cut;
}

TEST_F(LanHostInputTest, VerboseDumpsEveryMessageReceived)
{
    core->Settings().mVerbose = 0x200 | 0x1;
    wc3.SetMapReply(MapReply::Off);
    ASSERT_NE(JoinAndAttach(), nullptr);
    wc3.SendKeepAlive();
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("Recv: Packet: "); }));
    EXPECT_TRUE(log.Contains("Send SlotInfos"));
    EXPECT_TRUE(log.Contains("Send MapInfos"));
}

class SyncTest : public LanHostInputTest {
protected:
    LanClient* Loaded()
    {
        game->mState = GameStateLive;
        game->mDownloadState = DownloadReceiving;
        delete game->mData;
        game->mData = new GameData();
        for (uint32_t i = 0; i < 600; ++i) {
            const std::string m = lantest::ActionMessage(100, 1, std::string("\x10\x01", 2));
            game->mData->Append(i * 100, static_cast<uint32_t>(m.size()), reinterpret_cast<const uint8_t*>(m.data()));
        }
        LanClient* client = JoinAndLoad();
        if (!client)
            return nullptr;
        for (int i = 0; i < 6; ++i)
            TickHost();
        client->mReplaySpeed = 1.0;
        return client;
    }
    void StartSync(LanClient* client, int32_t target, uint8_t mode)
    {
        client->mSyncReference = bcx::ProgramClock::Now();
        client->mSyncTarget = target;
        client->mSyncDirection = 0;
        client->mSyncMode = mode;
        client->mSyncSpeed = client->mReplaySpeed;
    }
};

TEST_F(SyncTest, SyncToTheCurrentMinuteCompletesAtOnce)
{
    LanClient* client = Loaded();
    ASSERT_NE(client, nullptr);
    const int32_t now = static_cast<int32_t>(GameClockMinutes(client, 0, -1));
    StartSync(client, now, 1);
    TickHost();
    EXPECT_EQ(client->mSyncReference, 0u);
    EXPECT_EQ(client->mReplaySpeed, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("Synchronising completed!") == 1; }));
}

TEST_F(SyncTest, SyncFarBehindPausesTheGameInsteadOfCompleting)
{
    LanClient* client = Loaded();
    ASSERT_NE(client, nullptr);
    const int32_t now = static_cast<int32_t>(GameClockMinutes(client, 0, -1));
    // 1100 minutes ahead is 340 minutes back: the game pauses.
    StartSync(client, (now + 1100) % 1440, 1);
    TickHost();
    EXPECT_EQ(client->mSyncDirection, -1);
    EXPECT_EQ(client->mReplaySpeed, 0.0);
    EXPECT_NE(client->mSyncReference, 0u);
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("Synchronising... (pausing game about ") == 1; }));
    for (int i = 0; i < 5; ++i)
        TickHost();
    EXPECT_EQ(client->mReplaySpeed, 0.0);
    EXPECT_EQ(CountChatStartingWith("Synchronising completed!"), 0u);
}

TEST_F(SyncTest, ShiftForwardRunsFastThenCompletes)
{
    LanClient* client = Loaded();
    ASSERT_NE(client, nullptr);
    StartSync(client, 3000, 0);  // 3 s ahead: 1 s at four times the speed
    TickHost();
    EXPECT_EQ(client->mReplaySpeed, 4.0);
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("Shifting... (speeding up about 1sec)") == 1; }));
    ASSERT_TRUE(TickUntil([&] { return client->mReplaySpeed == 1.0; }, 20));
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("Shifting completed!") == 1; }));
    // A status line follows.
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return CountChatStartingWith("Game time ") == 1; }));
}

TEST_F(SyncTest, ASpeedSetByTheViewerEndsASyncWithoutCompletion)
{
    LanClient* client = Loaded();
    ASSERT_NE(client, nullptr);
    StartSync(client, 10000, 0);
    TickHost();
    ASSERT_EQ(client->mReplaySpeed, 4.0);
    client->mReplaySpeed = 2.0;  // as /speed does
    TickHost();
    EXPECT_EQ(client->mSyncReference, 0u);
    EXPECT_EQ(client->mReplaySpeed, 2.0);
    bcxtest::PumpFor(20);
    EXPECT_EQ(CountChatStartingWith("Shifting completed!"), 0u);
}

TEST(HostRegistry, AHostWithoutViewersAsksTheRegistryToDecideAgain)
{
    bcxtest::TestLanClient wc3(0);
    ClientCore* core = lantest::StartCore(wc3.UdpPort());
    ASSERT_NE(core, nullptr);
    core->SetSessionFactory(LanGameHost::Factory);
    Game* older = lantest::MakeFinishedGame(1, "Older").release();
    older->mStartTime = 10;
    Game* newer = lantest::MakeFinishedGame(2, "Newer").release();
    newer->mStartTime = 20;
    ASSERT_TRUE(core->AddGame(older));
    ASSERT_TRUE(core->AddGame(newer));
    core->AddSession(older);  // not the offer the registry would choose
    auto* host = dynamic_cast<LanGameHost*>(core->GetSession(1));
    ASSERT_NE(host, nullptr);
    host->Tick();
    // The tick posted 1001; the registry's decision withdraws the host and offers the newest game.
    ASSERT_TRUE(PumpUntil([&] { return core->GetSession(1) == nullptr; }));
    EXPECT_NE(core->GetSession(2), nullptr);
    lantest::StopCore();
}

TEST(HostTimers, RealTimersAnnounceAndPumpWithoutHelp)
{
    bcxtest::TestLanClient wc3(0);
    bcxtest::ScopedPumpHook hook([&] { wc3.Poll(); });
    ClientCore* core = lantest::StartCoreOnRealTimers(wc3.UdpPort());
    ASSERT_NE(core, nullptr);
    auto game = lantest::MakeFinishedGame(0x51);
    {
        LanGameHost host(game.get());
        // The clock runs on its own now; the first announcement comes once SessionIdleTime has passed
        // since the (program) start, so shorten it.
        core->Settings().mSessionIdleTime = 0;
        ASSERT_TRUE(PumpUntil([&] { return wc3.CreateGames().size() >= 2; }, 5000));
    }
    ASSERT_TRUE(PumpUntil([&] { return wc3.EndGames().size() == 1; }));
    LanGameHost::EnableTimers(false);
    lantest::StopCore();
}

} // namespace
