// Pages that navigate without end, to very long addresses, or that fill what the engine keeps for them:
// the program refuses what goes past its bounds, stops the page, keeps its own memory bounded and serves
// the relay meanwhile; ordinary pages keep their history, back and forward, and are never refused nor
// stopped for the program's own growth or for their pace.

#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include "browser/HtmlBrowserCtrl.h"
#include "browser/webbrowser/PageBounds.h"
#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "platform/ProgramClock.h"
#include "support/LogCapture.h"
#include "support/Processes.h"
#include "support/Text.h"
#include "support/gui/PanelFixture.h"

// Last: the window system's macros would clash with the names above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace bcxtest;

// With the address sanitizer, what it holds back of freed memory is given back first.
extern "C" __attribute__((weak)) void __sanitizer_purge_allocator();

// The program's own resident memory once the engine had time to give back what it freed.
long HeldRssMiB()
{
    bcxtest::PumpUntil([] { return false; }, 2000);
    if (__sanitizer_purge_allocator)
        __sanitizer_purge_allocator();
    return RssKiB(getpid()) / 1024;
}

// Makes every page of the memory resident, a little at a time: a page a write.
void Touch(char* memory, size_t bytes)
{
    for (size_t at = 0; at < bytes; at += 4096)
        static_cast<volatile char*>(memory)[at] = 1;
}

// A panel in a frame, the client logged on to our relay.
class PageBoundsTest : public PanelTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PanelTest::SetUp());
        ASSERT_TRUE(LogOn());
    }

    void TearDown() override
    {
        bcx::SetPageBoundLimits(bcx::PageBoundLimits());
        bcx::ProgramClock::SetManual(false);
        PanelTest::TearDown();
    }

    // The relay feeds the client a game of megabytes (MiB), which it keeps.
    Game* FeedGame(size_t megabytes)
    {
        RelayGame game = TestRelayServer::MakeFinished1v1(0x1001, 0);
        for (size_t i = 0; i < megabytes; ++i)
            game.entries.push_back(RelayEntry{static_cast<uint32_t>(i), std::string(1 << 20, 'g')});
        relay.AddGame(game);
        ClientCore::Get()->RequestGameList();
        Game* fed = nullptr;
        PumpUntil([&] { return (fed = ClientCore::Get()->GetGame(0x1001)) && fed->mInfo; });
        if (fed)
            ClientCore::Get()->SubscribeGame(fed, true);
        return fed;
    }

    int Evaluated(const std::string& script) { return std::atoi(EvalInPage(view, script).c_str()); }
};

TEST_F(PageBoundsTest, APageNavigatingWithoutEndIsStoppedWhileTheRelayIsServed)
{
    LogCapture log;
    // 300,000 same-document navigations, 500 per timer turn, each one allowed.
    server.AddPage("/hashes.html", Page("hashes", "<script>var n = 0; (function turn() { for (var i = 0; i < 500 && n "
                                                  "< 300000; ++i) location.hash = 'h' + n++; if (n < 300000) "
                                                  "setTimeout(turn, 0); })();</script>hashes"));
    Open(server.Url("/hashes.html"));
    const auto stopped = [&] { return log.Contains("[browser] page stopped"); };
    for (uint32_t marker = 1; !stopped(); ++marker) {
        ASSERT_LT(marker, 60u);
        ASSERT_TRUE(RelayEchoed(relay, marker, 5000)) << marker;
        PumpUntil(stopped, 1000);
    }
    ASSERT_TRUE(RelayEchoed(relay, 0xF100D, 5000));
    EXPECT_EQ(1u, log.Count("[browser] navigations refused: more than 8 a second after a burst of 200: " +
                            Utf8(server.Url("/hashes.html"))));
    EXPECT_EQ(1u, log.Count("[browser] page stopped: more than 100 of its requests refused"));
}

