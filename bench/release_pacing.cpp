// Paced release: how closely a LAN game host releases a 60-minute finished game to its viewers at
// replay speed 1.0, and what a pump step costs.
//
// The game: one W3GS action message per about 100 ms for 60 minutes of game time; every time increment
// is 100 ms with a jitter of up to +-10 ms; about a third of the messages carry no block, the others one
// or two players' blocks of selections, right-click moves, hotkeys and orders (sizes as in a real game).
// The game is finished, its details complete, so the viewers' lobby runs at once (QuickStart).
//
// The viewers are our test LAN clients (peers/TestLanClient.h): one TCP connection each on loopback to
// the host's session port, joined through the session-port listener, answering the lobby, sending the
// loaded notice and a keep-alive per action message, checking each message's checksum. The host's whole
// send path is the product's (stream filter, the counting socket's queued send, loopback TCP).
//
// The program clock is manual; the host's timer is off and its tick (LanGameHost::Tick) is called in
// 100 ms steps of the clock. After each tick the viewers read what arrived and the host reads their
// keep-alives, before the clock moves on, so a message's arrival stamp is the tick that released it.
//
// Due time of an entry: the release of a viewer starts at its first release time T0 (the loaded notice
// + 500 ms); an entry is due when its accumulated game time (the sum of the increments up to and
// including its own) has elapsed at the replay speed: T0 + sum / 1.0. Deviation = release tick - due time.
//
// Printed for 1, 4 and 12 viewers: entries released per viewer, the largest and mean deviation (ms) over
// every entry of every viewer, the share released exactly one step after its due time, and the CPU time
// of the tick (thread CPU clock) per pump step and per viewer, with the goals.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "BenchSupport.h"
#include "core/ClientCore.h"
#include "core/GameData.h"
#include "core/GameRecords.h"
#include "lanhost/LanGameHost.h"
#include "lanhost/LanListener.h"
#include "peers/LanWire.h"
#include "peers/TestLanClient.h"
#include "platform/ProgramClock.h"

