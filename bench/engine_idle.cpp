// What the program and the engine's processes cost while nothing happens, and how far a page that
// allocates as fast as it can gets before its process is ended.
//
// On a private Xvfb display a browser panel (as in the program's About and News pages) shows a page; once
// it has settled, the event loop runs on its own for the measured time. Each case runs in a fresh process:
//   - builtin: the built-in About page;
//   - news:    a news-like page served on 127.0.0.1 (text, styles, images, a little script, no timers).
// Measured over the whole process tree (the program and the engine processes it started; the display
// server aside): CPU time from /proc/<pid>/stat (user + system) as % of one core, and wakeups per second
// (voluntary context switches of every thread).
//   - burst (run with the argument "burst"): after three idle seconds a page takes 64 MB more at a time
//     without pause, every page of it written, up to 3 GB; measured: the peak resident memory of the
//     page's process and the time from the load until it is ended.
// Usage: bench_engine_idle [seconds (default 60)] | burst

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <wx/evtloop.h>

#include "BenchGui.h"
#include "browser/BrowserPanel.h"
#include "support/Files.h"
#include "support/PageServer.h"
#include "support/Processes.h"
#include "support/Pump.h"
#include "support/gui/WebPages.h"
#include "ui/MemoryPages.h"

namespace {

struct Usage {
    double cpuSeconds = 0;
    double switches = 0;
};

struct Figures {
    double cpuPercent;     // of one core
    double wakeupsPerS;
    int processes;         // the program and the engine's processes
    double peakPageMiB;    // burst: the page process's peak resident memory
    double endedAfterS;    // burst: until the page's process was gone; -1 when it was not
};

Usage UsageOf(const std::vector<pid_t>& tree)
{
    Usage usage;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const pid_t pid : tree) {
        const std::string proc = "/proc/" + std::to_string(pid);
        const std::string stat = bcxtest::ReadFile(proc + "/stat");
        const size_t close = stat.rfind(')');
        unsigned long long utime = 0, stime = 0;
        // Fields 14 and 15; the text after the name starts with field 3.
        if (close != std::string::npos &&
            std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                        &stime) == 2)
            usage.cpuSeconds += static_cast<double>(utime + stime) / tick;
        std::error_code ec;
        for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ec)) {
            const std::string status = bcxtest::ReadFile(task.path() / "status");
            const size_t at = status.find("\nvoluntary_ctxt_switches:");
            if (at != std::string::npos)
                usage.switches += std::atof(status.c_str() + at + 25);
        }
    }
    return usage;
}

long PageProcessRssKiB()
{
    long rss = 0;
    for (const pid_t pid : bcxtest::EngineProcesses("WebKitWebProces"))
        rss = std::max(rss, bcxtest::RssKiB(pid));
    return rss;
}

// It starts once the page has been idle for three seconds, so that nothing of its load is seen first.
const char* const kBurst = "<html><head><title>burst</title></head><body><script>var kept = []; setTimeout(function() "
                           "{ for (var n = 0; n < 48; ++n) { var a = new Uint8Array(64 << 20); for (var i = 0; i < "
                           "a.length; i += 4096) a[i] = 1; kept.push(a); } document.title = 'all'; }, 3000);"
                           "</script>burst</body></html>";

enum class Case { Builtin, News, Burst };

int RunCase(Case which, int seconds, Figures& out)
{
    return bench::RunWithGuiToolkit("[Net]\nDatagramPort=0\nSessionPort=0\n", [&] {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        bcx::RegisterMemoryPages();
        bcxtest::PageServer server;
        if (!server.IsListening())
            return 2;
        bench::AddNewsPage(server);
        server.AddPage("/burst.html", kBurst);

        bench::AboutPanel about;
        if (!about.Open())
            return 2;
        if (which == Case::News) {
            about.panel->LoadUrl(server.Url("/news.html"));
            if (!bcxtest::WaitForPageTitle(about.view, "News")) {
                std::fprintf(stderr, "no news page\n");
                return 2;
            }
        }
        // The engine settles (its first collections, the network process's idle time-outs).
        bench::RunLoopUntil(loop, nullptr, 10000);
        if (which == Case::Burst) {
            out.endedAfterS = -1;
            long peak = 0;
            const auto start = std::chrono::steady_clock::now();
            about.panel->LoadUrl(server.Url("/burst.html"));
            // Sampled until the page's process is gone and a new one shows nothing of the burst.
            bool sawBurst = false;
            bcxtest::PumpUntil(
                [&] {
                    const long rss = PageProcessRssKiB();
                    peak = std::max(peak, rss);
                    sawBurst = sawBurst || rss > 512 * 1024;
                    if (sawBurst && rss < 512 * 1024) {
                        out.endedAfterS =
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                        return true;
                    }
                    return false;
                },
                60000);
            out.peakPageMiB = peak / 1024.0;
        } else {
            const std::vector<pid_t> tree = bcxtest::ProcessTree();
            const Usage before = UsageOf(tree);
            const double start = bench::MonotonicSeconds();
            bench::RunLoopUntil(loop, nullptr, seconds * 1000);
            const double elapsed = bench::MonotonicSeconds() - start;
            const Usage after = UsageOf(tree);
            out.cpuPercent = 100.0 * (after.cpuSeconds - before.cpuSeconds) / elapsed;
            out.wakeupsPerS = (after.switches - before.switches) / elapsed;
            out.processes = static_cast<int>(tree.size());
        }
        return 0;
    });
}

} // namespace

int main(int argc, char** argv)
{
    const bool burst = argc > 1 && std::strcmp(argv[1], "burst") == 0;
    const int seconds = argc > 1 && !burst ? std::max(1, std::atoi(argv[1])) : 60;
    if (burst) {
        Figures f{};
        if (!bench::RunInFreshProcess([&](Figures& out) { return RunCase(Case::Burst, 0, out); }, f)) {
            std::printf("burst   run failed\n");
            return 1;
        }
        std::printf("burst   page process peak %7.1f MiB", f.peakPageMiB);
        std::printf(f.endedAfterS < 0 ? "  not ended\n" : "  ended after %.2f s\n", f.endedAfterS);
        return 0;
    }
    int failures = 0;
    for (const auto& c : {std::make_pair(Case::Builtin, "builtin"), std::make_pair(Case::News, "news")}) {
        Figures f{};
        if (!bench::RunInFreshProcess([&](Figures& out) { return RunCase(c.first, seconds, out); }, f)) {
            std::printf("%-7s run failed\n", c.second);
            ++failures;
            continue;
        }
        std::printf("%-7s idle CPU %5.2f %% of a core  wakeups %5.1f /s  (%d processes, %d s)\n", c.second,
                    f.cpuPercent, f.wakeupsPerS, f.processes, seconds);
    }
    return failures == 0 ? 0 : 1;
}