TEST_F(PageBoundsTest, WhatAPagePutsInItsHistoryLeavesTheProgramBounded)
{
    LogCapture log;
    // A 4 MB fragment every 50 ms.
    server.AddPage("/long.html", Page("long", "<script>var big = 'x'.repeat(4 << 20), n = 0, t = setInterval(function() "
                                              "{ location.hash = big + n; if (++n == 40) { clearInterval(t); "
                                              "document.title = 'done'; } }, 50);</script>long"));
    // Documents of one site that each push six 10 MB states, then go on to the next.
    const int documents = 8;
    for (int k = 0; k < documents; ++k)
        server.AddPage("/s" + std::to_string(k) + ".html",
                       Page("s" + std::to_string(k),
                            "<script>for (var i = 0; i < 6; ++i) try { history.pushState(new Uint8Array(10 << 20), '', "
                            "'?' + i); } catch (e) {} setTimeout(function() { location = '/s" +
                                std::to_string(k + 1) + ".html'; }, 200);</script>states"));
    server.AddPage("/one.html", Page("one", "<script>if (!location.hash) { for (var i = 1; i <= 3; ++i) "
                                            "history.pushState({n: i, text: 'x'.repeat(1000)}, '', '#' + i); "
                                            "history.back(); }</script>one"));
    server.AddPage("/two.html", Page("two", "two"));
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast"));
    const long before = HeldRssMiB();

    panel->LoadUrl(server.Url("/long.html"));
    EXPECT_TRUE(PumpUntil([&] { return log.Contains("[browser] page stopped"); }, 30000));
    EXPECT_EQ(1u, log.Count("[browser] page stopped: it asked for an address longer than 32768 bytes: " +
                            Utf8(server.Url("/long.html#xxx"))));
    EXPECT_TRUE(RelayEchoed(relay, 0xA, 5000));
    EXPECT_LT(HeldRssMiB() - before, 100);

    panel->LoadUrl(server.Url("/s0.html"));
    EXPECT_TRUE(PumpUntil([&] { return log.Count("[browser] page stopped") == 2; }, 60000));
    EXPECT_EQ(1u, log.Count("[browser] page stopped: the web engine held"));
    EXPECT_TRUE(RelayEchoed(relay, 0xB, 5000));
    EXPECT_LT(HeldRssMiB() - before, 100);
    // The page went with its view.
    view = FindWebView(panel);

    // Ordinary states, addresses and pages keep their history.
    panel->LoadUrl(server.Url("/one.html"));
    ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "location.hash + history.state.n") == "#22"; }));
    panel->LoadUrl(server.Url("/two.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "two"));
    EXPECT_TRUE(panel->GetBrowser()->GoBack());
    EXPECT_TRUE(PumpUntil([&] { return EvalInPage(view, "document.title + location.hash") == "one#2"; }));
    EXPECT_TRUE(panel->GetBrowser()->GoForward());
    EXPECT_TRUE(WaitForPageTitle(view, "two"));
}

TEST_F(PageBoundsTest, APageGoingToTheAddressOfABackMoveWithinItIsCounted)
{
    LogCapture log;
    bcx::PageBoundLimits limits;
    limits.navigationsPerSecond = 0;
    limits.navigationBurst = 1;
    bcx::SetPageBoundLimits(limits);
    server.AddPage("/a.html", Page("a", "<script>onload = function() { setTimeout(function() { location.hash = 'x'; "
                                        "}, 0); };</script>a"));
    Open(server.Url("/a.html"));
    ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "location.hash") == "#x"; }));
    // Back to the entry of the same document: no decision.
    ASSERT_TRUE(PumpUntil([&] { return panel->GetBrowser()->GoBack(); }));
    ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "location.hash") == ""; }));
    // The page then goes to that address itself: past its bound.
    EvalInPage(view, "location.href = '/a.html'");
    EXPECT_TRUE(PumpUntil([&] { return log.Contains("[browser] navigations refused"); }));
}

// The relay feeds a watched game and the window grows to 2560x1440 while an infinite-scroll page adds a
// history entry for every article: none of the program's growth is the page's.
TEST_F(PageBoundsTest, AnOrdinaryPageIsNotChargedForTheProgramsOwnGrowth)
{
    LogCapture log;
    server.AddPage("/scroll.html", Page("scroll", "<script>var n = 0; setInterval(function() { document.body."
                                                  "appendChild(document.createElement('p')).textContent = n; "
                                                  "history.pushState({n: n}, '', '?article=' + n++); }, 200);</script>"));
    Open(server.Url("/scroll.html"));
    Game* game = FeedGame(48);
    ASSERT_NE(nullptr, game);
    frame->SetSize(2560, 1440);
    ASSERT_TRUE(PumpUntil([&] { return game->mDownloadState == DownloadFinished && Evaluated("n") > 0; }, 60000));
    const int articles = Evaluated("n");
    EXPECT_TRUE(PumpUntil([&] { return Evaluated("n") > articles + 20; }, 20000));
    EXPECT_FALSE(log.Contains("[browser] page stopped"));
    EXPECT_TRUE(RelayEchoed(relay, 0xC, 5000));
}

