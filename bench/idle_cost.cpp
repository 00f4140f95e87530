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

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>
#include <wx/timer.h>

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
};

// Ends the loop after the measured time.
class StopTimer : public wxTimer {
public:
    void Notify() override
    {
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
            loop->ScheduleExit();
    }
};

// A UDP socket on 127.0.0.1 that stands in for the LAN: the hosts' announcements arrive here.
class LanTarget {
public:
    LanTarget()
    {
        mFd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (mFd < 0 || bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        mPort = ntohs(a.sin_port);
    }
    ~LanTarget()
    {
        if (mFd >= 0)
            close(mFd);
    }
    uint16_t Port() const { return mPort; }
    // Reads what waits without blocking; counts the create-game datagrams.
    uint32_t CountCreateGames() const
    {
        uint32_t n = 0;
        unsigned char buf[2048];
        for (int i = 0; i < 100000; ++i) {
            const ssize_t got = recv(mFd, buf, sizeof buf, MSG_DONTWAIT);
            if (got < 0)
                break;
            n += got >= 2 && buf[0] == 0xF7 && buf[1] == 0x31;
        }
        return n;
    }

private:
    int mFd = -1;
    uint16_t mPort = 0;
};

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs the loop for about ms of real time.
void RunLoopFor(wxEventLoopBase& loop, int ms)
{
    StopTimer stop;
    stop.StartOnce(ms);
    loop.Run();
}

Game* MakeLiveGame(uint32_t id)
{
    auto* game = new Game(id);
    game->mName = "Idle game " + std::to_string(id & 0xFF);
    game->mState = GameStateLive;
    game->mStartTime = 1700000000 + id;
    auto* info = new GameInfo(game->mName, 0);
    info->mProduct = 0x57335850;
    info->mVersion = 26;
    info->mMapPath = "Maps\\(2)EchoIsles.w3x";
    info->mPresent = 1;
    game->mInfo = info;
    return game;
}

int Measure(int seconds, Figures& out)
{
    LanTarget lan;
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
                const double cpu0 = ProcessCpuSeconds();
                const double wall0 = MonotonicSeconds();
                RunLoopFor(loop, seconds * 1000);
                const double wall = MonotonicSeconds() - wall0;
                const double cpu = ProcessCpuSeconds() - cpu0;
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

// One run in a process of its own: a fresh working directory with the configuration, the toolkit, the run.
int RunInChild(int seconds, Figures& out)
{
    char dirTemplate[] = "/tmp/bcx-idle-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir || chdir(dir) != 0)
        return 2;
    if (FILE* ini = std::fopen("bcxClient.ini", "w")) {
        std::fputs("[Net]\nDatagramPort=0\nSessionPort=0\n", ini);
        std::fclose(ini);
    }
    int rc = 2;
    {
        wxInitializer init;
        if (init.IsOk()) {
            wxSocketBase::Initialize();
            wxLog::EnableLogging(false);
            bcx::ProgramClock::Start();
            rc = Measure(seconds, out);
            wxSocketBase::Shutdown();
        }
    }
    if (chdir("/") == 0) {
        std::remove((std::string(dir) + "/bcxClient.ini").c_str());
        rmdir(dir);
    }
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
    std::vector<double> cpu, wakeups, involuntary;
    uint32_t announcements = 0;
    for (int run = 0; run < kRuns; ++run) {
        Figures f{};
        if (!bench::RunInFreshProcess([&](Figures& r) { return RunInChild(seconds, r); }, f)) {
            std::printf("run %d failed\n", run + 1);
            continue;
        }
        std::printf("  run %d: %.1f s, CPU %.3f%% of a core, %.1f wake-ups/s (%.1f involuntary switches/s), "
                    "%u announcements\n",
                    run + 1, f.seconds, f.cpuShare * 100, f.wakeupsPerSecond, f.involuntaryPerSecond,
                    f.announcements);
        cpu.push_back(f.cpuShare);
        wakeups.push_back(f.wakeupsPerSecond);
        involuntary.push_back(f.involuntaryPerSecond);
        announcements = f.announcements;
    }
    if (cpu.empty())
        return 1;
    std::printf("median: CPU %.3f%% of a core, %.1f wake-ups per second (%.1f per game), %.1f involuntary "
                "switches per second; last run's announcements %u\n",
                bench::Median(cpu) * 100, bench::Median(wakeups), bench::Median(wakeups) / kGames,
                bench::Median(involuntary), announcements);
    std::printf("goal: CPU < 1%% of a core\n");
    return cpu.size() == static_cast<size_t>(kRuns) ? 0 : 1;
}
