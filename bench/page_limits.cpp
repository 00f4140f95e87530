// Hostile pages: what they cost the program and whether the relay is served meanwhile.
//
// On a private Xvfb display a browser panel (as in the program's News page and browser dialog) shows
// pages served on 127.0.0.1. The client is logged on to our test relay server, which runs on a thread of
// its own and pings the client every 100 ms. Each case runs in a fresh process:
//   - flood:    a page follows 100,000 `bcx:ext_browser/` links by script (no click: each one refused);
//   - growth:   a page takes 8 MB more every 100 ms (every page of it written), up to 3 GB;
//   - storage:  a page stores up to 300 MB in IndexedDB and cache storage and fills its local storage;
//   - hashes:   a page sets location.hash 300,000 times, 500 per timer turn (each one a navigation the
//               program decides and allows);
//   - longhash: a page sets location.hash to a 4 MB fragment every 50 ms, 100 times;
//   - states:   30 documents of one site each push six 10 MB history states, then go on to the next;
//   - media:    a page has 12 muted <audio preload="auto"> on 25 MB sound files served without ranges;
//   - tooltip:  an element that fills the page has a title of a megabyte, new every second, for 20 s,
//               while the pointer moves over it a little every second (a tooltip shows between moves).
//   - clip:     a News page with a 10-minute clip (115 MB WAV, `<audio controls>` without preload, served
//               in ranges) that nobody starts, watched for 40 s;
//   - playclip: the same clip started with a real click, played 20 s, then moved by script to 20 s
//               before its end and played to its end;
//   - scroll:   a reader scrolls an endless page of articles (text and a 640x360 image each) with real
//               wheel steps, one every 150 ms, for 5 minutes (--scroll-seconds=N for another length).
// ordinary pages, the first two while the relay feeds the client a watched game of 60 MB (4 KB a block,
// one block per turn of the relay's thread), with the program clock running ten or twenty times faster
// than real time (the pages' timers are set to match):
//   - slideshow: a slide (location.hash) every 250 ms of the program clock for ten minutes;
//   - feed:      an infinite-scroll page adds an article and a history entry (pushState) every 200 ms for a
//                minute, its window made 2560x1440 meanwhile;
//   - hour:      a page sets location.hash at 7 a second of the program clock (the rate admitted is 8) for
//                an hour;
// and more hostile pages:
//   - names:     an iframe with a 5 MB name every 500 ms, 20 of them;
//   - replace:   history.replaceState with a 40 MB state, then ten documents of 20 MB states each;
//   - hash16:    location.hash set to 16 MB once.
// Measured for each: the program's own RSS growth (peak, and what it still holds a few seconds after the
// next ordinary page; the page server runs in the same process, and copies a page it serves while it
// answers: up to twice 25 MB more for the media), the peak RSS of all its processes together (the program and the engine processes
// it started), the longest wait for a ping's echo, when the page was stopped or ended, and the disk
// written: the bytes below the XDG data and cache directories afterwards, and the peak of the files the
// engine processes hold open that are deleted (shared memory aside) or below /var/tmp.
// Goals: growth below 100 MB (the game's data aside), every echo within 5 s, all processes together below
// 4 GB, disk below 100 MB; ordinary pages neither refused nor stopped.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <wx/evtloop.h>
#include <wx/uiaction.h>
#include <wx/webview.h>

#include "BenchGui.h"
#include "browser/BrowserPanel.h"
#include "core/ClientCore.h"
#include "peers/TestRelayServer.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/PageServer.h"
#include "support/Processes.h"
#include "support/Pump.h"
#include "support/WxLoopback.h"
#include "support/gui/WebPages.h"
#include "core/GameRecords.h"
#include "platform/ProgramClock.h"
#include "ui/MemoryPages.h"