// Frame names and a replaced history state add no history entry: the page goes all the same, with its
// view, and what it left with it.
TEST_F(PageBoundsTest, APageThatFillsTheEnginesShareGoesWithWhatItLeft)
{
    LogCapture log;
    bcx::PageBoundLimits limits;
    limits.maxEngineGrowthBytes = 32u << 20;
    bcx::SetPageBoundLimits(limits);
    server.AddPage("/names.html", Page("names", "<script>var big = 'x'.repeat(2 << 20), n = 0; setInterval(function() "
                                                "{ var f = document.createElement('iframe'); f.name = big + n++; "
                                                "document.body.appendChild(f); }, 100);</script>names"));
    server.AddPage("/state.html", Page("state", "<script>history.replaceState('x'.repeat(40 << 20), '');</script>"));
    server.AddPage("/next.html", Page("next", "next"));
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast"));
    const long before = HeldRssMiB();
    size_t stops = 0;
    for (const char* path : {"/names.html", "/state.html"}) {
        panel->LoadUrl(server.Url(path));
        EXPECT_TRUE(PumpUntil([&] { return log.Count("[browser] page stopped: the web engine held") > stops; }, 30000))
            << path;
        stops = log.Count("[browser] page stopped");
        EXPECT_TRUE(RelayEchoed(relay, 0xD, 5000));
        panel->LoadUrl(server.Url("/next.html"));
        view = FindWebView(panel);
        ASSERT_TRUE(WaitForPageTitle(view, "next"));
        EXPECT_LT(HeldRssMiB() - before, 32) << path;
    }
}

// A slide every 250 ms of the program clock for ten minutes is never refused.
TEST_F(PageBoundsTest, AnOrdinaryPacedPageIsNeverRefused)
{
    LogCapture log;
    bcx::ProgramClock::SetManual(true);
    server.AddPage("/slides.html", Page("slides", "slides"));
    Open(server.Url("/slides.html"));
    ASSERT_TRUE(WaitForPageText(view, "slides"));
    for (int slide = 10; slide <= 2400 && !log.Contains("refused"); slide += 10) {
        EvalInPage(view, "for (var i = " + std::to_string(slide - 10) + "; i < " + std::to_string(slide) +
                             "; ++i) location.hash = i;");
        ASSERT_TRUE(PumpUntil([&] { return Evaluated("location.hash.substr(1)") == slide - 1 || log.Contains("refused"); }));
        bcx::ProgramClock::Advance(2500);
    }
    EXPECT_FALSE(log.Contains("refused"));
}

// After a burst of navigations past the rate, the user's click on a link is not refused.
TEST_F(PageBoundsTest, AUsersClickIsNeverRefusedByACount)
{
    LogCapture log;
    bcx::ProgramClock::SetManual(true);
    server.AddPage("/burst.html", Page("burst", "<a id='next' href='#clicked'>next</a>"));
    Open(server.Url("/burst.html"));
    ASSERT_TRUE(WaitForPageText(view, "next"));
    EvalInPage(view, "for (var i = 0; i < 250; ++i) location.hash = i;");
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("[browser] navigations refused"); }));
    ASSERT_TRUE(MouseClick("next"));
    EXPECT_TRUE(PumpUntil([&] { return EvalInPage(view, "location.hash") == "#clicked"; }));
}

