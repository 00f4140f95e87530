// The hosts' 100 ms tick on real timers: hosts offered at different moments tick together, so that idle
// offered games wake the process once per tick, and each of them still ticks ten times a second.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "lanhost/LanFixture.h"

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

    constexpr uint32_t kHosts = 3;
    std::vector<std::unique_ptr<Game>> games;
    std::vector<std::unique_ptr<LanGameHost>> hosts;
    for (uint32_t i = 0; i < kHosts; ++i) {
        games.push_back(lantest::MakeFinishedGame(0x61 + i));
        hosts.push_back(std::make_unique<LanGameHost>(games.back().get()));
        PumpFor(35);  // the next game is offered a third of a tick later
    }
    const size_t before = wc3.CreateGames().size();
    const auto start = std::chrono::steady_clock::now();
    PumpFor(1000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Arrival stamps of each game's announcements in the measured second.
    std::map<uint32_t, std::vector<uint32_t>> stamps;
    for (size_t i = before; i < wc3.CreateGames().size(); ++i)
        stamps[wc3.CreateGames()[i].gameId].push_back(wc3.CreateGames()[i].arrivalMs);
    ASSERT_EQ(stamps.size(), kHosts);
    for (const auto& game : stamps) {
        EXPECT_GE(game.second.size(), 5u) << "game " << game.first << " ticked too rarely";
        EXPECT_LE(static_cast<double>(game.second.size()), 10 * seconds + 2) << "game " << game.first;
    }
    // Each announcement of the later games arrives with one of the first game's.
    const std::vector<uint32_t>& first = stamps[0x61];
    size_t together = 0, total = 0;
    for (uint32_t id = 0x62; id < 0x61 + kHosts; ++id) {
        for (uint32_t t : stamps[id]) {
            ++total;
            for (uint32_t f : first)
                if (std::abs(static_cast<int64_t>(t) - static_cast<int64_t>(f)) <= 3) {
                    ++together;
                    break;
                }
        }
    }
    EXPECT_GE(together * 10, total * 8) << together << " of " << total << " announcements in a shared tick";

    hosts.clear();
    ASSERT_TRUE(PumpUntil([&] { return wc3.EndGames().size() == kHosts; }));
    LanGameHost::EnableTimers(false);
    lantest::StopCore();
}

} // namespace
