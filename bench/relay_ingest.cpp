// Relay ingest: how fast the client stores and acknowledges a game that the relay streams over loopback,
// and how much memory it takes for it.
//
// Two scenarios, each in a process of its own (so that the peak RSS is the scenario's own):
//   60-minute game: one W3GS action message per 100 ms (36,000 entries) with action blocks of realistic
//                   sizes (empty time slots, selections, orders, group hotkeys);
//   6 MB game:      the same kind of entries, larger blocks, until 6 MB of entries.
// In every scenario process the test relay runs in a child process of its own (so that its copies of the
// game do not count in the client's memory); the client runs its console event loop in the scenario process.
//
// Printed per scenario: entries and MB stored, MB/s stored (subscription to the finished download),
// MB/s acknowledged (subscription to the relay's receipt of the acknowledgement that covers every byte),
// peak RSS of the client process, its RSS before the download and the growth, and RSS per MB stored.

#include <chrono>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "BenchSupport.h"
#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "peers/TestRelayServer.h"

namespace {

using bcxtest::RelayEntry;
using bcxtest::RelayGame;
using bcxtest::TestRelayServer;

constexpr uint32_t kGameId = 0x00B00001;
constexpr int kRuns = 5;

struct Scenario {
    const char* name;
    size_t entries;        // 0: until targetBytes
    size_t targetBytes;    // entry bytes (headers included) to reach when entries is 0
    uint32_t scale;        // action-block size factor
    size_t blockBytes;     // entry bytes per relay data block
};

// What one run measured.
struct Result {
    uint32_t entries = 0;
    double mb = 0;          // stored entry bytes, headers included, in MB (10^6)
    double storeSec = 0;    // subscription to finished download
    double ackSec = 0;      // subscription to the relay's receipt of the last acknowledgement
    double peakMb = 0;      // peak RSS of the client process
    double beforeMb = 0;    // RSS before the subscription
    double afterMb = 0;     // RSS after the download
    double cpuSec = 0;      // CPU time (user + system) of the client process during the download
};

int64_t MonotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A small deterministic generator (the same game on every run).
struct Lcg {
    uint32_t state = 0x12345678u;
    uint32_t Next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

// One W3GS 0x0C message: header, time increment, action blocks {u8 player, u16 length, actions}.
std::string ActionMessage(Lcg& rng, uint32_t scale)
{
    std::string blocks;
    // About 40% of the 100 ms slots carry no action; the others one to three players' blocks.
    const uint32_t roll = rng.Below(100);
    const uint32_t players = roll < 40 ? 0 : roll < 80 ? 1 : roll < 95 ? 2 : 3;
    for (uint32_t p = 0; p < players; ++p) {
        // Typical actions: selection change 13 + 8 per unit, an order with target 30-40, hotkey 4.
        uint32_t size;
        const uint32_t kind = rng.Below(10);
        if (kind < 4)
            size = 13 + 8 * (1 + rng.Below(12));
        else if (kind < 8)
            size = 30 + rng.Below(12);
        else
            size = 4 + rng.Below(4);
        size *= scale;
        std::string actions(size, '\0');
        for (char& c : actions)
            c = static_cast<char>(rng.Next());
        blocks += TestRelayServer::U8(static_cast<uint8_t>(1 + p)) +
                  TestRelayServer::U16(static_cast<uint16_t>(actions.size())) + actions;
    }
    std::string body = TestRelayServer::U16(100) + blocks;
    return std::string("\xF7\x0C", 2) + TestRelayServer::U16(static_cast<uint16_t>(body.size() + 4)) + body;
}

RelayGame MakeGame(const Scenario& s, uint32_t& totalBytes)
{
    RelayGame g = TestRelayServer::MakeFinished1v1(kGameId, 0, "Ingest benchmark");
    Lcg rng;
    totalBytes = 0;
    for (size_t i = 0; s.entries ? i < s.entries : totalBytes < s.targetBytes; ++i) {
        RelayEntry e;
        e.time = static_cast<uint32_t>(i * 100);
        e.bytes = ActionMessage(rng, s.scale);
        totalBytes += static_cast<uint32_t>(8 + e.bytes.size());
        g.entries.push_back(std::move(e));
    }
    g.info.lengthMs = g.entries.empty() ? 0 : g.entries.back().time;
    return g;
}

volatile std::sig_atomic_t gStopRelay = 0;

void OnTerm(int)
{
    gStopRelay = 1;
}

// The relay child: serves the game until told to stop; reports its port, then the time at which the
// acknowledgement covering every byte arrived.
[[noreturn]] void RunRelay(const Scenario& s, int portPipe, int ackPipe)
{
    std::signal(SIGTERM, OnTerm);
    uint32_t total = 0;
    TestRelayServer relay;
    relay.Options().blockBytes = s.blockBytes;
    relay.AddGame(MakeGame(s, total));
    if (!relay.Start()) {
        std::fprintf(stderr, "relay: cannot listen\n");
        _exit(3);
    }
    const uint16_t port = relay.Port();
    if (write(portPipe, &port, sizeof port) != sizeof port)
        _exit(3);
    close(portPipe);
    bool reported = false;
    const int64_t deadline = MonotonicNs() + int64_t(300) * 1000000000;
    while (!gStopRelay && MonotonicNs() < deadline) {
        relay.Poll();
        if (!reported && !relay.Acks().empty() && relay.Acks().back().bytesHeld == total) {
            const int64_t now = MonotonicNs();
            if (write(ackPipe, &now, sizeof now) != sizeof now)
                _exit(3);
            reported = true;
        }
    }
    _exit(0);
}

size_t CurrentRssKb()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long size = 0, resident = 0;
    if (std::fscanf(f, "%lu %lu", &size, &resident) != 2)
        resident = 0;
    std::fclose(f);
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

// The larger of getrusage's maximum and the kernel's high-water mark (the former lags at times).
size_t PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    size_t peak = static_cast<size_t>(usage.ru_maxrss);
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long kb = 0;
            if (std::sscanf(line, "VmHWM: %lu kB", &kb) == 1 && kb > peak)
                peak = kb;
        }
        std::fclose(f);
    }
    return peak;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Pump()
{
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    loop->DispatchTimeout(1);
    while (loop->Pending())
        loop->Dispatch();
    if (wxTheApp)
        wxTheApp->ProcessPendingEvents();
    loop->ProcessIdle();
}

