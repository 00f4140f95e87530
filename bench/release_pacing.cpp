// Paced release: how closely a LAN game host releases a finished game to its viewers at replay speed
// 1.0, and what it costs the process per tick and viewer.
//
// The game: one W3GS action message per about 100 ms; every time increment is 100 ms with a jitter of up
// to +-10 ms; about a third of the messages carry no block, the others one or two players' blocks of
// selections, right-click moves, hotkeys and orders (sizes as in a real game). The game is finished, its
// details complete, so the viewers' lobby runs at once (QuickStart).
//
// The viewers are our test LAN clients (peers/TestLanClient.h): one TCP connection each on loopback to
// the host's session port, joined through the session-port listener, answering the lobby, sending the
// loaded notice and a keep-alive per action message, checking each message's checksum. The host's whole
// path is the product's (stream filter, the counting socket's queued send, loopback TCP, the reading of
// the keep-alives).
//
// Due time of an entry: the release of a viewer starts at its first release time T0 (the loaded notice
// + 500 ms); an entry is due when its accumulated game time (the sum of the increments up to and
// including its own) has elapsed at the replay speed: T0 + sum / 1.0. Deviation = arrival - due time.
//
// Four runs:
//
// 1. Manual clock, 60-minute game, 1, 4 and 12 viewers, in one process. The host's timer is off; each
//    100 ms step of the clock calls its tick (LanGameHost::Tick), then the event loop dispatches the
//    host's socket events (keep-alives read, queued sends flushed, queued events) and the viewers read
//    what arrived, before the clock moves on; so a message's arrival stamp is the step that released it,
//    and the deviation shows the rounding to the 100 ms tick alone. CPU (this thread's CPU clock) counts
//    the tick and the host's socket work, not the viewers' reading: both are printed per step and viewer.
//
// 2. Real timers, 12 viewers, a game of 30 s (the first argument changes it; 0 skips the run; a second
//    argument runs only the real-timer runs: "real" all of them, or "gui", "console" or "sleeping" one).
//    The program clock runs, the host ticks on its own timer, and the GUI toolkit's event loop runs as in
//    the program: a GUI application on a private Xvfb display, whose sockets and timers are the GUI
//    toolkit's. The viewers run in a process of their own (polling every half millisecond and stamping
//    arrivals with the same program clock), so that the process's CPU time (every thread, user and
//    system) is the product's alone: everything the event loop does for the host, its tick, its socket
//    work and the loop itself, counted from the moment all viewers have loaded until the last entry is
//    released, per 100 ms of that time and per viewer; beside it the same before any viewer joined.
//
// 3. As 2 on the toolkit's console loop, as the headless tests and benchmarks run: it waits for a timer
//    in whole milliseconds, rounded down, and polls through the rest without sleeping, up to a
//    millisecond before every tick. That polling is a cost of headless runs only.
//
// 4. As 3, with the loop's busy polling taken out: the same events are dispatched, but the loop sleeps
//    a quarter of a millisecond where the console loop would poll.
//
// Each run is a fresh process; the figures are the median of three runs, with the load average seen.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/socket.h>

#include "BenchGui.h"
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
constexpr uint32_t kManualGameMs = 60 * 60 * 1000;
constexpr uint32_t kStepMs = LanGameHost::kTickMs;
constexpr size_t kMaxViewers = 12;
constexpr const char* kConfiguration = "[Net]\nDatagramPort=0\nSessionPort=0\n";

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

