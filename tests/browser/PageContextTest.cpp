// The engine context the pages run on, under Xvfb with the real web view: every view is on it, a page's
// process is ended past its memory limit, and a page's media writes nothing to disk until the user
// starts it.

#include <algorithm>
#include <chrono>
#include <memory>

#include <webkit2/webkit2.h>

#include "browser/webbrowser/PageContext.h"
#include "support/LogCapture.h"
#include "support/Processes.h"
#include "support/gui/PanelFixture.h"

namespace {

using namespace bcxtest;

class PageContextTest : public PanelTest {
protected:
    // Counts the ends of the view's process that the engine reports.
    void CountProcessEnds()
    {
        g_signal_connect(view->GetNativeBackend(), "web-process-terminated",
                         G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer n) {
                             ++*static_cast<size_t*>(n);
                         }),
                         &processEnds);
    }

    // Lowers the page limits for one test.
    void SetLimits(const bcx::PageLimits& limits)
    {
        restore = std::make_unique<RestoreLimits>();
        bcx::SetPageLimits(limits);
    }

    // The peak of the files on disk that the engine's processes hold, while waiting for done.
    template <typename Done>
    bool PumpWatchingDisk(Done done, int timeoutMs)
    {
        return PumpUntil(
            [&] {
                diskPeak = std::max(diskPeak, EngineFilesOnDisk());
                return done();
            },
            timeoutMs);
    }

    struct RestoreLimits {
        bcx::PageLimits before = bcx::CurrentPageLimits();
        ~RestoreLimits() { bcx::SetPageLimits(before); }
    };
    std::unique_ptr<RestoreLimits> restore;
    size_t processEnds = 0;
    uint64_t diskPeak = 0;
};

// Runs first: the context exists before the tests below, as when all of them run in one process.
TEST_F(PageContextTest, AViewIsOnTheProgramsContext)
{
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast - Client"));
    void* native = view->GetNativeBackend();
    ASSERT_TRUE(WEBKIT_IS_WEB_VIEW(native));
    EXPECT_EQ(bcx::PageContext(), webkit_web_view_get_context(WEBKIT_WEB_VIEW(native)));
}

TEST_F(PageContextTest, APageOutgrowingItsMemoryIsEndedAndTheProgramGoesOn)
{
    LogCapture log;
    // Set while the context exists already.
    struct Limits {
        bcx::PageLimits before = bcx::CurrentPageLimits();
        ~Limits() { bcx::SetPageLimits(before); }
    } restore;
    bcx::PageLimits limits;
    limits.pageProcessMiB = 400;
    bcx::SetPageLimits(limits);
    // 8 MB more every 100 ms, every page of it written, up to 640 MB: past the lowered limit, not the usual.
    server.AddPage("/grow.html", Page("grow", "<script>var kept = [], t = setInterval(function() { var a = new "
                                              "Uint8Array(8 << 20); for (var i = 0; i < a.length; i += 4096) a[i] = 1; "
                                              "kept.push(a); if (kept.length == 80) { clearInterval(t); document.title "
                                              "= 'grown'; } }, 100);</script>"));
    server.AddPage("/next.html", Page("next", "next"));
    Open(server.Url("/grow.html"));
    CountProcessEnds();
    ASSERT_TRUE(PumpUntil([&] { return processEnds == 1; }, 30000));
    EXPECT_EQ(1u, log.Count("[browser] the page's process exceeded its memory limit"));
    // Ended by the program: not reported as a crash.
    EXPECT_FALSE(log.Contains("crashed"));
    panel->LoadUrl(server.Url("/next.html"));
    EXPECT_TRUE(WaitForPageTitle(view, "next"));
}

