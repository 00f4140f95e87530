// The hosts' 100 ms tick on real timers: hosts offered at different moments tick together, so that idle
// offered games wake the process once per tick, and each of them still ticks ten times a second.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "lanhost/LanFixture.h"
#include "platform/ProgramClock.h"

namespace {

using bcxtest::PumpFor;
using bcxtest::PumpUntil;

TEST(HostTimers, HostsOfferedAtDifferentMomentsShareOneTick)
{
    bcxtest::TestLanClient wc3(0);
    bcxtest::ScopedPumpHook hook([&] { wc3.Poll(); });
    ClientCore* core = lantest::StartCoreOnRealTimers(wc3.UdpPort());
    ASSERT_NE(core, nullptr);
    // Every tick announces the game, so the announcements show when each host ticks.
    core->Settings().mSessionIdleTime = 0;
    // The timer runs on real time; the program clock counts the passes of the loop instead. The test
    // client stamps what it reads with it, so the announcements of one tick carry one stamp and those
    // read in different passes different ones.
    bcx::ProgramClock::SetManual(true);
    bcxtest::ScopedPumpHook passes([] { bcx::ProgramClock::Advance(1); });

    constexpr uint32_t kHosts = 3;
    std::vector<std::unique_ptr<Game>> games;
    std::vector<std::unique_ptr<LanGameHost>> hosts;
    for (uint32_t i = 0; i < kHosts; ++i) {
        games.push_back(lantest::MakeFinishedGame(0x61 + i));
        hosts.push_back(std::make_unique<LanGameHost>(games.back().get()));
        // The next game is offered about a third of a tick later; the outcome does not depend on how long
        // that takes.
        PumpFor(LanGameHost::kTickMs / 3);
    }
    const size_t before = wc3.CreateGames().size();
    const auto announcedSince = [&](uint32_t id) {
        size_t n = 0;
        for (size_t i = before; i < wc3.CreateGames().size(); ++i)
            n += wc3.CreateGames()[i].gameId == id;
        return n;
    };
    // The tick goes on (ten more ticks, with a generous deadline), and no faster than once per 100 ms.
    constexpr int kTicks = 10;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return announcedSince(0x61) >= static_cast<size_t>(kTicks); }, 30000));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
              (kTicks - 1) * LanGameHost::kTickMs);

    // Every pass that read announcements read one of each game: the games ticked together.
    std::map<uint32_t, std::map<uint32_t, size_t>> byPass;
    for (size_t i = before; i < wc3.CreateGames().size(); ++i)
        ++byPass[wc3.CreateGames()[i].arrivalMs][wc3.CreateGames()[i].gameId];
    EXPECT_GE(byPass.size(), static_cast<size_t>(kTicks));
    size_t apart = 0;
    for (const auto& pass : byPass) {
        bool together = pass.second.size() == kHosts;
        for (const auto& game : pass.second)
            together = together && game.second == 1;
        apart += !together;
    }
    EXPECT_EQ(apart, 0u) << "of " << byPass.size() << " passes";

    hosts.clear();
    ASSERT_TRUE(PumpUntil([&] { return wc3.EndGames().size() == kHosts; }));
    LanGameHost::EnableTimers(false);
    lantest::StopCore();
}

} // namespace