namespace {

constexpr uint32_t kGameId = 0x00C00001;
constexpr uint32_t kGameMs = 60 * 60 * 1000;
constexpr uint32_t kStepMs = LanGameHost::kTickMs;

int64_t ThreadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One action message with the given increment; blocks of realistic actions.
std::string ActionMessage(std::mt19937& rng, uint16_t increment)
{
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    bcxtest::lan::ByteWriter blocks;
    if (pick(100) >= 35) {
        const uint32_t players = pick(100) < 30 ? 2 : 1;
        for (uint32_t p = 0; p < players; ++p) {
            bcxtest::lan::ByteWriter a;
            const uint32_t count = 1 + pick(3);
            for (uint32_t k = 0; k < count; ++k) {
                const uint32_t r = pick(100);
                if (r < 35) {  // selection of 1-12 units
                    const uint32_t n = 1 + pick(12);
                    a.U8(0x16).U8(1).U16(static_cast<uint16_t>(n));
                    for (uint32_t u = 0; u < n; ++u)
                        a.U32(0x1000 + u).U32(0x1000 + u);
                } else if (r < 75) {  // right-click move to a point
                    a.U8(0x12).U16(0x40).U32(0xD0003).U32(~0u).U32(~0u).U32(0x45000000 + pick(4096))
                        .U32(0xC5000000 + pick(4096)).U32(~0u).U32(~0u);
                } else if (r < 90) {  // group hotkey
                    a.U8(0x18).U8(static_cast<uint8_t>(pick(10))).U8(0x03);
                } else {  // stop / hold order
                    a.U8(0x10).U16(0x40).U32(0xD0004).U32(~0u).U32(~0u);
                }
            }
            blocks.U8(static_cast<uint8_t>(1 + (players == 2 ? p : pick(2))))
                .U16(static_cast<uint16_t>(a.Str().size()))
                .Bytes(a.Str());
        }
    }
    bcxtest::lan::ByteWriter body;
    body.U16(increment);
    if (!blocks.Str().empty())
        body.U16(static_cast<uint16_t>(bcxtest::lan::Crc32(blocks.Str()) & 0xFFFF)).Bytes(blocks.Str());
    return bcxtest::lan::Frame(0x0C, body.Str());
}

void SetSlot(SlotRecord& slot, uint8_t playerId, uint8_t team, uint8_t colour)
{
    slot.mValid = 1;
    slot.mPlayerId = playerId;
    slot.mDownloadPercent = 100;
    slot.mStatus = kSlotStatusUsed;
    slot.mTeam = team;
    slot.mColour = colour;
    slot.mRace = 0x20;
    slot.mComputerLevel = 1;
    slot.mHandicap = 100;
}

// A finished 1v1 with one observer (the view player) and the 60-minute data.
std::unique_ptr<Game> MakeGame(uint32_t& entries)
{
    auto game = std::make_unique<Game>(kGameId);
    game->mName = "Pacing benchmark";
    game->mState = GameStateFinished;
    game->mDownloadState = DownloadFinished;
    auto* info = new GameInfo(game->mName, 0);
    info->mProduct = 0x57335850;
    info->mVersion = 26;
    info->mMapPath = "Maps\\(2)EchoIsles.w3x";
    info->mPresent = 1;
    game->mInfo = info;

    auto* details = new GameDetails();
    details->mMapCheckWord = 1;
    details->mMapPath = info->mMapPath;
    details->mMapSize = 0x0001F2A0;
    details->mPlayerSlots = 2;
    details->mSlotCount = 3;
    SetSlot(details->mSlots[0], 1, 0, 0);
    SetSlot(details->mSlots[1], 2, 1, 1);
    SetSlot(details->mSlots[2], 3, kObserverTeam, 12);
    const char* names[] = {"", "Alpha", "Bravo", "Streamer"};
    for (int id = 1; id <= 3; ++id) {
        details->mPlayers[id].mValid = 1;
        details->mPlayers[id].mJoinCounter = static_cast<uint32_t>(10 + id);
        details->mPlayers[id].mName = names[id];
    }
    details->mViewPlayer = 3;
    details->mCompleteness = 15;
    game->mDetails = details;

    auto* data = new GameData();
    std::mt19937 rng(20261207);
    uint32_t time = 0;
    entries = 0;
    while (time < kGameMs) {
        const uint16_t increment = static_cast<uint16_t>(90 + rng() % 21);
        const std::string m = ActionMessage(rng, increment);
        data->Append(time, static_cast<uint32_t>(m.size()), reinterpret_cast<const uint8_t*>(m.data()));
        time += increment;
        ++entries;
    }
    data->Finish();
    game->mData = data;
    return game;
}

struct Viewers {
    std::vector<std::unique_ptr<bcxtest::TestLanClient>> clients;