// The program takes address space before a page (a large calloc, a vector's room) and touches it while the
// page shows; gives a heap back and grows it again; frees a mapped block and maps another: none of it is
// the page's.
TEST_F(PageBoundsTest, TheProgramsOwnGrowthIntoWhatItTookBeforeIsNotChargedToThePage)
{
    LogCapture log;
    // Below what the engine held before (here 19 MiB): a baseline that fell would show.
    bcx::PageBoundLimits limits;
    limits.maxEngineGrowthBytes = 16u << 20;
    bcx::SetPageBoundLimits(limits);
    server.AddPage("/quiet.html", Page("quiet", "<script>var n = 0; setInterval(function() { "
                                                "history.replaceState({n: n++}, ''); }, 100);</script>quiet"));
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast"));
    const size_t callocBytes = 160u << 20, vectorBytes = 96u << 20, block = 64u << 10, blocks = 1600;
    char* taken = static_cast<char*>(std::calloc(1, callocBytes));
    ASSERT_NE(nullptr, taken);
    std::vector<char> room;
    room.reserve(vectorBytes);
    const auto stopped = [&] { return log.Contains("[browser] page stopped"); };
    // Grows by 8 MiB every tenth of a second, as the program does when it is fed.
    const auto touchSlowly = [&](char* memory, size_t bytes) {
        for (size_t at = 0; at < bytes && !stopped(); at += 8u << 20) {
            Touch(memory + at, std::min<size_t>(8u << 20, bytes - at));
            PumpUntil(stopped, 100);
        }
    };

    panel->LoadUrl(server.Url("/quiet.html"));
    ASSERT_TRUE(WaitForPageText(view, "quiet"));
    PumpUntil(stopped, 2000);
    touchSlowly(taken, callocBytes);
    room.resize(vectorBytes / 2);
    PumpUntil(stopped, 300);
    room.resize(vectorBytes);
    PumpUntil(stopped, 300);

    // A heap given back and grown again, touched a while after.
    std::vector<char*> heap;
    for (size_t i = 0; i < blocks; ++i)
        heap.push_back(static_cast<char*>(std::malloc(block)));
    for (char* b : heap)
        Touch(b, block);
    PumpUntil(stopped, 1500);
    for (char*& b : heap)
        std::free(b);
    PumpUntil(stopped, 1500);
    for (char*& b : heap)
        b = static_cast<char*>(std::malloc(block));
    PumpUntil(stopped, 1500);
    for (size_t i = 0; i < blocks && !stopped(); i += 128) {
        for (size_t j = i; j < std::min(blocks, i + 128); ++j)
            Touch(heap[j], block);
        PumpUntil(stopped, 100);
    }

    // A mapped block freed, another mapped and touched.
    std::free(taken);
    PumpUntil(stopped, 1500);
    taken = static_cast<char*>(std::calloc(1, callocBytes));
    ASSERT_NE(nullptr, taken);
    touchSlowly(taken, callocBytes);
    PumpUntil(stopped, 2000);

    EXPECT_FALSE(stopped());
    const int steps = Evaluated("n");
    EXPECT_TRUE(PumpUntil([&] { return Evaluated("n") > steps; }));
    EXPECT_TRUE(RelayEchoed(relay, 0xE, 5000));
    std::free(taken);
    for (char* b : heap)
        std::free(b);
}

// A page that names the article shown in its address as the user scrolls: 60 real wheel steps a second
// for a minute, then 60 presses of a key a second, are the user's, and every navigation they bring is
// admitted.
TEST_F(PageBoundsTest, ThePagesAnswerToTheUsersWheelAndKeysIsNeverRefused)
{
    LogCapture log;
    server.AddPage("/articles.html", Page("articles", "<div style='height: 5000000px'>articles</div><script>var n = 0; "
                                                      "onscroll = function() { location.hash = 'a' + n++; };</script>"));
    Open(server.Url("/articles.html"));
    ASSERT_TRUE(WaitForPageText(view, "articles"));
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(nullptr, display);
    // The pointer rests over the page, which has the focus.
    wxUIActionSimulator mouse;
    ASSERT_TRUE(mouse.MouseMove(view->ClientToScreen(wxPoint(400, 300))) && mouse.MouseClick());
    const auto ended = [&] { return log.Contains("[browser] navigations refused") || log.Contains("[browser] page stopped"); };
    const unsigned down = XKeysymToKeycode(display, XK_Down);
    using Clock = std::chrono::steady_clock;
    for (const bool wheel : {true, false}) {
        const int before = Evaluated("n");
        auto next = Clock::now();
        for (const auto until = next + std::chrono::seconds(wheel ? 60 : 10); next < until && !ended();
             next += std::chrono::microseconds(16667)) {
            PumpUntil(ended, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count()));
            if (wheel) {
                XTestFakeButtonEvent(display, 5, True, CurrentTime);
                XTestFakeButtonEvent(display, 5, False, CurrentTime);
            } else {
                XTestFakeKeyEvent(display, down, True, CurrentTime);
                XTestFakeKeyEvent(display, down, False, CurrentTime);
            }
            XFlush(display);
        }
        PumpUntil(ended, 1000);
        EXPECT_FALSE(ended()) << (wheel ? "wheel" : "keys");
        // Faster than the pace a page is admitted at by itself.
        EXPECT_GT(Evaluated("n") - before, wheel ? 8 * 60 + 200 : 8 * 10 + 200) << (wheel ? "wheel" : "keys");
    }
    XCloseDisplay(display);
}

} // namespace