// A finished 1v1 with one observer (the view player) and gameMs of data.
std::unique_ptr<Game> MakeGame(uint32_t gameMs, uint32_t& entries)
{
    auto game = std::make_unique<Game>(kGameId);
    game->mName = "Pacing benchmark";
    game->mState = GameStateFinished;
    game->mDownloadState = DownloadFinished;
    GameInfo* info = bench::NewGameInfo(game->mName);
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
    while (time < gameMs) {
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

std::string ViewerName(size_t index)
{
    return "Viewer" + std::to_string(index + 1);
}

// Creates the viewers and sends their joins to the session port. Empty when a socket failed.
std::vector<std::unique_ptr<bcxtest::TestLanClient>> JoinViewers(size_t count, uint16_t sessionPort)
{
    std::vector<std::unique_ptr<bcxtest::TestLanClient>> viewers;
    for (size_t i = 0; i < count; ++i) {
        viewers.push_back(std::make_unique<bcxtest::TestLanClient>(0));
        if (!viewers.back()->Ok())
            return {};
        bcxtest::JoinOptions options;
        options.playerName = ViewerName(i);
        viewers.back()->Join(sessionPort, kGameId, options);
    }
    return viewers;
}

// Notes the first release time of each viewer that has loaded since the last call (by its join order,
// its player name; 0 while not loaded). Call it before the first release step after a load, which comes
// 500 ms later. True once every viewer has one.
bool NoteFirstReleaseTimes(const LanGameHost& host, size_t count, uint32_t* firstRelease)
{
    for (uint32_t id : host.Clients().Ids()) {
        const LanClient* c = host.FindClient(id);
        for (size_t i = 0; c && c->mLoaded && i < count; ++i)
            if (!firstRelease[i] && c->mPlayerName == ViewerName(i))
                firstRelease[i] = c->mNextReleaseTime;
    }
    return std::all_of(firstRelease, firstRelease + count, [](uint32_t t) { return t != 0; });
}

// Deviations over every entry of every viewer (a plain record: it crosses processes).
struct Deviations {
    uint32_t entries;          // per viewer, released
    int32_t maxDeviation;      // ms
    int32_t minDeviation;      // ms
    int32_t p99Deviation;      // ms
    double meanDeviation;      // ms
    double shareOneStep;       // share of entries released exactly one step after their due time
    char problem[160];
};

bool MeasureDeviations(const std::vector<std::unique_ptr<bcxtest::TestLanClient>>& viewers,
                       const uint32_t* firstRelease, uint32_t entries, Deviations& out)
{
    out = Deviations{};
    std::vector<int32_t> all;
    all.reserve(viewers.size() * entries);
    auto fail = [&](const std::string& problem) {
        std::snprintf(out.problem, sizeof out.problem, "%s", problem.c_str());
        return false;
    };
    for (size_t i = 0; i < viewers.size(); ++i) {
        const bcxtest::TestLanClient& c = *viewers[i];
        if (!c.HostClosed())
            return fail("a viewer's stream did not end");
        if (!c.ProtocolErrors().empty())
            return fail("protocol error: " + c.ProtocolErrors().front());
        uint32_t gameTime = 0;
        uint32_t released = 0;
        for (const bcxtest::LanAction& a : c.Actions()) {
            if (a.checksumResult == bcxtest::ChecksumResult::Bad)
                return fail("bad checksum");
            gameTime += a.increment;
            all.push_back(static_cast<int32_t>(a.arrivalMs - (firstRelease[i] + gameTime)));
            ++released;
        }
        if (released != entries)
            return fail("a viewer received " + std::to_string(released) + " of " + std::to_string(entries) +
                        " entries");
    }
    if (all.empty())
        return fail("nothing released");
    int64_t sum = 0;
    uint64_t oneStep = 0;
    for (int32_t d : all) {
        sum += d;
        oneStep += d == static_cast<int32_t>(kStepMs);
    }
    std::sort(all.begin(), all.end());
    out.entries = entries;
    out.minDeviation = all.front();
    out.maxDeviation = all.back();
    out.p99Deviation = all[all.size() * 99 / 100];
    out.meanDeviation = static_cast<double>(sum) / static_cast<double>(all.size());
    out.shareOneStep = static_cast<double>(oneStep) / static_cast<double>(all.size());
    return true;
}

// The product's side of a run, inside an active event loop: the client core with its LAN announcements
// going to a stand-in, the session-port listener on loopback and the game's host, which the listener
// finds by the game's id. Problem() is empty when all of it is up.
class HostSide {
public:
    explicit HostSide(Game* game)
    {
        ClientCore::SetLanPortForTesting(mLan.Port());
        if (!ClientCore::Get(false)) {
            mProblem = "no client core";
            return;
        }
        mListener = std::make_unique<LanListener>();
        mHost = std::make_unique<LanGameHost>(game);
        mListener->SetHostLookup([this](uint32_t id) { return id == kGameId ? mHost.get() : nullptr; });
        wxIPV4address loopback;
        loopback.Hostname(wxS("127.0.0.1"));
        if (!mListener->BindSessionPort(0, &loopback))
            mProblem = "cannot bind the session port";
    }
    ~HostSide()
    {
        mHost.reset();
        mListener.reset();
        ClientCore::Get(true);
    }
    HostSide(const HostSide&) = delete;
    HostSide& operator=(const HostSide&) = delete;

    const std::string& Problem() const { return mProblem; }
    LanGameHost* Host() { return mHost.get(); }
    uint16_t SessionPort() const { return mListener ? mListener->SessionPort() : 0; }

private:
    bench::LanSink mLan;
    std::unique_ptr<LanListener> mListener;
    std::unique_ptr<LanGameHost> mHost;
    std::string mProblem;
};

// ---------------------------------------------------------------------------------------------------
// Run 1: manual clock

struct ManualFigures {
    Deviations deviations;
    double tickUs, socketUs;   // CPU per pump step
    uint32_t steps;
    double load;
};

// One pass of the loop for the host: its socket events and the queued events. Thread CPU time, ns.
int64_t DispatchHostEvents()
{
    const int64_t before = ThreadCpuNs();
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    loop->DispatchTimeout(0);
    for (int i = 0; i < 1000 && loop->Pending(); ++i)
        loop->Dispatch();
    if (wxTheApp)
        wxTheApp->ProcessPendingEvents();
    return ThreadCpuNs() - before;
}

struct Viewers {
    std::vector<std::unique_ptr<bcxtest::TestLanClient>> clients;

    void Poll()
    {
        for (auto& c : clients)
            c->Poll();
    }
    // Reads everything the sockets hold: the viewers first, then the host's socket events, then the
    // viewers again. The host's share of the CPU time (ns).
    int64_t Pump()
    {
        Poll();
        const int64_t host = DispatchHostEvents();
        Poll();
        return host;
    }
    // Real-time bounded pumping for the join (connects and accepts take a few loop passes).
    template <class Pred>
    bool PumpUntil(Pred pred, int passes = 5000)
    {
        for (int i = 0; i < passes; ++i) {
            if (pred())
                return true;
            Pump();
            usleep(200);
        }
        return pred();
    }
};

bool RunManual(size_t viewerCount, ManualFigures& out, std::string& problem)
{
    uint32_t entries = 0;
    std::unique_ptr<Game> game = MakeGame(kManualGameMs, entries);
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(100000);
    LanGameHost::EnableTimers(false);
    bool ok = false;
    {
        wxConsoleEventLoop loop;
        wxEventLoopActivator activate(&loop);
        HostSide side(game.get());
        LanGameHost* host = side.Host();
        Viewers viewers;
        uint32_t firstRelease[kMaxViewers] = {};
        if (!side.Problem().empty()) {
            problem = side.Problem();
        } else if ((viewers.clients = JoinViewers(viewerCount, side.SessionPort())).empty()) {
            problem = "no socket for a viewer";
        } else if (!viewers.PumpUntil([&] { return host->Clients().Size() == viewerCount; })) {
            problem = "the viewers did not join";
        } else {
            // The lobby: ticks until every viewer has loaded.
            bool loaded = false;
            for (int t = 0; t < 100 && !loaded; ++t) {
                bcx::ProgramClock::Advance(kStepMs);
                host->Tick();
                viewers.PumpUntil([] { return false; }, 20);
                loaded = NoteFirstReleaseTimes(*host, viewerCount, firstRelease);
            }
            if (!loaded)
                problem = "the viewers did not load";
        }
        if (problem.empty()) {
            // The release: 100 ms steps until every viewer's stream has ended.
            out.load = bench::LoadAverage();
            int64_t tickNs = 0, socketNs = 0;
            uint32_t steps = 0;
            const uint32_t maxSteps = kManualGameMs / kStepMs + 1000;
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
                const int64_t tick = ThreadCpuNs() - before;
                const int64_t socket = viewers.Pump();
                if (measured) {
                    tickNs += tick;
                    socketNs += socket;
                    ++steps;
                }
            }
            out.steps = steps;
            out.tickUs = steps ? static_cast<double>(tickNs) / 1000.0 / steps : 0;
            out.socketUs = steps ? static_cast<double>(socketNs) / 1000.0 / steps : 0;
            ok = MeasureDeviations(viewers.clients, firstRelease, entries, out.deviations);
            if (!ok)
                problem = out.deviations.problem;
        }
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------------
// Run 2: real timers, the viewers in a process of their own

// Shared by the host's process and the viewers' process (an anonymous shared mapping).
struct RealShared {
    std::atomic<uint32_t> sessionPort;      // set by the host's side once bound
    std::atomic<uint32_t> releaseKnown;     // firstRelease filled in
    std::atomic<uint32_t> hostGone;         // the host's side gave up
    std::atomic<uint32_t> viewersDone;      // the viewers' figures are in
    uint32_t firstRelease[kMaxViewers];
    Deviations deviations;
    std::atomic<uint32_t> deviationsOk;
};

constexpr int kBaselineMs = 3000;

struct RealFigures {
    Deviations deviations;
    double cpuPerStepUs;   // process CPU per 100 ms of release time
    double baselinePerStepUs; // the same before any viewer joined
    double seconds;        // release time measured
    double involuntaryPerSecond;
    double load;
};

using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        usleep(500);
    }
    return true;
}

// The viewers' process: join, take the stream until the host ends it, then the deviations.
int RunRealViewers(RealShared& shared, size_t count, uint32_t gameMs, uint32_t entries)
{
    if (!WaitFor([&] { return shared.sessionPort.load() != 0 || shared.hostGone.load(); }, 20000) ||
        shared.hostGone.load())
        return 1;
    std::vector<std::unique_ptr<bcxtest::TestLanClient>> viewers =
        JoinViewers(count, static_cast<uint16_t>(shared.sessionPort.load()));
    if (viewers.empty())
        return 1;
    const auto allClosed = [&] {
        bool all = true;
        for (auto& v : viewers) {
            v->Poll();
            all = all && v->HostClosed();
        }
        return all;
    };
    WaitFor([&] { return allClosed() || shared.hostGone.load(); }, static_cast<int>(gameMs) + 60000);
    if (WaitFor([&] { return shared.releaseKnown.load() != 0; }, 5000))
        shared.deviationsOk = MeasureDeviations(viewers, shared.firstRelease, entries, shared.deviations);
    else
        std::snprintf(shared.deviations.problem, sizeof shared.deviations.problem, "the viewers did not load");
    shared.viewersDone = 1;
    return 0;
}

// How the host's process runs the event loop.
enum class LoopKind {
    // The toolkit's console loop, as the headless tests and benchmarks run it. It waits for a timer in
    // whole milliseconds, rounded down, and polls without sleeping through the rest: up to a millisecond
    // of busy polling before every timer event.
    Console,
    // The GUI toolkit's loop, as the program runs it (a GUI application on a private display; sockets and
    // timers are the GUI toolkit's).
    Gui,
    // The console loop's dispatching (sockets, timers, queued events), sleeping a quarter of a millisecond
    // where that loop would poll.
    NoPolling,
};

const char* LoopName(LoopKind kind)
{
    switch (kind) {
    case LoopKind::Console:
        return "the toolkit's console event loop (headless runs only)";
    case LoopKind::Gui:
        return "the GUI event loop, as the program runs";
    case LoopKind::NoPolling:
        return "the console loop, sleeping instead of polling";
    }
    return "";
}

// Runs the loop until done() holds or timeoutMs have passed (without done(), for timeoutMs).
bool DriveLoop(wxEventLoopBase& loop, LoopKind kind, const std::function<bool()>& done, int timeoutMs)
{
    if (kind != LoopKind::NoPolling)
        return bench::RunLoopUntil(loop, done, timeoutMs);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(done && done()) && Clock::now() < deadline) {
        const int dispatched = loop.DispatchTimeout(kStepMs);
        if (wxTheApp)
            wxTheApp->ProcessPendingEvents();
        if (dispatched < 0)
            usleep(250);
    }
    return done ? done() : true;
}