    void Poll()
    {
        for (auto& c : clients)
            c->Poll();
    }
};

// Reads everything the sockets hold: the viewers first, then the host's socket events.
void Pump(Viewers& viewers)
{
    viewers.Poll();
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    loop->DispatchTimeout(0);
    for (int i = 0; i < 1000 && loop->Pending(); ++i)
        loop->Dispatch();
    if (wxTheApp)
        wxTheApp->ProcessPendingEvents();
    viewers.Poll();
}

// Real-time bounded pumping for the join (connects and accepts take a few loop passes).
template <class Pred>
bool PumpUntil(Viewers& viewers, Pred pred, int passes = 5000)
{
    for (int i = 0; i < passes; ++i) {
        if (pred())
            return true;
        Pump(viewers);
        usleep(200);
    }
    return pred();
}

// What a run sends back to the parent.
struct Figures {
    uint32_t entries;
    int32_t maxDeviation, minDeviation;
    double meanDeviation, shareOneStep, cpuPerStepUs;
    uint32_t steps;
};

struct Result {
    uint32_t entries = 0;       // per viewer, released
    int32_t maxDeviation = 0;   // ms
    double meanDeviation = 0;   // ms
    int32_t minDeviation = 0;   // ms
    double shareOneStep = 0;    // share of entries released exactly one step after their due time
    double cpuPerStepUs = 0;
    uint32_t steps = 0;
    bool ok = false;
    std::string problem;
};

Result Run(size_t viewerCount)
{
    Result result;
    uint32_t entries = 0;
    std::unique_ptr<Game> game = MakeGame(entries);

    Viewers viewers;
    for (size_t i = 0; i < viewerCount; ++i) {
        viewers.clients.push_back(std::make_unique<bcxtest::TestLanClient>(0));
        if (!viewers.clients.back()->Ok()) {
            result.problem = "no UDP socket for a viewer";
            return result;
        }
    }

    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(100000);
    LanGameHost::EnableTimers(false);
    ClientCore::SetLanPortForTesting(viewers.clients[0]->UdpPort());
    ClientCore* core = ClientCore::Get(false);
    if (!core) {
        result.problem = "no client core";
        return result;
    }
    {
        auto listener = std::make_unique<LanListener>();
        wxIPV4address loopback;
        loopback.Hostname(wxS("127.0.0.1"));
        if (!listener->BindSessionPort(0, &loopback)) {
            result.problem = "cannot bind the session port";
            ClientCore::Get(true);
            return result;
        }
        auto host = std::make_unique<LanGameHost>(game.get());
        listener->SetHostLookup([&](uint32_t id) { return id == kGameId ? host.get() : nullptr; });

        for (size_t i = 0; i < viewerCount; ++i) {
            bcxtest::JoinOptions options;
            options.playerName = "Viewer" + std::to_string(i + 1);
            viewers.clients[i]->Join(listener->SessionPort(), kGameId, options);
        }
        std::vector<uint32_t> firstRelease(viewerCount, 0);
        std::vector<uint32_t> ids;
        if (!PumpUntil(viewers, [&] { return host->Clients().Size() == viewerCount; })) {
            result.problem = "the viewers did not join";
        } else {
            ids = host->Clients().Ids();
            // The lobby: ticks until every viewer has loaded; note each one's first release time.
            size_t loaded = 0;
            for (int t = 0; t < 100 && loaded < viewerCount; ++t) {
                bcx::ProgramClock::Advance(kStepMs);
                host->Tick();
                PumpUntil(viewers, [] { return false; }, 20);
                loaded = 0;
                for (size_t i = 0; i < viewerCount; ++i) {
                    LanClient* c = host->FindClient(ids[i]);
                    if (c && c->mLoaded) {
                        if (!firstRelease[i])
                            firstRelease[i] = c->mNextReleaseTime;
                        ++loaded;
                    }
                }
            }
            if (loaded < viewerCount)
                result.problem = "the viewers did not load";
        }

        if (result.problem.empty()) {
            // The release: 100 ms steps until every viewer's stream has ended.
            int64_t cpu = 0;
            uint32_t steps = 0;
            const uint32_t maxSteps = kGameMs / kStepMs + 1000;
            auto allClosed = [&] {
                for (auto& c : viewers.clients)
                    if (!c->HostClosed())
                        return false;
                return true;
            };
            for (uint32_t s = 0; s < maxSteps && !allClosed(); ++s) {
                bcx::ProgramClock::Advance(kStepMs);
                const bool measured = host->Clients().Size() == viewerCount;
                const int64_t before = ThreadCpuNs();
                host->Tick();
                const int64_t after = ThreadCpuNs();
                if (measured) {
                    cpu += after - before;
                    ++steps;
                }
                Pump(viewers);
            }
            result.steps = steps;
            result.cpuPerStepUs = steps ? cpu / 1000.0 / steps : 0;

            // Deviations over every viewer's entries.
            int64_t sum = 0;
            uint64_t n = 0, oneStep = 0;
            int32_t maxDev = INT32_MIN, minDev = INT32_MAX;
            result.entries = entries;
            for (size_t i = 0; i < viewerCount; ++i) {
                const bcxtest::TestLanClient& c = *viewers.clients[i];
                if (!c.HostClosed()) {
                    result.problem = "a viewer's stream did not end";
                    break;
                }
                if (!c.ProtocolErrors().empty()) {
                    result.problem = "protocol error: " + c.ProtocolErrors().front();
                    break;
                }
                uint32_t gameTime = 0;
                uint32_t released = 0;
                for (const bcxtest::LanAction& a : c.Actions()) {
                    if (a.checksumResult == bcxtest::ChecksumResult::Bad) {
                        result.problem = "bad checksum";
                        break;
                    }
                    gameTime += a.increment;
                    const int32_t deviation = static_cast<int32_t>(a.arrivalMs - (firstRelease[i] + gameTime));
                    sum += deviation;
                    maxDev = std::max(maxDev, deviation);
                    minDev = std::min(minDev, deviation);
                    oneStep += deviation == static_cast<int32_t>(kStepMs);
                    ++n;
                    ++released;
                }
                if (released != entries && result.problem.empty())
                    result.problem = "a viewer received " + std::to_string(released) + " of " +
                                     std::to_string(entries) + " entries";
            }
            if (result.problem.empty() && n > 0) {
                result.maxDeviation = maxDev;
                result.minDeviation = minDev;
                result.meanDeviation = static_cast<double>(sum) / static_cast<double>(n);
                result.shareOneStep = static_cast<double>(oneStep) / static_cast<double>(n);
                result.ok = true;
            }
        }
        host.reset();
        listener.reset();
    }
    ClientCore::Get(true);
    return result;
}

// One run in a process of its own (the client core is created once per process): a fresh working
// directory with the configuration, the toolkit, the run. The result goes back through the pipe.
int RunInChild(size_t viewers, Figures& out)
{
    char dirTemplate[] = "/tmp/bcx-pacing-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir || chdir(dir) != 0)
        return 2;
    if (FILE* ini = std::fopen("bcxClient.ini", "w")) {
        std::fputs("[Net]\nDatagramPort=0\nSessionPort=0\n", ini);
        std::fclose(ini);
    }
    Result r;
    {
        wxInitializer init;
        if (!init.IsOk())
            return 2;
        wxSocketBase::Initialize();
        wxLog::EnableLogging(false);
        {
            wxEventLoop loop;
            wxEventLoopActivator activate(&loop);
            r = Run(viewers);
        }
        wxSocketBase::Shutdown();
    }
    if (chdir("/") == 0) {
        std::remove((std::string(dir) + "/bcxClient.ini").c_str());
        rmdir(dir);
    }
    if (!r.ok) {
        std::fprintf(stderr, "%zu viewer(s): %s\n", viewers, r.problem.c_str());
        return 1;
    }
    out = Figures{r.entries, r.maxDeviation, r.minDeviation, r.meanDeviation, r.shareOneStep, r.cpuPerStepUs, r.steps};
    return 0;
}

} // namespace