TEST_F(PageContextTest, APageStandingAboveHalfItsLimitIsLookedAtEverySecond)
{
    struct Limits {
        bcx::PageLimits before = bcx::CurrentPageLimits();
        ~Limits() { bcx::SetPageLimits(before); }
    } restore;
    server.AddPage("/hold.html", Page("hold", "<script>var kept = new Uint8Array(64 << 20); for (var i = 0; i < "
                                              "kept.length; i += 4096) kept[i] = 1; document.title = 'held';"
                                              "</script>"));
    Open(server.Url("/hold.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "held"));
    CountProcessEnds();
    // The page's process stands above half its limit, and under it.
    long mostKiB = 0;
    for (pid_t pid : EngineProcesses("WebKitWebProces"))
        mostKiB = std::max(mostKiB, RssKiB(pid));
    ASSERT_GT(mostKiB, 64 << 10);
    bcx::PageLimits limits;
    limits.pageProcessMiB = static_cast<unsigned>(mostKiB / 1024 * 3 / 2);
    bcx::SetPageLimits(limits);
    // Six looks, a few of them fast while the page still grew, take more than two seconds (fast ones, 0.3).
    const unsigned long from = bcx::WatchLooksForTesting();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return bcx::WatchLooksForTesting() >= from + 6; }, 15000));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_EQ(0u, processEnds);
}

