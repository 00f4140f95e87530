// Pages that navigate without end, to very long addresses, or that fill their history: the program
// refuses what goes past its bounds, stops the page, keeps its own memory bounded and serves the relay
// meanwhile; ordinary pages keep their history, back and forward.

#include <unistd.h>

#include "browser/HtmlBrowserCtrl.h"
#include "browser/webbrowser/PageHistory.h"
#include "support/LogCapture.h"
#include "support/Processes.h"
#include "support/Text.h"
#include "support/gui/PanelFixture.h"

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
        bcx::SetHistoryLimits(bcx::HistoryLimits());
        PanelTest::TearDown();
    }
};

TEST_F(PageBoundsTest, APageNavigatingWithoutEndIsStoppedWhileTheRelayIsServed)
{
    LogCapture log;
    // 300,000 same-document navigations, 500 per timer turn, each one allowed.
    server.AddPage("/hashes.html", Page("hashes", "<script>var n = 0; (function turn() { for (var i = 0; i < 500 && n "
                                                  "< 300000; ++i) location.hash = 'h' + n++; if (n < 300000) "
                                                  "setTimeout(turn, 0); })();</script>hashes"));
    // 150 at a pace no window refuses.
    server.AddPage("/paced.html", Page("paced", "<script>var n = 0, t = setInterval(function() { location.hash = 'p' + "
                                                "n; if (++n == 150) { clearInterval(t); document.title = 'done'; } }, "
                                                "5);</script>paced"));
    Open(server.Url("/hashes.html"));
    const auto stopped = [&] { return log.Contains("[browser] page stopped"); };
    for (uint32_t marker = 1; !stopped(); ++marker) {
        ASSERT_LT(marker, 60u);
        ASSERT_TRUE(RelayEchoed(relay, marker, 5000)) << marker;
        PumpUntil(stopped, 1000);
    }
    ASSERT_TRUE(RelayEchoed(relay, 0xF100D, 5000));
    EXPECT_EQ(1u, log.Count("[browser] navigations refused: more than 200 within 10 seconds: " +
                            Utf8(server.Url("/hashes.html"))));
    EXPECT_EQ(1u, log.Count("[browser] page stopped: more than 100 of its requests refused"));

    bcx::HistoryLimits limits;
    limits.maxNavigationsPerPage = 100;
    bcx::SetHistoryLimits(limits);
    panel->LoadUrl(server.Url("/paced.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "done"));
    EXPECT_EQ(1u, log.Count("[browser] navigations refused: more than 100 since the page started"));
    EXPECT_EQ(1u, log.Count("[browser] page stopped"));
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
    EXPECT_EQ(1u, log.Count("[browser] page stopped: the program grew by more than 32 MiB while its history grew: " +
                            Utf8(server.Url("/s0.html"))));
    EXPECT_TRUE(RelayEchoed(relay, 0xB, 5000));
    EXPECT_LT(HeldRssMiB() - before, 100);

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
    bcx::HistoryLimits limits;
    limits.maxNavigationsPerPage = 1;
    bcx::SetHistoryLimits(limits);
    server.AddPage("/a.html", Page("a", "<script>onload = function() { setTimeout(function() { location.hash = 'x'; "
                                        "}, 0); };</script>a"));
    Open(server.Url("/a.html"));
    ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "location.hash") == "#x"; }));
    // Back to the entry of the same document: no decision.
    ASSERT_TRUE(PumpUntil([&] { return panel->GetBrowser()->GoBack(); }));
    ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "location.hash") == ""; }));
    // The page then goes to that address itself: past its bound.
    EvalInPage(view, "location.href = '/a.html'");
    EXPECT_TRUE(PumpUntil([&] { return log.Contains("[browser] navigations refused: more than 1 since the page started"); }));
}

} // namespace