// The host's process: the product on real timers.
bool RunRealHost(RealShared& shared, size_t count, uint32_t gameMs, LoopKind kind, Game* game, RealFigures& out,
                 std::string& problem)
{
    LanGameHost::EnableTimers(true);
    {
        std::unique_ptr<wxEventLoopBase> loopOwner;
        if (kind == LoopKind::Gui)
            loopOwner = std::make_unique<wxGUIEventLoop>();
        else
            loopOwner = std::make_unique<wxConsoleEventLoop>();
        wxEventLoopBase& loop = *loopOwner;
        wxEventLoopActivator activate(&loop);
        HostSide side(game);
        LanGameHost* host = side.Host();
        if (!side.Problem().empty()) {
            problem = side.Problem();
        } else {
            // The loop's own cost around the host's tick, before any viewer joins.
            const double baseCpu0 = bench::ProcessCpuSeconds();
            const double baseWall0 = bench::MonotonicSeconds();
            DriveLoop(loop, kind, nullptr, kBaselineMs);
            out.baselinePerStepUs = (bench::ProcessCpuSeconds() - baseCpu0) * 1e6 /
                                    ((bench::MonotonicSeconds() - baseWall0) * 1000.0 / kStepMs);
            shared.sessionPort = side.SessionPort();
            if (!DriveLoop(loop, kind, [&] { return NoteFirstReleaseTimes(*host, count, shared.firstRelease); },
                           30000)) {
                problem = "the viewers did not load";
            } else {
                shared.releaseKnown = 1;
                // From the moment all have loaded until the last entry is released to every viewer.
                const auto released = [&] {
                    for (uint32_t id : host->Clients().Ids())
                        if (const LanClient* c = host->FindClient(id); c && !c->mClosing)
                            return false;
                    return true;
                };
                out.load = bench::LoadAverage();
                rusage before{};
                getrusage(RUSAGE_SELF, &before);
                const double cpu0 = bench::ProcessCpuSeconds();
                const double wall0 = bench::MonotonicSeconds();
                const bool done = DriveLoop(loop, kind, released, static_cast<int>(gameMs) + 30000);
                out.seconds = bench::MonotonicSeconds() - wall0;
                const double cpu = bench::ProcessCpuSeconds() - cpu0;
                rusage after{};
                getrusage(RUSAGE_SELF, &after);
                out.involuntaryPerSecond = static_cast<double>(after.ru_nivcsw - before.ru_nivcsw) / out.seconds;
                const double steps = out.seconds * 1000.0 / kStepMs;
                out.cpuPerStepUs = cpu * 1e6 / steps;
                if (!done)
                    problem = "the release did not end";
                // The viewers close; their figures follow.
                if (!DriveLoop(loop, kind, [&] { return shared.viewersDone.load() != 0; }, 30000))
                    problem = "the viewers did not finish";
            }
        }
    }
    return problem.empty();
}