template <class Pred>
bool PumpUntil(Pred pred, int64_t timeoutMs)
{
    const int64_t deadline = MonotonicNs() + timeoutMs * 1000000;
    while (!pred()) {
        if (MonotonicNs() > deadline)
            return false;
        Pump();
    }
    return true;
}

int RunScenario(const Scenario& s, Result& out)
{
    int portPipe[2], ackPipe[2];
    if (pipe(portPipe) != 0 || pipe(ackPipe) != 0)
        return 2;
    const pid_t relayPid = fork();
    if (relayPid < 0)
        return 2;
    if (relayPid == 0) {
        close(portPipe[0]);
        close(ackPipe[0]);
        RunRelay(s, portPipe[1], ackPipe[1]);
    }
    close(portPipe[1]);
    close(ackPipe[1]);
    uint16_t port = 0;
    if (read(portPipe[0], &port, sizeof port) != sizeof port) {
        std::fprintf(stderr, "%s: the relay did not start\n", s.name);
        return 2;
    }
    close(portPipe[0]);

    // The client's working directory holds its configuration file.
    char dirTemplate[] = "/tmp/bcx-bench-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir || chdir(dir) != 0)
        return 2;
    if (FILE* ini = std::fopen("bcxClient.ini", "w")) {
        std::fputs("[Net]\nDatagramPort=0\n", ini);
        std::fclose(ini);
    }

    int result = 1;
    {
        wxInitializer init;
        if (!init.IsOk())
            return 2;
        wxSocketBase::Initialize();
        wxLog::EnableLogging(false);
        wxEventLoop loop;
        wxEventLoopActivator activate(&loop);

        ClientCore* core = ClientCore::Get();
        wxIPV4address address;
        address.Hostname(wxS("127.0.0.1"));
        address.Service(port);
        core->Connect(address, wxS("127.0.0.1"));
        Game* game = nullptr;
        const bool ready = PumpUntil([&] {
            game = core->GetGame(kGameId);
            return game && game->mInfo;
        }, 10000);
        if (!ready) {
            std::fprintf(stderr, "%s: no game information from the relay\n", s.name);
        } else {
            const size_t rssBefore = CurrentRssKb();
            const double cpuStart = CpuSeconds();
            const int64_t start = MonotonicNs();
            core->SubscribeGame(game, true);
            const bool finished = PumpUntil([&] { return game->mDownloadState == DownloadFinished; }, 120000);
            const int64_t stored = MonotonicNs();
            const double cpu = CpuSeconds() - cpuStart;
            int64_t acked = 0;
            // The relay reports when the acknowledgement of every byte arrived; keep the loop running
            // until then (the acknowledgements may still sit in the send queue).
            PumpUntil([&] {
                pollfd p{ackPipe[0], POLLIN, 0};
                return poll(&p, 1, 0) > 0;
            }, 10000);
            if (read(ackPipe[0], &acked, sizeof acked) != sizeof acked)
                acked = 0;
            const size_t rssAfter = CurrentRssKb();
            const size_t peak = PeakRssKb();
            if (finished && game->mData && acked) {
                out.entries = game->mData->Count();
                out.mb = game->mData->Total() / 1e6;
                out.storeSec = (stored - start) / 1e9;
                out.ackSec = (acked - start) / 1e9;
                out.peakMb = peak / 1024.0;
                out.beforeMb = rssBefore / 1024.0;
                out.afterMb = rssAfter / 1024.0;
                out.cpuSec = cpu;
                result = 0;
            } else {
                std::fprintf(stderr, "%s: the download did not finish or was not acknowledged\n", s.name);
            }
        }
        ClientCore::Get(true);
        wxSocketBase::Shutdown();
    }
    kill(relayPid, SIGTERM);
    waitpid(relayPid, nullptr, 0);
    close(ackPipe[0]);
    if (chdir("/") == 0) {
        std::remove((std::string(dir) + "/bcxClient.ini").c_str());
        rmdir(dir);
    }
    return result;
}

} // namespace

