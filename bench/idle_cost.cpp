// Idle cost: what ten offered games cost the process while no Warcraft III has joined any of them.
//
// The client core offers ten live games (each with its game information, so each gets a LAN game host
// from the session factory, as in the program); they are offered one after another, some tens of
// milliseconds apart, as games come in from the relay. The session-port listener is bound on loopback
// with its LAN-search poll running, as the games list page has it. LAN announcements go to a UDP socket
// of this program on loopback, read only at the end (to check that the hosts announced).
//
// Then the toolkit's event loop runs on real timers for the measured time (30 s by default, the first
// argument changes it) and nothing else happens. Printed, median of three runs (each a fresh process):
// the process's CPU time as a share of one core, and its wake-ups per second (voluntary context
// switches: each is one sleep of the event loop that something ended), with the goal.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <wx/evtloop.h>
#include <wx/socket.h>

#include "BenchSupport.h"
#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "lanhost/LanGameHost.h"
#include "lanhost/LanListener.h"
#include "platform/ProgramClock.h"

namespace {

constexpr int kGames = 10;
constexpr uint32_t kFirstGameId = 0x00D00001;

// What a run sends back to the parent.
struct Figures {
    double seconds;
    double cpuShare;         // CPU time / wall time, of one core
    double wakeupsPerSecond; // voluntary context switches per second
    double involuntaryPerSecond;
    uint32_t announcements;  // CREATEGAME datagrams that reached the LAN target
    double load;             // the machine's load average when the measurement began
};

// Runs the loop for about ms of real time.
void RunLoopFor(wxEventLoopBase& loop, int ms)
{
    bench::RunLoopUntil(loop, nullptr, ms);
}

Game* MakeLiveGame(uint32_t id)
{
    auto* game = new Game(id);
    game->mName = "Idle game " + std::to_string(id & 0xFF);
    game->mState = GameStateLive;
    game->mStartTime = 1700000000 + id;
    game->mInfo = bench::NewGameInfo(game->mName);
    return game;
}

int Measure(int seconds, Figures& out)
{
    bench::LanSink lan;
    if (!lan.Port())
        return 2;
    ClientCore::SetLanPortForTesting(lan.Port());
    ClientCore* core = ClientCore::Get(false);
    if (!core)
        return 2;
    int rc = 0;
    {
        wxEventLoop loop;
        wxEventLoopActivator activate(&loop);
        core->SetSessionFactory(LanGameHost::Factory);
        LanListener listener;
        wxIPV4address loopback;
        loopback.Hostname(wxS("127.0.0.1"));
        if (!listener.BindSessionPort(0, &loopback)) {
            rc = 2;
        } else {
            listener.StartSearchTimer();
            // The games come in one after another.
            for (int i = 0; i < kGames; ++i) {
                core->AddGame(MakeLiveGame(kFirstGameId + static_cast<uint32_t>(i)));
                core->UpdateLanGames(true);
                RunLoopFor(loop, 23 + 7 * i);
            }
            if (core->Sessions().size() != static_cast<size_t>(kGames)) {
                std::fprintf(stderr, "%zu of %d games offered\n", core->Sessions().size(), kGames);
                rc = 1;
            } else {
                lan.CountCreateGames();
                rusage before{};
                getrusage(RUSAGE_SELF, &before);
                out.load = bench::LoadAverage();
                const double cpu0 = bench::ProcessCpuSeconds();
                const double wall0 = bench::MonotonicSeconds();
                RunLoopFor(loop, seconds * 1000);
                const double wall = bench::MonotonicSeconds() - wall0;
                const double cpu = bench::ProcessCpuSeconds() - cpu0;
                rusage after{};
                getrusage(RUSAGE_SELF, &after);
                out.seconds = wall;
                out.cpuShare = cpu / wall;
                out.wakeupsPerSecond = static_cast<double>(after.ru_nvcsw - before.ru_nvcsw) / wall;
                out.involuntaryPerSecond = static_cast<double>(after.ru_nivcsw - before.ru_nivcsw) / wall;
                out.announcements = lan.CountCreateGames();
                if (core->Sessions().size() != static_cast<size_t>(kGames)) {
                    std::fprintf(stderr, "the offers changed while idle\n");
                    rc = 1;
                }
            }
        }
        core->DeleteAllSessions();
    }
    ClientCore::Get(true);
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    constexpr int kRuns = 3;
    std::printf("idle cost: %d offered games, no viewer, %d s on real timers; median of %d runs (each a fresh "
                "process)\n",
                kGames, seconds, kRuns);
    std::vector<double> cpu, wakeups, involuntary, load;
    uint32_t announcements = 0;
    for (int run = 0; run < kRuns; ++run) {
        Figures f{};
        const auto measured = [&](Figures& r) {
            return bench::RunWithToolkit("[Net]\nDatagramPort=0\nSessionPort=0\n", [&] {
                bcx::ProgramClock::Start();
                return Measure(seconds, r);
            });
        };
        if (!bench::RunInFreshProcess(measured, f)) {
            std::printf("run %d failed\n", run + 1);
            continue;
        }
        std::printf("  run %d: %.1f s, CPU %.3f%% of a core, %.1f wake-ups/s (%.1f involuntary switches/s), "
                    "%u announcements; load average %.2f\n",
                    run + 1, f.seconds, f.cpuShare * 100, f.wakeupsPerSecond, f.involuntaryPerSecond,
                    f.announcements, f.load);
        cpu.push_back(f.cpuShare);
        wakeups.push_back(f.wakeupsPerSecond);
        involuntary.push_back(f.involuntaryPerSecond);
        load.push_back(f.load);
        announcements = f.announcements;
    }
    if (cpu.empty())
        return 1;
    std::printf("median: CPU %.3f%% of a core, %.1f wake-ups per second (%.1f per game), %.1f involuntary "
                "switches per second; last run's announcements %u; load average %.2f\n",
                bench::Median(cpu) * 100, bench::Median(wakeups), bench::Median(wakeups) / kGames,
                bench::Median(involuntary), announcements, bench::Median(load));
    std::printf("goal: CPU < 1%% of a core\n");
    return cpu.size() == static_cast<size_t>(kRuns) ? 0 : 1;
}
