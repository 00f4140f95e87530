// A live game from the test relay server to the test LAN client through the whole product: the relay
// session keeps the game, the registry offers it, the host answers the search, the test client joins,
// the lobby runs, and the paced release hands over every entry exactly once and in order while the relay
// keeps sending, until the game ends and the connection closes.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "lanhost/LanFixture.h"
#include "peers/TestRelayServer.h"
#include "platform/ProgramClock.h"
#include "support/WxLoopback.h"

namespace {

using bcxtest::PumpUntil;
using bcxtest::TestRelayServer;

TEST(LanLiveGame, EveryEntryOfALiveGameIsReleasedOnceAndInOrder)
{
    bcxtest::LogCapture log;
    bcxtest::TestLanClient wc3(0);
    ASSERT_TRUE(wc3.Ok());
    TestRelayServer relay;
    ASSERT_TRUE(relay.Start());
    const uint32_t id = 0x2001;
    relay.AddGame(TestRelayServer::MakeLive1v1(id, 40));
    bcxtest::ScopedPumpHook hook([&] {
        relay.Poll();
        wc3.Poll();
    });

    ClientCore* core = lantest::StartCore(wc3.UdpPort());
    ASSERT_NE(core, nullptr);
    core->Settings().mUserName = "tester";
    core->Settings().mPassword = "secret";
    core->SetSessionFactory(LanGameHost::Factory);
    {
        LanListener listener;
        wxIPV4address loopback = bcxtest::LoopbackWxAddress();
        ASSERT_TRUE(listener.BindSessionPort(0, &loopback));

        core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
        // Logged on, the game listed, its info received: the registry offers the live game.
        ASSERT_TRUE(PumpUntil([&] { return core->GetSession(id) != nullptr; }, 10000));
        auto* host = dynamic_cast<LanGameHost*>(core->GetSession(id));
        ASSERT_NE(host, nullptr);

        ASSERT_TRUE(wc3.SendSearch(core->DatagramLocalPort(), id));
        ASSERT_TRUE(PumpUntil([&] {
            listener.PollSearches();
            return wc3.FindGame(id) != nullptr;
        }));
        const bcxtest::LanGameInfo* info = wc3.FindGame(id);
        EXPECT_TRUE(info->live);
        EXPECT_EQ(info->sessionPort, listener.SessionPort());
        ASSERT_TRUE(wc3.JoinGame(*info));
        ASSERT_TRUE(PumpUntil([&] { return host->HasClient(); }));

        auto tick = [&] {
            bcx::ProgramClock::Advance(LanGameHost::kTickMs);
            host->Tick();
            bcxtest::PumpFor(3);
        };
        // Details, lobby, map check, QuickStart, countdown, loaded.
        for (int i = 0; i < 300 && !wc3.Loaded(); ++i)
            tick();
        ASSERT_TRUE(wc3.Loaded());

        // The relay keeps sending ten entries every half second, 300 more, then the game ends.
        size_t appended = 0;
        for (int i = 0; i < 2000 && !wc3.HostClosed(); ++i) {
            if (i % 5 == 0 && appended < 300) {
                relay.AppendDefaultEntries(id, 10);
                appended += 10;
                if (appended == 300)
                    relay.Finish(id);
            }
            tick();
        }
        ASSERT_TRUE(wc3.HostClosed());
    }
    const size_t total = 40 + 300;
    ASSERT_EQ(wc3.Actions().size(), total);
    for (size_t k = 0; k < total; ++k) {
        const std::string expected = TestRelayServer::MakeActionEntry(static_cast<uint32_t>(k * 100), 100,
                                                                      static_cast<uint32_t>(k)).bytes;
        ASSERT_EQ(wc3.Actions()[k].raw, expected) << k;
        EXPECT_NE(wc3.Actions()[k].checksumResult, bcxtest::ChecksumResult::Bad) << k;
    }
    EXPECT_EQ(wc3.GameTimeMs(), total * 100);
    EXPECT_TRUE(wc3.ProtocolErrors().empty()) << wc3.ProtocolErrors()[0];
    lantest::StopCore();
}

} // namespace