int main()
{
    const Scenario scenarios[] = {
        {"60-minute game, 4 KB blocks", 36000, 0, 1, 4096},
        {"60-minute game, 16 KB blocks", 36000, 0, 1, 16384},
        {"6 MB game, 4 KB blocks", 0, 6u * 1000u * 1000u, 3, 4096},
        {"6 MB game, 16 KB blocks", 0, 6u * 1000u * 1000u, 3, 16384},
    };
    std::printf("relay ingest over loopback, median of %d runs (each run a fresh client process)\n", kRuns);
    int failures = 0;
    for (const Scenario& s : scenarios) {
        std::vector<Result> runs;
        for (int run = 0; run < kRuns; ++run) {
            Result r;
            if (bench::RunInFreshProcess([&](Result& out) { return RunScenario(s, out); }, r))
                runs.push_back(r);
            else
                ++failures;
        }
        if (runs.empty()) {
            std::printf("%s: no run finished\n", s.name);
            continue;
        }
        std::vector<double> store, ack, peak, before, growth, cpu, wall;
        for (const Result& r : runs) {
            store.push_back(r.mb / r.storeSec);
            ack.push_back(r.mb / r.ackSec);
            peak.push_back(r.peakMb);
            before.push_back(r.beforeMb);
            growth.push_back(r.afterMb - r.beforeMb);
            cpu.push_back(r.cpuSec * 1000);
            wall.push_back(r.storeSec * 1000);
        }
        const Result& r = runs.front();
        const double mb = r.mb;
        std::printf("%s: %u entries, %.2f MB stored (entry headers included)\n", s.name, r.entries, mb);
        std::printf("  stored:       %.1f MB/s (runs %.1f-%.1f)\n", bench::Median(store),
                    *std::min_element(store.begin(), store.end()), *std::max_element(store.begin(), store.end()));
        std::printf("  acknowledged: %.1f MB/s (runs %.1f-%.1f)\n", bench::Median(ack),
                    *std::min_element(ack.begin(), ack.end()), *std::max_element(ack.begin(), ack.end()));
        std::printf("  client CPU during the download: %.1f ms of %.1f ms (the rest is waiting for the relay); "
                    "%.1f MB per client CPU second\n",
                    bench::Median(cpu), bench::Median(wall),
                    bench::Median(cpu) > 0 ? mb / (bench::Median(cpu) / 1000) : 0.0);
        std::printf("  peak RSS %.2f MB (before the download %.2f MB); growth %.2f MB\n", bench::Median(peak),
                    bench::Median(before), bench::Median(growth));
        std::printf("  RSS per MB stored: peak %.2f MB/MB, growth %.3f MB/MB (goal: growth <= 1.05 x stored + 2 MB)\n",
                    bench::Median(peak) / mb, bench::Median(growth) / mb);
    }
    return failures ? 1 : 0;
}