// A page's process whose memory hovers around half its limit (here the limit moves around it) is asked to
// release once, not at each passing; asked again at a passing once the last ask is old enough, it has one
// line said for all its repeats.
TEST_F(PageContextTest, APageHoveringAroundHalfItsLimitIsAskedOnceAndItsRepeatsLoggedOnce)
{
    LogCapture log;
    server.AddPage("/hold.html", Page("hold", "<script>var kept = new Uint8Array(128 << 20); for (var i = 0; i < "
                                              "kept.length; i += 4096) kept[i] = 1; document.title = 'held';"
                                              "</script>"));
    Open(server.Url("/hold.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "held"));
    bcx::PageLimits limits;
    SetLimits(limits);
    // Half the limit under the page's process, then over it (but not an eighth of the limit over it), one
    // look each.
    const auto passHalf = [&](int times) {
        for (int n = 0; n < 2 * times; ++n) {
            long mostKiB = 0;
            for (pid_t pid : EngineProcesses("WebKitWebProces"))
                mostKiB = std::max(mostKiB, RssKiB(pid));
            limits.pageProcessMiB = static_cast<unsigned>(mostKiB / 1024 * (n % 2 == 0 ? 16 : 23) / 10);
            bcx::SetPageLimits(limits);
            const unsigned long from = bcx::WatchLooksForTesting();
            ASSERT_TRUE(PumpUntil([&] { return bcx::WatchLooksForTesting() > from; }, 5000));
        }
    };
    const unsigned long asked = bcx::ReleaseAsksForTesting();
    passHalf(3);
    EXPECT_EQ(asked + 1, bcx::ReleaseAsksForTesting());
    limits.releaseAgainSeconds = 1;
    passHalf(3);
    EXPECT_GE(bcx::ReleaseAsksForTesting(), asked + 3);
    EXPECT_EQ(1u, log.Count("[browser] the page's process passed half its memory limit"));
    EXPECT_EQ(1u, log.Count("it was asked to release again"));
}

// What the release on a page's load was for: a page the program loads, and what it shows, come from their
// server each time, also when the engine may keep them for an hour and the page is loaded again at once.
TEST_F(PageContextTest, TheProgramsPagesAndWhatTheyShowComeFromTheirServerEachTime)
{
    const std::string keep = "Cache-Control: max-age=3600\r\n";
    server.AddPage("/logo.png", Png(8, 8), "image/png", keep);
    server.AddPage("/news.css", "p { color: red }", "text/css", keep);
    server.AddPage("/news.html",
                   Page("news", "<link rel='stylesheet' href='/news.css'><img src='/logo.png'><p>news</p><script>"
                                "onload = function() { document.title = 'shown ' + Date.now(); };</script>"),
                   "text/html; charset=utf-8", keep);
    server.AddPage("/other.html", Page("other", "other"), "text/html; charset=utf-8", keep);
    Open(server.Url("/news.html"));
    ASSERT_TRUE(PumpUntil([&] { return view->GetCurrentTitle().StartsWith(wxS("shown")); }));
    for (const char* next : {"/news.html", "/other.html", "/news.html"}) {
        const wxString before = view->GetCurrentTitle();
        panel->LoadUrl(server.Url(next));
        ASSERT_TRUE(PumpUntil([&] {
            const wxString title = view->GetCurrentTitle();
            return title != before && (title == wxS("other") || title.StartsWith(wxS("shown")));
        }));
    }
    const std::vector<std::string> requests = server.Requests();
    for (const char* path : {"/news.html", "/news.css", "/logo.png"})
        EXPECT_EQ(3, std::count(requests.begin(), requests.end(), path)) << path;
}

// A reader goes through 40 articles with a 1000x1000 image each (4 MB decoded), each shown in turn, as
// in a long read: the page's process lets go of what it showed and stays under its (lowered) limit.
TEST_F(PageContextTest, ALongReadOfImagesIsNotEndedForWhatItShowed)
{
    LogCapture log;
    const std::string png = Png(1000, 1000);
    std::string articles;
    for (int n = 0; n < 40; ++n) {
        const std::string k = std::to_string(n);
        server.AddPage("/i" + k + ".png", png, "image/png");
        articles += "<h2>Article " + k + "</h2><img id='i" + k + "' src='/i" + k +
                    ".png' style='display:block;width:1000px;height:1000px'>";
    }
    server.AddPage("/read.html", Page("read", articles + "<script>var k = 0; function next() { if (k == 40) { "
                                                         "document.title = 'done'; return; } "
                                                         "document.getElementById('i' + k++).scrollIntoView(); "
                                                         "requestAnimationFrame(function() { setTimeout(next, 150); "
                                                         "}); } onload = next;</script>"));
    bcx::PageLimits limits;
    limits.pageProcessMiB = 400;
    SetLimits(limits);
    Open(server.Url("/read.html"));
    CountProcessEnds();
    ASSERT_TRUE(PumpUntil([&] { return processEnds > 0 || view->GetCurrentTitle() == wxS("done"); }, 60000));
    EXPECT_EQ(0u, processEnds);
    EXPECT_GE(log.Count("[browser] the page's process passed half its memory limit"), 1u);
}

TEST_F(PageContextTest, MediaKeepsUnder100MBOnDiskAndPlaysWhenTheUserStartsIt)
{
    LogCapture log;
    // Files of 40 MB that the server cannot serve in parts, loaded in every way a page's script has without
    // the user: preload="auto" in the markup (audio and video, muted), preload set by script with load(),
    // play() of a muted element, autoplay without sound, and a changed source.
    const std::string big = Wav(5000);
    for (int n = 0; n < 6; ++n)
        server.AddPage("/m" + std::to_string(n) + ".wav", big, "audio/wav", "Accept-Ranges: none\r\n");
    server.AddPage("/media.html",
                   Page("media", "<audio preload='auto' muted src='/m0.wav'></audio><video preload='auto' muted "
                                 "src='/m1.wav'></video><audio autoplay muted src='/m2.wav'></audio><script>var a = "
                                 "new Audio(); a.preload = 'auto'; a.src = '/m3.wav'; a.load(); var p = "
                                 "document.createElement('audio'); p.muted = true; p.src = '/m4.wav'; "
                                 "p.play().catch(function() {}); setTimeout(function() { a.src = '/m5.wav'; }, "
                                 "500);</script>"));
    server.AddPage("/short.wav", Wav(1), "audio/wav");
    server.AddPage("/sound.html", Page("sound", "<audio id='s' src='/short.wav'></audio><button id='b' onclick=\""
                                                "document.getElementById('s').play()\">play</button><script>document."
                                                "getElementById('s').onplaying = function() { document.title = "
                                                "'playing'; };</script>"));
    Open(server.Url("/media.html"));
    CountProcessEnds();
    uint64_t peak = 0;
    PumpUntil(
        [&] {
            peak = std::max(peak, EngineFilesOnDisk());
            return processEnds > 0;
        },
        10000);
    EXPECT_LT(peak, 100u << 20);
    // Ended for the files it held, when it was.
    EXPECT_EQ(processEnds, log.Count("[browser] pages held more than"));
    // A short sound the user starts plays.
    panel->LoadUrl(server.Url("/sound.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "sound"));
    ASSERT_TRUE(MouseClick("b"));
    EXPECT_TRUE(WaitForPageTitle(view, "playing"));
}

// Media as most pages write it: no preload attribute, a long clip served in ranges.
TEST_F(PageContextTest, AClipNobodyStartsLoadsNoMoreThanItsStartAndThePageStays)
{
    // 16 MB; the engine would load it whole by itself.
    server.AddPage("/clip.wav", Wav(2000), "audio/wav");
    server.AddPage("/clip.html", Page("clip", "<audio id='s' controls src='/clip.wav'></audio><script>document."
                                              "getElementById('s').onloadedmetadata = function() { document.title "
                                              "= 'metadata'; };</script>"));
    Open(server.Url("/clip.html"));
    CountProcessEnds();
    ASSERT_TRUE(WaitForPageTitle(view, "metadata"));
    // Whatever it would load comes within seconds from 127.0.0.1.
    PumpWatchingDisk([&] { return processEnds > 0 || diskPeak > (1u << 20); }, 4000);
    EXPECT_EQ(0u, processEnds);
    EXPECT_LE(diskPeak, 1u << 20);
    EXPECT_EQ("ok", EvalInPage(view, "var s = document.getElementById('s'); s.buffered.length == 0 || "
                                     "s.buffered.end(s.buffered.length - 1) < s.duration / 2 ? 'ok' : 'loaded'"));
}

TEST_F(PageContextTest, AClipTheUserStartsPlaysToItsEndAfterASeekWithNothingOnDisk)
{
    server.AddPage("/clip.wav", Wav(2000), "audio/wav");
    server.AddPage("/clip.html", Page("clip", "<audio id='s' controls src='/clip.wav'></audio><button id='b' "
                                              "onclick=\"document.getElementById('s').play()\">play</button>"
                                              "<script>var s = document.getElementById('s'); s.onplaying = "
                                              "function() { document.title = 'playing'; }; s.onended = function() "
                                              "{ document.title = 'ended'; };</script>"));
    Open(server.Url("/clip.html"));
    CountProcessEnds();
    ASSERT_TRUE(WaitForPageTitle(view, "clip"));
    ASSERT_TRUE(MouseClick("b"));
    ASSERT_TRUE(WaitForPageTitle(view, "playing"));
    EXPECT_TRUE(PumpWatchingDisk([&] { return std::atof(EvalInPage(view, "s.currentTime").c_str()) > 0.5; }, 10000));
    // Near the end, past all that a download would have written by then.
    EvalInPage(view, "s.currentTime = s.duration - 2");
    EXPECT_TRUE(PumpWatchingDisk([&] { return view->GetCurrentTitle() == wxS("ended"); }, 15000));
    EXPECT_EQ(0u, processEnds);
    EXPECT_LE(diskPeak, 1u << 20);
}

TEST_F(PageContextTest, MediaPastTheFilesBoundIsStoppedAndThePageStays)
{
    LogCapture log;
    bcx::PageLimits limits;
    // The engine buffers the clip on disk, as it does by itself.
    limits.mediaStreamed = false;
    limits.pageFilesMiB = 8;
    SetLimits(limits);
    server.AddPage("/clip.wav", Wav(2000), "audio/wav");
    server.AddPage("/clip.html", Page("clip", "<audio id='s' controls src='/clip.wav'></audio><script>document."
                                              "getElementById('s').onerror = function() { document.title = "
                                              "'stopped'; };</script>"));
    Open(server.Url("/clip.html"));
    CountProcessEnds();
    EXPECT_TRUE(PumpWatchingDisk([&] { return view->GetCurrentTitle() == wxS("stopped") || processEnds > 0; }, 15000));
    EXPECT_EQ(1u, log.Count("[browser] pages held more than 8 MiB of files on disk"));
    EXPECT_EQ(1u, log.Count("was stopped"));
    // The page goes on, without the clip's file.
    EXPECT_TRUE(PumpWatchingDisk([] { return EngineFilesOnDisk() == 0; }, 5000));
    EXPECT_EQ(0u, processEnds);
    EXPECT_EQ("2", EvalInPage(view, "1 + 1"));
}

} // namespace