// Last: X11's names (True, None, ...) are macros.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double ownGrowthMiB;    // the program's RSS, peak minus before
    double allPeakMiB;      // the program and its descendants, peak
    double longestEchoMs;   // the longest wait for a ping's echo
    double endedAfterS;     // until the page was stopped or ended; -1 when it was not
    double diskMiB;         // below the XDG data and cache directories
    double heldFilesMiB;    // deleted or /var/tmp files the engine processes held open, peak
    double ownHeldMiB;      // the program's RSS after the next ordinary page, minus before
    double pageProcessMiB;  // the largest page process at the end of the case
    bool playedToEnd;       // playclip: the clip's "ended" came
    double playedS;         // playclip: where the clip was after 20 s
    int scrolledArticles;   // scroll: the articles the page had made
    bool refused;           // a navigation of the page was refused
    double doneAfterS;      // until the page had done all it does; -1 when it had not
};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

long TreeRssKiB(const std::vector<pid_t>& tree)
{
    long total = 0;
    for (const pid_t pid : tree)
        total += bcxtest::RssKiB(pid);
    return total;
}

// Our relay on a thread of its own: the client's answers are timed from the relay's side, whatever the
// program's event loop is busy with.
class PingingRelay {
public:
    // Before Start only.
    bcxtest::TestRelayServer& Server() { return mRelay; }
    bool Start()
    {
        if (!mRelay.Start())
            return false;
        mThread = std::thread([this] { Run(); });
        return true;
    }
    ~PingingRelay()
    {
        mStop = true;
        if (mThread.joinable())
            mThread.join();
    }
    uint16_t Port() const { return mRelay.Port(); }
    void StartPinging() { mPinging = true; }
    // The longest wait for an echo so far, pings still waiting included.
    double LongestEchoMs()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        double longest = mLongest;
        for (const auto& sent : mWaiting)
            longest = std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - sent.second).count());
        return longest;
    }