bool RunReal(size_t count, uint32_t gameMs, LoopKind kind, RealFigures& out, std::string& problem)
{
    void* mem = mmap(nullptr, sizeof(RealShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) {
        problem = "no shared memory";
        return false;
    }
    auto* shared = new (mem) RealShared{};
    uint32_t entries = 0;
    std::unique_ptr<Game> game = MakeGame(gameMs, entries);
    // Both processes stamp with the program clock started here.
    bcx::ProgramClock::SetManual(false);
    bcx::ProgramClock::Start();
    std::fflush(stdout);
    const pid_t viewers = fork();
    if (viewers < 0) {
        problem = "cannot start the viewers";
        munmap(mem, sizeof(RealShared));
        return false;
    }
    if (viewers == 0)
        _exit(RunRealViewers(*shared, count, gameMs, entries));
    const auto host = [&] { return RunRealHost(*shared, count, gameMs, kind, game.get(), out, problem) ? 0 : 1; };
    const int rc = kind == LoopKind::Gui ? bench::RunWithGuiToolkit(kConfiguration, host)
                                         : bench::RunWithToolkit(kConfiguration, host);
    shared->hostGone = 1;
    waitpid(viewers, nullptr, 0);
    bool ok = rc == 0;
    if (ok && !shared->deviationsOk.load()) {
        problem = shared->deviations.problem;
        ok = false;
    }
    out.deviations = shared->deviations;
    if (rc == 2)
        problem = "the toolkit did not start";
    munmap(mem, sizeof(RealShared));
    return ok;
}

// ---------------------------------------------------------------------------------------------------

template <class Figures, class Run>
std::vector<Figures> RunSeveral(int runs, Run run, const char* what, int& failures)
{
    std::vector<Figures> results;
    for (int i = 0; i < runs; ++i) {
        Figures f{};
        const bool ok = bench::RunInFreshProcess(
            [&](Figures& out) {
                std::string problem;
                if (run(out, problem))
                    return 0;
                std::fprintf(stderr, "%s: %s\n", what, problem.c_str());
                return 1;
            },
            f);
        if (ok)
            results.push_back(f);
        else
            ++failures;
    }
    return results;
}

template <class Figures, class Field>
double MedianOf(const std::vector<Figures>& runs, Field field)
{
    std::vector<double> v;
    for (const Figures& f : runs)
        v.push_back(field(f));
    return bench::Median(v);
}

// The deviation figures of the runs, medians.
std::string DeviationText(const std::vector<Deviations>& d)
{
    char text[256];
    std::snprintf(text, sizeof text, "deviation max %.0f ms, mean %.1f ms, 99th percentile %.0f ms (min %.0f ms, "
                                     "%.1f%% exactly one step late)",
                  MedianOf(d, [](const Deviations& x) { return x.maxDeviation; }),
                  MedianOf(d, [](const Deviations& x) { return x.meanDeviation; }),
                  MedianOf(d, [](const Deviations& x) { return x.p99Deviation; }),
                  MedianOf(d, [](const Deviations& x) { return x.minDeviation; }),
                  MedianOf(d, [](const Deviations& x) { return x.shareOneStep * 100; }));
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    constexpr int kRuns = 3;
    const int realSeconds = argc > 1 ? std::max(0, std::atoi(argv[1])) : 30;
    // A second argument runs the real-timer runs only: "real" all of them, "gui", "console" or "sleeping"
    // that one.
    const char* only = argc > 2 ? argv[2] : "";
    const bool manual = *only == 0;
    int failures = 0;

    for (size_t viewers : {size_t(1), size_t(4), size_t(12)}) {
        if (!manual)
            break;
        if (viewers == 1)
            std::printf("1. manual clock: paced release of a 60-minute finished game at speed 1.0, %u ms steps; median "
                "of %d runs (each a fresh process)\n",
                        kStepMs, kRuns);
        const auto runs = RunSeveral<ManualFigures>(
            kRuns,
            [&](ManualFigures& out, std::string& problem) {
                int rc = bench::RunWithToolkit(kConfiguration, [&] { return RunManual(viewers, out, problem) ? 0 : 1; });
                return rc == 0;
            },
            "manual clock", failures);
        if (runs.empty()) {
            std::printf("%2zu viewer(s): no run finished\n", viewers);
            continue;
        }
        std::vector<Deviations> d;
        for (const ManualFigures& f : runs)
            d.push_back(f.deviations);
        const double tick = MedianOf(runs, [](const ManualFigures& f) { return f.tickUs; });
        const double socket = MedianOf(runs, [](const ManualFigures& f) { return f.socketUs; });
        const double all = MedianOf(runs, [](const ManualFigures& f) { return f.tickUs + f.socketUs; });
        std::printf("%2zu viewer(s): %u entries each, %u steps; %s; CPU per step: tick %.2f us + socket work "
                    "%.2f us = %.2f us, %.2f us per viewer; load average %.2f\n",
                    viewers, runs.front().deviations.entries, runs.front().steps, DeviationText(d).c_str(), tick,
                    socket, all, all / static_cast<double>(viewers),
                    MedianOf(runs, [](const ManualFigures& f) { return f.load; }));
    }
    if (manual)
        std::printf("   goals: max deviation <= %u ms, mean <= 50 ms (the tick's rounding); <= 20 us per step and "
                    "viewer, all work counted\n",
                    kStepMs);

    int number = 1;
    for (LoopKind kind : {LoopKind::Gui, LoopKind::Console, LoopKind::NoPolling}) {
        ++number;
        const char* key = kind == LoopKind::Gui ? "gui" : kind == LoopKind::Console ? "console" : "sleeping";
        if (realSeconds == 0 || (*only && std::strcmp(only, "real") != 0 && std::strcmp(only, key) != 0))
            continue;
        const size_t viewers = kMaxViewers;
        std::printf("%d. real timers, %s: a %d s finished game at speed 1.0 to %zu viewers in another process; "
                    "median of %d runs (each a fresh process)\n",
                    number, LoopName(kind), realSeconds, viewers, kRuns);
        const auto runs = RunSeveral<RealFigures>(
            kRuns,
            [&](RealFigures& out, std::string& problem) {
                return RunReal(viewers, static_cast<uint32_t>(realSeconds) * 1000, kind, out, problem);
            },
            "real timers", failures);
        for (size_t i = 0; i < runs.size(); ++i) {
            const RealFigures& f = runs[i];
            std::printf("   run %zu: deviation max %d ms, mean %.1f ms, 99th percentile %d ms; CPU per step %.2f us "
                        "(%.2f us before the viewers joined); %.1f s; load average %.2f, %.1f involuntary "
                        "switches/s\n",
                        i + 1, f.deviations.maxDeviation, f.deviations.meanDeviation, f.deviations.p99Deviation,
                        f.cpuPerStepUs, f.baselinePerStepUs, f.seconds, f.load, f.involuntaryPerSecond);
        }
        if (!runs.empty()) {
            std::vector<Deviations> d;
            for (const RealFigures& f : runs)
                d.push_back(f.deviations);
            const double cpu = MedianOf(runs, [](const RealFigures& f) { return f.cpuPerStepUs; });
            std::printf("%2zu viewers: %u entries each; %s; process CPU per 100 ms step %.2f us = %.2f us per "
                        "viewer, all counted (%.2f us per step before any viewer joined); load average %.2f\n",
                        viewers, runs.front().deviations.entries, DeviationText(d).c_str(), cpu,
                        cpu / static_cast<double>(viewers),
                        MedianOf(runs, [](const RealFigures& f) { return f.baselinePerStepUs; }),
                        MedianOf(runs, [](const RealFigures& f) { return f.load; }));
        }
        if (kind == LoopKind::Console)
            std::printf("   the console loop's busy polling before every timer event is a cost of headless runs "
                        "(tests, benchmarks) only: the program runs the GUI loop (run 2)\n");
        std::printf("   goals: max deviation <= 120 ms, mean <= 60 ms; <= 20 us per step and viewer, all work "
                    "counted\n");
    }
    return failures ? 1 : 0;
}