int main()
{
    constexpr int kRuns = 3;
    std::printf("paced release of a 60-minute finished game at speed 1.0, manual clock, %u ms pump steps; "
                "median of %d runs (each a fresh process)\n",
                kStepMs, kRuns);
    int failures = 0;
    for (size_t viewers : {size_t(1), size_t(4), size_t(12)}) {
        std::vector<Figures> runs;
        for (int run = 0; run < kRuns; ++run) {
            Figures f{};
            if (bench::RunInFreshProcess([&](Figures& out) { return RunInChild(viewers, out); }, f))
                runs.push_back(f);
            else
                ++failures;
        }
        if (runs.empty()) {
            std::printf("%2zu viewer(s): no run finished\n", viewers);
            continue;
        }
        std::vector<double> maxDev, meanDev, cpu;
        for (const Figures& f : runs) {
            maxDev.push_back(f.maxDeviation);
            meanDev.push_back(f.meanDeviation);
            cpu.push_back(f.cpuPerStepUs);
        }
        const Figures& f = runs.front();
        std::printf("%2zu viewer(s): %u entries each, %u pump steps; deviation max %.0f ms, mean %.1f ms "
                    "(min %d ms, %.1f%% exactly one step late); CPU per pump step %.2f us = %.2f us per viewer "
                    "(runs %.2f-%.2f)\n",
                    viewers, f.entries, f.steps, bench::Median(maxDev), bench::Median(meanDev), f.minDeviation,
                    f.shareOneStep * 100, bench::Median(cpu), bench::Median(cpu) / static_cast<double>(viewers),
                    *std::min_element(cpu.begin(), cpu.end()), *std::max_element(cpu.begin(), cpu.end()));
    }
    std::printf("goals: max deviation <= %u ms, mean <= 50 ms, <= 20 us per pump step per viewer\n", kStepMs);
    return failures ? 1 : 0;
}