private:
    void Run()
    {
        auto nextPing = Clock::now();
        size_t echoesSeen = 0;
        uint32_t value = 0;
        while (!mStop) {
            mRelay.Poll();
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lock(mMutex);
            for (; echoesSeen < mRelay.Echoes().size(); ++echoesSeen) {
                const auto found = mWaiting.find(mRelay.Echoes()[echoesSeen].value);
                if (found == mWaiting.end())
                    continue;
                mLongest = std::max(mLongest, std::chrono::duration<double, std::milli>(now - found->second).count());
                mWaiting.erase(found);
            }
            if (mPinging && now >= nextPing && mRelay.LastConnection()) {
                mRelay.SendPing(mRelay.LastConnection(), ++value);
                mWaiting[value] = now;
                nextPing = now + std::chrono::milliseconds(100);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    bcxtest::TestRelayServer mRelay;
    std::thread mThread;
    std::atomic<bool> mStop{false};
    std::atomic<bool> mPinging{false};
    std::mutex mMutex;
    std::map<uint32_t, Clock::time_point> mWaiting;
    double mLongest = 0;
};

const char* const kFlood = "<script>var a = document.createElement('a'); for (var i = 0; i < 100000; ++i) { a.href = "
                           "'bcx:ext_browser/http://127.0.0.1/' + i; a.click(); }</script>flood";
const char* const kGrowth = "<script>var kept = [], t = setInterval(function() { var a = new Uint8Array(8 << 20); for "
                            "(var i = 0; i < a.length; i += 4096) a[i] = 1; kept.push(a); if (kept.length == 384) "
                            "clearInterval(t); }, 100);</script>growth";
const char* const kStorage =
    "<script>var seed = 12345; function chunk() { var a = new Uint32Array(262144); for (var i = 0; i < a.length; "
    "++i) { seed ^= seed << 13; seed ^= seed >>> 17; seed ^= seed << 5; a[i] = seed; } return a.buffer; } async "
    "function idb() { var db = await new Promise(function(ok, ko) { var r = indexedDB.open('x', 1); "
    "r.onupgradeneeded = function() { r.result.createObjectStore('s'); }; r.onsuccess = function() { "
    "ok(r.result); }; r.onerror = function() { ko(r.error); }; }); for (var n = 0; n < 150; ++n) await new "
    "Promise(function(ok, ko) { var t = db.transaction('s', 'readwrite'); t.objectStore('s').put(chunk(), n); "
    "t.oncomplete = ok; t.onerror = t.onabort = function() { ko(t.error); }; }); } async function cache() { var c "
    "= await caches.open('c'); for (var n = 0; n < 150; ++n) await c.put('/c' + n, new Response(chunk())); } "
    "try { for (var n = 0; n < 100; ++n) localStorage.setItem('k' + n, String(n).repeat(1 << 19)); } catch (e) {} "
    "idb().catch(function() {}).then(cache).catch(function() {}).then(function() { document.title = 'stored'; "
    "});</script>storage";
const char* const kHashes = "<script>var n = 0; (function turn() { for (var i = 0; i < 500 && n < 300000; ++i) "
                            "location.hash = 'h' + n++; if (n < 300000) setTimeout(turn, 0); else document.title = "
                            "'done'; })();</script>hashes";
const char* const kLongHash = "<script>var big = 'x'.repeat(4 << 20), n = 0, t = setInterval(function() { "
                              "location.hash = big + n; if (++n == 100) { clearInterval(t); document.title = 'done'; "
                              "} }, 50);</script>long hash";
const int kStateDocuments = 30;
const int kMediaFiles = 12;
// The clip's page; "done" once it played to its end.
const char* const kClip = "<h1>News</h1><p>Today's games.</p><audio id='s' controls src='/clip.wav'></audio><button "
                          "id='b' onclick=\"document.getElementById('s').play()\">play</button><script>var s = "
                          "document.getElementById('s'); s.onplaying = function() { document.title = 'playing'; }; "
                          "s.onended = function() { document.title = 'done'; };</script>";
// Articles come in fives as the reader nears the end; each has its own image.
const int kScrollImages = 4000;
const char* const kScroll =
    "<style>article { width: 680px; margin: 20px auto; font: 16px serif; } img { display: block; width: 640px; "
    "height: 360px; }</style><div id='feed'></div><script>var n = 0, text = 'A reader reads the news of the day '"
    ".repeat(40); function more() { for (var k = 0; k < 5 && n < 4000; ++k, ++n) { var a = "
    "document.createElement('article'); a.innerHTML = '<h2>Article ' + n + '</h2><img src=\"/i' + n + "
    "'.png\"><p>' + text + '</p><p>' + text + '</p>'; document.getElementById('feed').appendChild(a); } } more(); "
    "more(); addEventListener('scroll', function() { if (innerHeight + scrollY > document.body.scrollHeight - "
    "3000) more(); });</script>";
int gScrollSeconds = 300;

// The document k of the site whose documents push large history states.
std::string StatesPage(int k)
{
    const std::string next = k + 1 < kStateDocuments ? "location = '/s" + std::to_string(k + 1) + ".html';"
                                                     : "document.title = 'done';";
    return bcxtest::Page("page", "<script>for (var i = 0; i < 6; ++i) try { history.pushState(new Uint8Array(10 "
                                 "<< 20), '', '?' + i); } catch (e) {} setTimeout(function() { " +
                                     next + " }, 300);</script>states");
}

const char* const kTooltip = "<div id='t' style='position:fixed;left:0;top:0;width:100%;height:100%'></div><script>var "
                             "n = 0, t0 = Date.now(); function retitle() { t.title = (n++ + ' text ').repeat(131072); "
                             "if (Date.now() - t0 > 20000) document.title = 'done'; } retitle(); "
                             "setInterval(retitle, 1000);</script>";

// The pointer moves over the view a few pixels every second: the toolkit shows a tooltip once it rests.
void MovePointerOver(wxWebView* view, Clock::time_point& moved)
{
    if (Clock::now() - moved < std::chrono::seconds(1))
        return;
    moved = Clock::now();
    static int step = 0;
    ++step;
    wxUIActionSimulator().MouseMove(view->GetScreenPosition() + wxPoint(300 + step % 2 * 4, 200 + step % 3 * 4));
}

const char* const kSlideshow = "<script>var n = 0, t = setInterval(function() { location.hash = 's' + n; if (++n == "
                               "2400) { clearInterval(t); document.title = 'done'; } }, 25);</script>slideshow";
const char* const kFeed = "<script>var n = 0, t = setInterval(function() { var p = document.createElement('p'); "
                            "p.textContent = 'article ' + n + ' ' + 'text '.repeat(2000); document.body.appendChild(p); "
                            "history.pushState({n: n}, '', '?article=' + n); if (++n == 300) { clearInterval(t); "
                            "document.title = 'done'; } }, 200);</script>scroll";
const char* const kHour = "<script>var n = 0, t = setInterval(function() { location.hash = 'h' + n; if (++n == 25200) "
                          "{ clearInterval(t); document.title = 'done'; } }, 7);</script>hour";
const char* const kNames = "<script>var big = 'x'.repeat(5 << 20), n = 0, t = setInterval(function() { var f = "
                           "document.createElement('iframe'); f.name = big + n; document.body.appendChild(f); if "
                           "(++n == 20) { clearInterval(t); document.title = 'done'; } }, 500);</script>names";
const char* const kHash16 = "<script>location.hash = 'x'.repeat(16 << 20); document.title = 'done';</script>hash16";
const int kReplaceDocuments = 11;

// The document k of the site whose documents replace their history state with a large one.
std::string ReplacePage(int k)
{
    const std::string next = k + 1 < kReplaceDocuments ? "location = '/r" + std::to_string(k + 1) + ".html';"
                                                       : "document.title = 'done';";
    return bcxtest::Page("page", "<script>history.replaceState('x'.repeat(" + std::string(k == 0 ? "40" : "20") +
                                     " << 20), ''); setTimeout(function() { " + next + " }, 500);</script>replace");
}

enum class Case {
    Flood, Growth, Storage, Hashes, LongHash, States, Media, Tooltip, Clip, PlayClip, Scroll,
    Slideshow, Feed, Hour, Names, Replace, Hash16
};

// The ordinary pages: the program clock runs this many times faster than real time.
unsigned ClockFactor(Case which)
{
    return which == Case::Slideshow ? 10 : which == Case::Hour ? 20 : which == Case::Feed ? 1 : 0;
}

void AddPages(Case which, bcxtest::PageServer& server)
{
    switch (which) {
    case Case::Flood: server.AddPage("/p.html", bcxtest::Page("page", kFlood)); break;
    case Case::Growth: server.AddPage("/p.html", bcxtest::Page("page", kGrowth)); break;
    case Case::Storage: server.AddPage("/p.html", bcxtest::Page("page", kStorage)); break;
    case Case::Hashes: server.AddPage("/p.html", bcxtest::Page("page", kHashes)); break;
    case Case::LongHash: server.AddPage("/p.html", bcxtest::Page("page", kLongHash)); break;
    case Case::Tooltip: server.AddPage("/p.html", bcxtest::Page("page", kTooltip)); break;
    case Case::States:
        for (int k = 0; k < kStateDocuments; ++k)
            server.AddPage(k == 0 ? "/p.html" : "/s" + std::to_string(k) + ".html", StatesPage(k));
        break;
    case Case::Slideshow: server.AddPage("/p.html", bcxtest::Page("page", kSlideshow)); break;
    case Case::Feed: server.AddPage("/p.html", bcxtest::Page("page", kFeed)); break;
    case Case::Hour: server.AddPage("/p.html", bcxtest::Page("page", kHour)); break;
    case Case::Names: server.AddPage("/p.html", bcxtest::Page("page", kNames)); break;
    case Case::Hash16: server.AddPage("/p.html", bcxtest::Page("page", kHash16)); break;
    case Case::Replace:
        for (int k = 0; k < kReplaceDocuments; ++k)
            server.AddPage(k == 0 ? "/p.html" : "/r" + std::to_string(k) + ".html", ReplacePage(k));
        break;
    case Case::Media: {
        std::string body;
        // 25 MB of sound each.
        const std::string sound = bcxtest::Wav(3200);
        for (int i = 0; i < kMediaFiles; ++i) {
            const std::string path = "/m" + std::to_string(i) + ".wav";
            server.AddPage(path, sound, "audio/wav", "Accept-Ranges: none\r\n");
            body += "<audio preload='auto' muted src='" + path + "'></audio>";
        }
        server.AddPage("/p.html", bcxtest::Page("page", body + "media"));
        break;
    }
    case Case::Clip:
    case Case::PlayClip:
        // 48 kHz 16-bit stereo: 115 MB.
        server.AddPage("/clip.wav", bcxtest::Wav(600, 48000, 2, 16), "audio/wav");
        server.AddPage("/p.html", bcxtest::Page("page", kClip));
        break;
    case Case::Scroll: {
        const std::string png = bcxtest::Png(640, 360);
        for (int n = 0; n < kScrollImages; ++n)
            server.AddPage("/i" + std::to_string(n) + ".png", png, "image/png");
        server.AddPage("/p.html", bcxtest::Page("page", kScroll));
        break;
    }
    }
}

// A real click on the element of the page, as the user makes it.
bool ClickElement(wxWebView* view, const std::string& id)
{
    const std::string where = "var r = document.getElementById('" + id +
                              "').getBoundingClientRect(); Math.round(r.left + 5) + ',' + Math.round(r.top + "
                              "r.height / 2)";
    int x = 0, y = 0;
    if (std::sscanf(bcxtest::EvalInPage(view, where).c_str(), "%d,%d", &x, &y) != 2)
        return false;
    wxUIActionSimulator mouse;
    return mouse.MouseMove(view->ClientToScreen(wxPoint(x, y))) && mouse.MouseClick();
}

// One real step of the mouse wheel, down, where the pointer is.
void WheelDown(Display* display)
{
    XTestFakeButtonEvent(display, 5, True, CurrentTime);
    XTestFakeButtonEvent(display, 5, False, CurrentTime);
    XFlush(display);
}

int RunCase(Case which, Figures& out)
{
    // Each run has data and cache directories of its own, set before the toolkit reads them.
    char dirTemplate[] = "/tmp/bcx-bench-xdg-XXXXXX";
    if (!mkdtemp(dirTemplate))
        return 2;
    const std::string home = dirTemplate;
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    const int rc = bench::RunWithGuiToolkit("[Net]\nDatagramPort=0\nSessionPort=0\n", [&] {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        wxLog::EnableLogging(true);
        bcxtest::LogCapture log;
        bcx::RegisterMemoryPages();
        ClientCore* core = ClientCore::Get();
        core->Settings().mUserName = "bencher";
        PingingRelay relay;
        bcxtest::PageServer server;
        const bool fed = which == Case::Slideshow || which == Case::Feed;
        if (fed) {
            // 60 MB in blocks of 4 KB, one block per turn of the relay's thread.
            bcxtest::RelayGame game = bcxtest::TestRelayServer::MakeFinished1v1(0x1001, 0);
            for (uint32_t i = 0; i < 15360; ++i)
                game.entries.push_back(bcxtest::RelayEntry{i, std::string(4088, 'g')});
            relay.Server().AddGame(game);
            relay.Server().Options().maxBlocksPerPoll = 1;
        }
        if (!relay.Start() || !server.IsListening()) {
            std::fprintf(stderr, "no relay or page server\n");
            return 2;
        }
        core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
        if (!bcxtest::PumpUntil([&] { return core->GetRelayState() == RelayLoggedOn; }, 10000)) {
            std::fprintf(stderr, "not logged on\n");
            return 2;
        }

        bench::AboutPanel about;
        if (!about.Open())
            return 2;
        // The engine has settled on the built-in page.
        bcxtest::PumpUntil([] { return false; }, 2000);

        // The pages are served from this process: they are in place before the program is measured.
        AddPages(which, server);
        server.AddPage("/next.html", bcxtest::Page("next", "next"));
        bcxtest::PumpUntil([] { return false; }, 1000);
        const pid_t self = getpid();
        const long ownBefore = bcxtest::RssKiB(self);
        long ownPeak = ownBefore, allPeak = 0;
        uint64_t heldPeak = 0;
        const auto sample = [&] {
            ownPeak = std::max(ownPeak, bcxtest::RssKiB(self));
            allPeak = std::max(allPeak, TreeRssKiB(bcxtest::ProcessTree()));
            heldPeak = std::max(heldPeak, bcxtest::EngineFilesOnDisk());
        };
        Game* game = nullptr;
        if (fed) {
            core->RequestGameList();
            bcxtest::PumpUntil([&] { return (game = core->GetGame(0x1001)) && game->mInfo; }, 10000);
            if (!game) {
                std::fprintf(stderr, "no game\n");
                return 2;
            }
        }
        relay.StartPinging();
        const auto start = Clock::now();
        // The program clock runs faster than real time for the ordinary pages that a count used to bound.
        std::unique_ptr<bcxtest::ScopedPumpHook> clock;
        if (ClockFactor(which) > 1) {
            const uint32_t base = bcx::ProgramClock::Now();
            bcx::ProgramClock::SetManual(true);
            clock = std::make_unique<bcxtest::ScopedPumpHook>([base, which, start] {
                bcx::ProgramClock::Set(base + static_cast<uint32_t>(Seconds(Clock::now() - start) * 1000 *
                                                                    ClockFactor(which)));
            });
        }
        about.panel->LoadUrl(server.Url("/p.html"));
        if (game)
            core->SubscribeGame(game, true);
        if (which == Case::Feed)
            wxGetTopLevelParent(about.panel)->SetSize(2560, 1440);
        const bool media = which == Case::Media || which == Case::Clip || which == Case::PlayClip;
        const auto ended = [&] {
            return log.Contains("[browser] page stopped") || log.Contains("[browser] the page's process exceeded") ||
                   log.Contains("[browser] pages held more than");
        };
        out.endedAfterS = -1;
        out.doneAfterS = -1;
        const auto limit = std::chrono::seconds(which == Case::Scroll ? gScrollSeconds : media ? 40 : which == Case::Hour ? 240 : 120);
        Display* display = which == Case::Scroll ? XOpenDisplay(nullptr) : nullptr;
        if (which == Case::PlayClip) {
            bcxtest::WaitForPageText(about.view, "News");
            ClickElement(about.view, "b");
        }
        if (display) {
            // The pointer rests over the page.
            bcxtest::WaitForPageText(about.view, "Article 9");
            wxUIActionSimulator().MouseMove(about.view->ClientToScreen(wxPoint(400, 300)));
        }
        bool moved = false;
        auto pointerMoved = Clock::now() - std::chrono::seconds(1);
        auto nextWheel = Clock::now();
        for (auto until = start + limit; Clock::now() < until;) {
            bcxtest::PumpUntil([] { return false; }, display ? 20 : 100);
            if (which == Case::Tooltip)
                MovePointerOver(about.view, pointerMoved);
            sample();
            if (display && Clock::now() >= nextWheel) {
                WheelDown(display);
                nextWheel += std::chrono::milliseconds(150);
            }
            about.view = bcxtest::FindWebView(about.panel);
            const wxString title = about.view ? about.view->GetCurrentTitle() : wxString();
            if (title == wxS("stored") || title == wxS("done")) {
                out.playedToEnd = true;
                out.doneAfterS = Seconds(Clock::now() - start);
                break;
            }
            // Played for 20 s: on to 20 s before the end.
            if (which == Case::PlayClip && !moved && Clock::now() - start > std::chrono::seconds(20)) {
                out.playedS = std::atof(bcxtest::EvalInPage(about.view, "s.currentTime").c_str());
                bcxtest::EvalInPage(about.view, "s.currentTime = s.duration - 20");
                moved = true;
                until = Clock::now() + std::chrono::seconds(40);
            }
            if (out.endedAfterS < 0 && ended()) {
                out.endedAfterS = Seconds(Clock::now() - start);
                // The relay is watched a little longer.
                until = Clock::now() + std::chrono::seconds(3);
            }
        }
        if (display) {
            out.scrolledArticles = std::atoi(bcxtest::EvalInPage(about.view, "n").c_str());
            XCloseDisplay(display);
        }
        for (const pid_t pid : bcxtest::EngineProcesses("WebKitWebProces"))
            out.pageProcessMiB = std::max(out.pageProcessMiB, bcxtest::RssKiB(pid) / 1024.0);
        out.refused = log.Contains("[browser] navigations refused");
        clock.reset();
        bcx::ProgramClock::SetManual(false);
        // What the program still holds once the next ordinary page is shown (in a view made anew, when the
        // page went with its view).
        about.panel->LoadUrl(server.Url("/next.html"));
        about.view = bcxtest::FindWebView(about.panel);
        bcxtest::WaitForPageTitle(about.view, "next");
        bcxtest::PumpUntil([] { return false; }, 3000);
        sample();
        out.ownHeldMiB = (bcxtest::RssKiB(self) - ownBefore) / 1024.0;
        out.ownGrowthMiB = (ownPeak - ownBefore) / 1024.0;
        out.allPeakMiB = allPeak / 1024.0;
        out.longestEchoMs = relay.LongestEchoMs();
        out.diskMiB = (bcxtest::BytesBelow(home + "/data") + bcxtest::BytesBelow(home + "/cache")) / 1048576.0;
        out.heldFilesMiB = heldPeak / 1048576.0;
        about.Close();
        ClientCore::Get(true);
        return 0;
    });
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    const struct {
        Case which;
        const char* name;
    } cases[] = {{Case::Flood, "flood"},   {Case::Growth, "growth"},     {Case::Storage, "storage"},
                 {Case::Hashes, "hashes"}, {Case::LongHash, "longhash"}, {Case::States, "states"},
                 {Case::Media, "media"},   {Case::Tooltip, "tooltip"},   {Case::Clip, "clip"},         {Case::PlayClip, "playclip"},
                 {Case::Scroll, "scroll"},
                 {Case::Slideshow, "slideshow"}, {Case::Feed, "feed"}, {Case::Hour, "hour"},
                 {Case::Names, "names"},   {Case::Replace, "replace"},   {Case::Hash16, "hash16"}};
    // Cases may be named on the command line; all run without.
    std::vector<std::string> named;
    for (int i = 1; i < argc; ++i)
        if (std::sscanf(argv[i], "--scroll-seconds=%d", &gScrollSeconds) != 1)
            named.push_back(argv[i]);
    int failures = 0;
    for (const auto& c : cases) {
        if (!named.empty() && std::find(named.begin(), named.end(), c.name) == named.end())
            continue;
        Figures f{};
        if (!bench::RunInFreshProcess([&](Figures& out) { return RunCase(c.which, out); }, f)) {
            std::printf("%-8s run failed\n", c.name);
            ++failures;
            continue;
        }
        std::printf("%-8s own RSS growth %6.1f MiB (goal < 100), %6.1f after the next page  all processes peak "
                    "%7.1f MiB (goal < 4096)  longest echo %5.0f ms (goal < 5000)  disk %5.1f MiB, held files %5.1f "
                    "MiB (goal < 100)",
                    c.name, f.ownGrowthMiB, f.ownHeldMiB, f.allPeakMiB, f.longestEchoMs, f.diskMiB, f.heldFilesMiB);
        if (c.which != Case::Storage && c.which != Case::Media)
            std::printf(f.endedAfterS < 0 ? "  page not stopped" : "  page stopped after %.1f s", f.endedAfterS);
        std::printf("  page process at the end %.0f MiB", f.pageProcessMiB);
        if (c.which == Case::PlayClip)
            std::printf("  at %.1f s after 20 s, %s", f.playedS, f.playedToEnd ? "played to its end" : "not played to its end");
        if (c.which == Case::Scroll)
            std::printf("  %d articles", f.scrolledArticles);
        if (ClockFactor(c.which) > 0)
            std::printf(f.refused ? ", navigations refused" : ", no navigation refused");
        if (ClockFactor(c.which) > 0 && f.doneAfterS >= 0)
            std::printf(", all done after %.0f s", f.doneAfterS);
        std::printf("\n");
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
