// The browser panel on the real web view under Xvfb: the built-in pages, the program's own links (adding
// a game, handing web and mail addresses to the desktop on a click), pages that try to open windows,
// read local files or drive the desktop by script, and back and forward between pages served on
// 127.0.0.1.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <glib.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <wx/bmpbuttn.h>
#include <wx/frame.h>
#include <wx/uiaction.h>
#include <wx/webview.h>

#include "support/PageServer.h"
#include "browser/ActiveXEvents.h"
#include "browser/BrowserPanel.h"
#include "browser/HtmlBrowserCtrl.h"
#include "browser/PageLog.h"
#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "peers/TestRelayServer.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "support/WxLoopback.h"
#include "support/gui/PanelFixture.h"
#include "support/gui/Screenshot.h"
#include "support/gui/WebPages.h"
#include "support/gui/X11Windows.h"
#include "ui/BrowserDialog.h"
#include "ui/MemoryPages.h"

namespace {

using namespace bcxtest;

size_t InfoRequests(const bcxtest::TestRelayServer& relay, uint32_t id)
{
    size_t n = 0;
    for (const auto& frame : relay.ClientFrames(0x21))
        n += frame.Body() == bcxtest::TestRelayServer::U32(id);
    return n;
}

class BrowserPanelTest : public PanelTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PanelTest::SetUp());
        core = ClientCore::Get();
        ASSERT_NE(nullptr, core);
        core->Settings().mUserName = "tester";
        bcxBrowser::SetDesktopOpener([this](const wxString& url) {
            opened.push_back(Utf8(url));
            return true;
        });
    }

    void TearDown() override
    {
        bcxBrowser::SetDesktopOpener(nullptr);
        PanelTest::TearDown();
    }

    // Everything the client sent before this has reached the relay once the echo of a ping is there.
    bool RelayCaughtUp(uint32_t marker, int timeoutMs = 10000) { return RelayEchoed(relay, marker, timeoutMs); }

    // Clicks the element once it is there (the title arrives before the body). The click is not waited
    // for: the page it starts may replace the document before the click's script reports back.
    bool Click(const std::string& elementId)
    {
        const std::string element = "document.getElementById('" + elementId + "')";
        if (!bcxtest::PumpUntil([&] { return EvalInPage(view, element + " ? 'there' : 'not yet'") == "there"; }))
            return false;
        view->RunScriptAsync(wxString::FromUTF8(element + ".click();"));
        return true;
    }

    ClientCore* core = nullptr;
    std::vector<std::string> opened;
};

TEST_F(BrowserPanelTest, BuiltInPagesTakeThePlaceOfTheCurrentPage)
{
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast - Client"));
    EXPECT_NE(std::string::npos, PageText(view).find("Version:\t0.95.00")) << PageText(view);
    EXPECT_EQ("HOORAAAAAAAAAAY!", EvalInPage(view, "document.title"));
    // Shown under the blank page's address, with no history entry of its own.
    EXPECT_EQ("about:blank", EvalInPage(view, "location.href"));
    EXPECT_EQ("1", EvalInPage(view, "String(history.length)"));
    EXPECT_FALSE(bcxtest::SaveScreenshot(frame, "browser-about-page").empty());

    const std::vector<std::pair<std::string, std::string>> steps = {
        {"bcx:no_such_command", "Unknown page!"},
        {"memory:browserstart.html/", "Brawlcast welcome page..."},
        {"bcx:view/12a/name/1/2", "Unknown page!"},
        {"bcx:aboutthis", "Brawlcast - Client"},
        // An id that does not fit in 32 bits.
        {"bcx:view/4294967296/name/1/2", "Unknown page!"},
        {"http://not_externbcx:offline", "You are offline."},
        {"bcx:view/00000000001/name/1/2", "Unknown page!"},
    };
    for (const auto& step : steps) {
        panel->LoadUrl(wxString::FromUTF8(step.first));
        EXPECT_TRUE(WaitForPageText(view, step.second)) << step.first << ": " << PageText(view);
    }
    EXPECT_EQ(nullptr, core->GetGame(1));
    EXPECT_EQ(nullptr, core->GetGame(0));
    EXPECT_EQ("1", EvalInPage(view, "String(history.length)"));
}

TEST_F(BrowserPanelTest, GameLinkAddsTheGameOnceAndAsksTheRelayOnce)
{
    ASSERT_TRUE(LogOn());
    server.AddPage("/start.html", Page("start", "start page"));
    const std::string links = "<a id='v' href='bcx:view/123/Final%20Match/3/1700000000'>watch</a> "
                              "<a id='w' href='bcx:view/124/Other/99/5x'>other</a>";
    server.AddPage("/games.html", Page("games", links));
    server.AddPage("/again.html", Page("again", links));
    Open(server.Url("/start.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "start"));
    panel->LoadUrl(server.Url("/games.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "games"));

    ASSERT_TRUE(Click("v"));
    ASSERT_TRUE(WaitForPageText(view, "The game is now in your gamelist."));
    Game* game = core->GetGame(123);
    ASSERT_NE(nullptr, game);
    EXPECT_EQ("Final Match", game->mName);
    EXPECT_EQ(3u, game->mState);
    EXPECT_EQ(1700000000u, game->mStartTime);
    EXPECT_EQ(3u, game->mKind);
    EXPECT_EQ(SubscriptionNone, game->mSubscription);
    ASSERT_TRUE(RelayCaughtUp(0xB0B0));
    EXPECT_EQ(1u, InfoRequests(relay, 123));

    // The page goes back by itself after three seconds.
    ASSERT_TRUE(WaitForPageTitle(view, "start"));

    panel->LoadUrl(server.Url("/again.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "again"));
    ASSERT_TRUE(Click("v"));
    ASSERT_TRUE(WaitForPageText(view, "You already have that game in your list!"));
    ASSERT_TRUE(RelayCaughtUp(0xB0B1));
    EXPECT_EQ(1u, InfoRequests(relay, 123));
    ASSERT_TRUE(WaitForPageTitle(view, "start"));

    // A state outside the known ones is the broken state; a start time reads as its leading digits.
    panel->LoadUrl(server.Url("/again.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "again"));
    ASSERT_TRUE(Click("w"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetGame(124) != nullptr; }));
    EXPECT_EQ(static_cast<uint32_t>(GameStateBroken), core->GetGame(124)->mState);
    EXPECT_EQ(5u, core->GetGame(124)->mStartTime);
    ASSERT_TRUE(RelayCaughtUp(0xB0B2));
    EXPECT_EQ(1u, InfoRequests(relay, 124));
}

TEST_F(BrowserPanelTest, GameLinkWhileOfflineAddsTheGameAndWritesNothing)
{
    bcxtest::LogCapture log;
    // 12 + 200 * 2 bytes in GBK: cut to whole characters, 254 bytes.
    std::string name = "offline%20game";
    for (int i = 0; i < 200; ++i)
        name += "%E4%B8%AD";
    Open(wxString::FromUTF8("bcx:view/77/" + name + "/0/0"));
    ASSERT_TRUE(WaitForPageText(view, "The game is now in your gamelist."));
    ASSERT_NE(nullptr, core->GetGame(77));
    EXPECT_EQ(std::string("offline game") + bcx::Utf8ToGbk("中中"), core->GetGame(77)->mName.substr(0, 16));
    EXPECT_EQ(254u, core->GetGame(77)->mName.size());
    EXPECT_TRUE(log.Contains("[g] [0000004D] added from a link while not connected")) << log.Lines().size();
}

TEST_F(BrowserPanelTest, PagesCauseAtMost200LinesInAnyTenSeconds)
{
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast - Client"));
    bcxtest::LogCapture log;
    // An hour after every line logged so far; the clock runs by itself again however the test ends.
    const uint32_t start = bcx::ProgramClock::Now() + 3600000;
    struct ManualClock {
        ManualClock() { bcx::ProgramClock::SetManual(true); }
        ~ManualClock() { bcx::ProgramClock::SetManual(false); }
    } manual;
    bcx::ProgramClock::Set(start);
    bcx::LogBrowser(wxS("first"));
    bcx::ProgramClock::Set(start + 9999);
    for (int i = 0; i < 198; ++i)
        bcx::LogBrowser(wxS("line"));
    // Game links decided offline log through the game list's log: the 200th line, then one too many.
    panel->LoadUrl(wxS("bcx:view/501/a/0/0"));
    panel->LoadUrl(wxS("bcx:view/502/b/0/0"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetGame(502) != nullptr; }));
    EXPECT_TRUE(log.Contains("[g] [000001F5] added from a link while not connected"));
    EXPECT_FALSE(log.Contains("[g] [000001F6]"));
    // Where a fixed ten-second window would start afresh, only the first line has become ten seconds old.
    bcx::ProgramClock::Set(start + 10000);
    for (int i = 0; i < 10; ++i)
        bcx::LogBrowser(wxS("boundary"));
    EXPECT_EQ(1u, log.Count("[browser] boundary"));
    bcx::ProgramClock::Set(start + 20000);
    bcx::LogBrowser(wxS("again"));
    EXPECT_TRUE(log.Contains("[browser] again"));
    EXPECT_EQ(1u, log.Count("[browser] pages caused 200 lines within 10 seconds; lines past that bound are not logged"));
    EXPECT_EQ(203u, log.Lines().size());
}

TEST_F(BrowserPanelTest, ClickedLinksGiveTheDesktopOnlyWebAddressesAndPlainMail)
{
    bcxtest::LogCapture log;
    // Eight open (the external page, then the panel goes back; mail to the first address, blank entries
    // skipped, with subject and body only);
    // local files, other programs' schemes, mail addresses with extra header lines or no address stay on
    // the page.
    const size_t opening = 8;
    const std::vector<std::string> links = {
        "bcx:ext_browser/https://127.0.0.1/news?a=1",
        "mailto:someone@example.org?subject=Hi&bcc=b@example.org&attach=/etc/passwd&Body=Text",
        "bcx:ext_mail/a@example.org?attach=/etc/passwd", "mailto:a@example.org,b@example.org;c@example.org?subject=S",
        "bcx:ext_mail/a@example.org%2Cb@example.org%3bc@example.org", "mailto:,b@x.org", "bcx:ext_mail/%2Cb@x.org",
        "mailto:;b@x.org?subject=s", "bcx:ext_browser/file:///etc/passwd", "bcx:ext_browser/someapp://run?x=1",
        "bcx:ext_mail/a@example.org%0D%0ABcc:b@example.org", "mailto:a@example.org%0aCc:c@example.org",
        "mailto:%20,%3B?subject=s"};
    server.AddPage("/one.html", Page("one", "one"));
    Open(server.Url("/one.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "one"));
    for (size_t i = 0; i < links.size(); ++i) {
        const std::string n = std::to_string(i);
        server.AddPage("/" + n, Page(n, "<a id='l' href='" + links[i] + "'>link</a>"));
        panel->LoadUrl(server.Url("/" + n));
        ASSERT_TRUE(WaitForPageTitle(view, n));
        const size_t logged = log.Count("[browser] ");
        ASSERT_TRUE(MouseClick("l"));
        ASSERT_TRUE(bcxtest::PumpUntil(
            [&] { return i < opening ? opened.size() == i + 1 : log.Count("[browser] ") == logged + 1; }));
        ASSERT_TRUE(i > 0 || WaitForPageTitle(view, "one"));
    }
    const std::vector<std::string> expected = {
        "https://127.0.0.1/news?a=1", "mailto:someone@example.org?subject=Hi&Body=Text", "mailto:a@example.org",
        "mailto:a@example.org?subject=S", "mailto:a@example.org", "mailto:b@x.org", "mailto:b@x.org",
        "mailto:b@x.org?subject=s"};
    EXPECT_EQ(expected, opened);
    EXPECT_TRUE(log.Contains("[browser] mail link parameters dropped: bcc=b@example.org&attach=/etc/passwd"));
    EXPECT_TRUE(log.Contains("[browser] mail link recipients dropped: b@example.org;c@example.org"));
    EXPECT_TRUE(log.Contains("[browser] mail link recipients dropped: b@example.org%3bc@example.org"));
    EXPECT_EQ(2u, log.Count("[browser] mail link recipients dropped"));
    EXPECT_TRUE(log.Contains("[browser] mail link without an address, not opened: %20,%3B?subject=s"));
}

TEST_F(BrowserPanelTest, PageScriptsOpenNothingOnTheDesktopAClickDoes)
{
    bcxtest::LogCapture log;
    server.AddPage("/busy.html",
                   Page("busy", "<a id='c' href='bcx:ext_browser/http://127.0.0.1/clicked'>go</a><script>var to = "
                                "['bcx:ext_browser/http://127.0.0.1/script', 'bcx:ext_mail/a@b.c', 'mailto:a@b.c'], "
                                "n = 0, t = setInterval(function() { location = to[n % 3]; if (++n == 30) { "
                                "clearInterval(t); document.title = 'done'; } }, 10);</script>"));
    Open(server.Url("/busy.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "done"));
    ASSERT_TRUE(MouseClick("c"));
    // The click's navigation is decided after every one the script started.
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1/clicked"}, opened);
    EXPECT_TRUE(log.Contains("[browser] not opened without a click: bcx:ext_browser/http://127.0.0.1/script"));
    EXPECT_TRUE(log.Contains("[browser] not opened without a click: mailto:a@b.c"));

    // One click opens one address at most: not every link its handler clicks by script, the frames it
    // inserts and its timers; nor does the server's redirect of a clicked link.
    server.AddRedirect("/moved", "bcx:ext_browser/http://127.0.0.1/redirected");
    server.AddPage("/one-click.html",
                   Page("one click", "<button id='r'>go</button> <a id='m' href='/moved'>moved</a><script>"
                                     "document.getElementById('r').onclick = "
                                     "function() { for (var i = 0; i < 10; ++i) { var a = document.createElement('a'); "
                                     "a.href = 'mailto:s' + i + '@b.c'; document.body.appendChild(a); a.click(); } "
                                     "for (i = 0; i < 3; ++i) { var f = document.createElement('iframe'); f.src = "
                                     "'mailto:f' + i + '@b.c'; document.body.appendChild(f); } var n = 0; (function "
                                     "next() { location = 'mailto:t' + n + '@b.c'; if (++n < 10) setTimeout(next, 20); "
                                     "})(); };</script>"));
    panel->LoadUrl(server.Url("/one-click.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "one click"));
    opened.clear();
    log.Clear();
    ASSERT_TRUE(MouseClick("r"));
    EXPECT_TRUE(bcxtest::PumpUntil([&] { return opened.size() + log.Count("not opened without a click") == 23; }));
    EXPECT_EQ(std::vector<std::string>{"mailto:s0@b.c"}, opened);
    ASSERT_TRUE(MouseClick("m"));
    EXPECT_TRUE(bcxtest::PumpUntil(
        [&] { return log.Contains("[browser] not opened without a click: bcx:ext_browser/http://127.0.0.1/redirected"); }));
    EXPECT_EQ(1u, opened.size());
}

TEST_F(BrowserPanelTest, AHeldKeyOpensOneAddress)
{
    bcxtest::LogCapture log;
    // Every keydown, the repeats of a held key too, follows a link of its own.
    server.AddPage("/keys.html", Page("keys", "<script>var n = 0; addEventListener('keydown', function(e) { var a = "
                                              "document.createElement('a'); a.href = 'bcx:ext_browser/http://127.0.0.1/k' "
                                              "+ n; a.click(); document.title = 'keys ' + ++n; });</script><p id='p'>keys</p>"));
    Open(server.Url("/keys.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "keys"));
    // A click on the text gives the page the keyboard (and opens nothing: it follows no link).
    ASSERT_TRUE(MouseClick("p"));
    wxUIActionSimulator keys;
    ASSERT_TRUE(keys.KeyDown('a'));
    const bool repeated = WaitForPageTitle(view, "keys 8");
    ASSERT_TRUE(keys.KeyUp('a'));
    ASSERT_TRUE(repeated);
    // Each keydown's link has been decided: opened, or refused for want of a press.
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return opened.size() + log.Count("not opened without a click") >= 8; }));
    EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1/k0"}, opened);
}

TEST_F(BrowserPanelTest, AHeldKeyOpensOneAddressAlsoPastSixteenRepeatsOfABusyPage)
{
    bcxtest::LogCapture log;
    // The first keydown keeps the page busy for three seconds: the engine hands the first press back to the
    // view only then, after the repeats and the release.
    server.AddPage("/busy.html", Page("busy", "<script>var n = 0; addEventListener('keydown', function(e) { var a = "
                                              "document.createElement('a'); a.href = 'bcx:ext_browser/http://127.0.0.1/"
                                              "k' + n; a.click(); if (n++ == 0) for (var end = Date.now() + 3000; "
                                              "Date.now() < end;) {} document.title = 'keys ' + n; });</script><p "
                                              "id='p'>keys</p>"));
    Open(server.Url("/busy.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "busy"));
    ASSERT_TRUE(MouseClick("p"));
    // The presses the view gets, counted for as long as the test runs.
    struct Presses {
        explicit Presses(gpointer native) : native(native)
        {
            id = g_signal_connect(native, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer n) {
                                      ++static_cast<Presses*>(n)->count;
                                      return FALSE;
                                  }), this);
        }
        ~Presses() { g_signal_handler_disconnect(native, id); }
        gpointer native;
        gulong id = 0;
        size_t count = 0;
    } presses(view->GetNativeBackend());
    wxUIActionSimulator keys;
    ASSERT_TRUE(keys.KeyDown('a'));
    const bool repeated = bcxtest::PumpUntil([&] { return presses.count >= 20; });
    ASSERT_TRUE(keys.KeyUp('a'));
    ASSERT_TRUE(repeated);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return opened.size() + log.Count("not opened without a click") >= 20; }, 15000));
    EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1/k0"}, opened);
}

TEST_F(BrowserPanelTest, APageFloodingRefusedNavigationsIsStoppedWhileTheRelayIsServed)
{
    bcxtest::LogCapture log;
    ASSERT_TRUE(LogOn());
    server.AddPage("/flood.html",
                   Page("flood", "<script>var a = document.createElement('a'); for (var i = 0; i < 100000; ++i) { "
                                 "a.href = 'bcx:ext_browser/http://127.0.0.1/' + i; a.click(); }</script>flood"));
    server.AddPage("/next.html", Page("next", "next"));
    Open(server.Url("/flood.html"));
    // The relay's pings are answered within five seconds all along.
    const auto stopped = [&] { return log.Contains("[browser] page stopped: more than 100 of its requests refused"); };
    for (uint32_t marker = 1; !stopped(); ++marker) {
        ASSERT_LT(marker, 60u);
        ASSERT_TRUE(RelayCaughtUp(marker, 5000)) << marker;
        bcxtest::PumpUntil(stopped, 1000);
    }
    ASSERT_TRUE(RelayCaughtUp(0xF100D, 5000));
    EXPECT_EQ(1u, log.Count("[browser] page stopped"));
    // The refusal past the bound is the last one logged.
    EXPECT_LE(log.Count("not opened without a click"), 101u);
    EXPECT_TRUE(opened.empty());
    panel->LoadUrl(server.Url("/next.html"));
    EXPECT_TRUE(WaitForPageTitle(view, "next"));
}

TEST_F(BrowserPanelTest, PageGetsNoLocalFileAndIsGoneUnderABuiltInPage)
{
    bcxtest::LogCapture log;
    const std::string secret = std::filesystem::current_path().string() + "/secret.txt";
    std::ofstream(secret) << "TOP SECRET";
    server.AddPage("/reader.html", Page("reader", "<script>var oldPage = 1;</script>reader"));
    Open(server.Url("/reader.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "reader"));
    const std::vector<std::string> targets = {"memory:about.html#file:" + secret, "memory:x#file://" + secret,
                                              "memory:../x"};
    for (size_t n = 0; n < targets.size(); ++n) {
        view->RunScriptAsync(wxString::FromUTF8("location = '" + targets[n] + "';"));
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return log.Count("no built-in page") > n || PageText(view)[0] == 'T'; }));
        EXPECT_EQ("reader", PageText(view)) << targets[n];
    }
    // A built-in page shown in place of a page leaves nothing of that page's scripts behind.
    view->RunScriptAsync(wxS("location = 'bcx:view/99999999999/x/3/0';"));
    ASSERT_TRUE(WaitForPageText(view, "Unknown page!"));
    EXPECT_EQ("undefined", EvalInPage(view, "typeof oldPage"));
}

TEST_F(BrowserPanelTest, NavigationsOfTheProgramAreDecidedOnce)
{
    // The web view reports these as "http://127.0.0.1:<port>/" and ".../%C3%BC.html".
    server.AddPage("/", Page("root", "root"));
    server.AddPage("/%C3%BC.html", Page("umlaut", "umlaut"));
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast - Client"));
    size_t decided = 0;
    panel->Bind(wxEventTypeTag<wxActiveXEvent>(RegisterActiveXEvent(wxS("BeforeNavigate2"))),
                [&](wxActiveXEvent& event) { decided++, event.Skip(); });
    panel->LoadUrl(server.Url(""));
    ASSERT_TRUE(WaitForPageTitle(view, "root"));
    panel->LoadUrl(server.Url("/ü.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "umlaut"));
    EXPECT_EQ(2u, decided);
}

TEST_F(BrowserPanelTest, PagesThePanelLoadsComeFromTheirServer)
{
    // The engine may keep the page for an hour; the panel's loads still ask the server.
    const std::string keep = "Cache-Control: max-age=3600\r\n";
    server.AddPage("/news.html", Page("news one", "one"), "text/html; charset=utf-8", keep);
    server.AddPage("/other.html", Page("other", "other"), "text/html; charset=utf-8", keep);
    Open(server.Url("/news.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "news one"));
    panel->LoadUrl(server.Url("/other.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "other"));
    server.AddPage("/news.html", Page("news two", "two"), "text/html; charset=utf-8", keep);
    panel->LoadUrl(server.Url("/news.html"));
    EXPECT_TRUE(WaitForPageTitle(view, "news two"));
    const std::vector<std::string> requests = server.Requests();
    EXPECT_EQ(2, std::count(requests.begin(), requests.end(), "/news.html"));
}

TEST_F(BrowserPanelTest, DialogClosedWhileABuiltInPageLoadsNotInsideTheLoad)
{
    server.AddPage("/one.html", Page("one", "one"));
    struct Closing {
        BrowserDialog* dialog;
        bool handedOver = false, closedLater = false;
        static gboolean Close(gpointer data)
        {
            Closing* c = static_cast<Closing*>(data);
            c->closedLater = c->handedOver;
            return c->dialog->Destroy(), G_SOURCE_REMOVE;
        }
    } closing{new BrowserDialog(frame, server.Url("/one.html"), 400, 300)};
    closing.dialog->Show();
    ASSERT_TRUE(WaitForPageTitle(FindWebView(closing.dialog), "one"));
    // Queued right before and after the panel's step that hands the page to the view: a source that is
    // ready at once closes the dialog on the loop's next turn, which must not come inside that step.
    frame->CallAfter([&closing] { g_idle_add_full(G_PRIORITY_HIGH, Closing::Close, &closing, nullptr); });
    closing.dialog->GetView()->LoadUrl(wxS("bcx:about"));
    wxEvtHandler after;
    after.CallAfter([&closing] { closing.handedOver = true; });
    ASSERT_TRUE(bcxtest::PumpUntil([] { return wxTopLevelWindows.GetCount() == 1; }));
    EXPECT_TRUE(closing.closedLater);
}

TEST_F(BrowserPanelTest, PagesOpenNoWindows)
{
    int newWindowEvents = 0;
    // A click on a link or form with a target of its own; window.open by the three-argument document.open,
    // and in frames just inserted, whose first document runs nothing of the program's.
    server.AddPage(
        "/popup.html",
        Page("popup", "<a id='b' href='/three.html' target='_blank' style='font-size:40px'>elsewhere</a>"
                      "<script>var w = window.open('/three.html'); document.title = 'after:' + w; function framed(f) "
                      "{ document.body.appendChild(f); f.contentWindow.open('/three.html'); }</script>"
                      "<br><button id='w0' onclick=\"document.open('/three.html', '_blank', '')\">open</button>"
                      "<br><button id='w1' onclick=\"var f = document.createElement('iframe'); f.srcdoc = 'x'; "
                      "framed(f)\">srcdoc</button><br><button id='w2' onclick=\"var f = "
                      "document.createElement('iframe'); f.src = '/two.html'; framed(f)\">frame</button>"
                      "<form target='_blank' action='/three.html'><button id='w3'>form</button></form>"));
    server.AddPage("/two.html", Page("two", "two"));
    Open(wxS("bcx:about"));
    panel->Bind(wxEventTypeTag<wxActiveXEvent>(RegisterActiveXEvent(wxS("NewWindow3"))), [&](wxActiveXEvent& event) {
        ++newWindowEvents;
        event.Skip();
    });
    panel->LoadUrl(server.Url("/popup.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "after:null"));

    // Real clicks, each asking for one window; the program runs on after each.
    int n = 0;
    for (const char* id : {"b", "w0", "w1", "w2", "w3"}) {
        ASSERT_TRUE(MouseClick(id));
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return newWindowEvents == n + 1; }, 15000)) << id;
        ++n;
    }
    EXPECT_EQ("after:null", EvalInPage(view, "document.title"));
    EXPECT_EQ(1u, wxTopLevelWindows.GetCount());
    for (const std::string& path : server.Requests())
        EXPECT_EQ(std::string::npos, path.find("/three.html")) << path;
}

TEST_F(BrowserPanelTest, PagesSaveNoFiles)
{
    bcxtest::LogCapture log;
    for (const std::string name : {".bash_aliases", "evil.desktop", "clicked.bin"})
        server.AddPage("/" + name, "x", "text/plain", "Content-Disposition: attachment; filename=" + name + "\r\n");
    server.AddPage("/text.txt", "text", "text/plain");
    // Without a click: an attachment in a hidden frame and as the page's next address, links with a
    // download attribute on a text, a data: and a blob: address; then a clicked link to an attachment.
    server.AddPage("/saves.html",
                   Page("saves", "<a id='c' href='/clicked.bin'>file</a><iframe style='display:none' "
                                 "src='/.bash_aliases'></iframe><script>var steps = ['/text.txt', "
                                 "'data:text/plain,data', URL.createObjectURL(new Blob(['blob']))], n = 0; (function "
                                 "next() { if (n == 3) { location.href = '/evil.desktop'; return; } var a = "
                                 "document.createElement('a'); a.href = steps[n++]; a.download = 'x.txt'; "
                                 "document.body.appendChild(a); a.click(); setTimeout(next, 200); })();</script>"));
    Open(server.Url("/saves.html"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return log.Count("[browser] download refused: ") == 5; }, 15000));
    ASSERT_TRUE(MouseClick("c"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return log.Count("[browser] download refused: ") == 6; }, 15000));
    for (const std::string& address : {Utf8(server.Url("/.bash_aliases")), Utf8(server.Url("/evil.desktop")),
                                       Utf8(server.Url("/clicked.bin")), Utf8(server.Url("/text.txt")),
                                       std::string("data:text/plain,data"), std::string("blob:")})
        EXPECT_EQ(1u, log.Count("[browser] download refused: " + address)) << address;
    EXPECT_TRUE(std::filesystem::is_empty(g_get_home_dir()));
    EXPECT_TRUE(std::filesystem::is_empty(g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)));
}

TEST_F(BrowserPanelTest, PagesKeepNothingOnDiskAndOrdinaryPagesKeepTheirCookies)
{
    // 300 MB of random bytes in IndexedDB, 1 MB at a time, and local storage filled.
    server.AddPage("/fill.html",
                   Page("fill", "<script>var s = 7; function chunk() { var a = new Uint32Array(262144); for (var i = 0; "
                                "i < a.length; ++i) a[i] = s = s * 1103515245 + 12345 >>> 0; return a; } try { for (var "
                                "n = 0; n < 100; ++n) localStorage.setItem('k' + n, String(n).repeat(1 << 19)); } catch "
                                "(e) {} var r = indexedDB.open('x', 1), n = 0; r.onupgradeneeded = function() { "
                                "r.result.createObjectStore('s'); }; r.onsuccess = function put() { var t = "
                                "r.result.transaction('s', 'readwrite'); t.objectStore('s').put(chunk(), n); "
                                "t.oncomplete = ++n < 300 ? put : function() { document.title = 'stored'; }; t.onabort "
                                "= function() { document.title = 'stored'; }; };</script>"));
    server.AddPage("/next.html", Page("next", "next"), "text/html; charset=utf-8", "Set-Cookie: visit=1\r\n");
    server.AddPage("/last.html", Page("last", "last"));
    Open(server.Url("/fill.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "stored", 120000));
    const uint64_t kept = BytesBelow(g_get_user_data_dir()) + BytesBelow(g_get_user_cache_dir());
    EXPECT_LT(kept, 100u << 20) << kept;
    // An ordinary page afterwards loads, and its cookie comes back with the next request.
    panel->LoadUrl(server.Url("/next.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "next"));
    panel->LoadUrl(server.Url("/last.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "last"));
    EXPECT_NE(std::string::npos, server.RequestHeads().back().find("Cookie: visit=1"));
}

TEST_F(BrowserPanelTest, PagePrintsNothingAndItsDialogClosesAtTheFirstRequest)
{
    bcxtest::LogCapture log;
    server.AddPage("/print.html", Page("print", "print<script>window.print(); setInterval(function() { "
                                                "window.print(); }, 100);</script>"));
    // A print dialog that opens all the same is counted and closed, so that the test goes on.
    int printDialogs = 0;
    const guint watch = g_timeout_add(
        50,
        [](gpointer seen) -> gboolean {
            for (const TopWindow& window : ListTopWindows())
                if (window.viewable && !window.title.empty() && window.title != "Brawlcast")
                    ++*static_cast<int*>(seen), CloseTopWindow(window.id);
            return G_SOURCE_CONTINUE;
        },
        &printDialogs);
    BrowserDialog* dialog = new BrowserDialog(frame, server.Url("/print.html"), 400, 300);
    dialog->Show();
    EXPECT_TRUE(bcxtest::PumpUntil([&] { return log.Count("[browser] print request refused") >= 2; }, 15000));
    for (const TopWindow& window : ListTopWindows())
        if (window.viewable && window.title == "Brawlcast")
            CloseTopWindow(window.id);
    EXPECT_TRUE(bcxtest::PumpUntil([&] { return !dialog->IsShown(); }));
    EXPECT_EQ(0, printDialogs);
    g_source_remove(watch);
}

TEST_F(BrowserPanelTest, BackAndForwardFollowNavigation)
{
    server.AddPage("/one.html", Page("one", "one"));
    server.AddPage("/two.html", Page("two", "two"));
    Open(server.Url("/one.html"), true);
    ASSERT_TRUE(WaitForPageTitle(view, "one"));
    ASSERT_NE(nullptr, panel->GetBackButton());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !panel->GetBackButton()->IsEnabled(); }));
    EXPECT_FALSE(panel->GetForwardButton()->IsEnabled());

    panel->LoadUrl(server.Url("/two.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "two"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return panel->GetBackButton()->IsEnabled(); }));

    wxCommandEvent back(wxEVT_BUTTON, BrowserPanelBackId);
    panel->GetEventHandler()->ProcessEvent(back);
    ASSERT_TRUE(WaitForPageTitle(view, "one"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return panel->GetForwardButton()->IsEnabled(); }));
    EXPECT_FALSE(panel->GetBackButton()->IsEnabled());

    EXPECT_TRUE(panel->GetBrowser()->GoForward());
    ASSERT_TRUE(WaitForPageTitle(view, "two"));
    EXPECT_FALSE(panel->GetBrowser()->GoForward());
}

TEST_F(BrowserPanelTest, TheProgramsOwnLoadsOpenTheirAddressesAFewAMinute)
{
    // A news record's address is a load of the program: it opens what it names, three a minute at most.
    bcxtest::LogCapture log;
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast - Client"));
    panel->LoadUrl(wxS("bcx:ext_browser/http://127.0.0.1/news"));
    panel->LoadUrl(wxS("bcx:ext_mail/a@example.org,b@example.org"));
    panel->LoadUrl(wxS("bcx:ext_browser/file:///etc/passwd"));
    panel->LoadUrl(wxS("mailto:c@example.org?subject=S"));
    panel->LoadUrl(wxS("bcx:ext_browser/http://127.0.0.1/burst"));
    const std::vector<std::string> expected = {"http://127.0.0.1/news", "mailto:a@example.org",
                                               "mailto:c@example.org?subject=S"};
    EXPECT_EQ(expected, opened);
    EXPECT_TRUE(log.Contains("[browser] not a web address, not opened: file:///etc/passwd"));
    EXPECT_TRUE(log.Contains("[browser] not opened: the program's own loads opened 3 addresses within 60 seconds: "
                             "http://127.0.0.1/burst"));
}

TEST_F(BrowserPanelTest, AProgramLoadGoesWhereTheEnginesLoadWouldAndAsksTheServer)
{
    server.AddPage("/dir/page.html", Page("mended", "mended"));
    Open(wxS("bcx:about"));
    ASSERT_TRUE(WaitForPageText(view, "Brawlcast - Client"));
    panel->LoadUrl(server.Url("/dir\\page.html "));
    ASSERT_TRUE(WaitForPageTitle(view, "mended"));
    const std::vector<std::string> heads = server.RequestHeads();
    ASSERT_FALSE(heads.empty());
    EXPECT_EQ(0u, heads.back().find("GET /dir/page.html ")) << heads.back();
    EXPECT_NE(std::string::npos, heads.back().find("Cache-Control: no-cache")) << heads.back();
    EXPECT_NE(std::string::npos, heads.back().find("Pragma: no-cache")) << heads.back();
}

TEST_F(BrowserPanelTest, AKeyTapOpensOneAddressWhateverThePageTakes)
{
    // The keydown keeps the page's process busy past the key's release, and a timer follows a second
    // link: the engine hands the key press back to the view only then.
    bcxtest::LogCapture log;
    server.AddPage("/tap.html",
                   Page("tap", "<script>function go(n) { var a = document.createElement('a'); a.href = "
                               "'bcx:ext_browser/http://127.0.0.1/' + n; a.click(); } addEventListener('keydown', "
                               "function() { go('first'); var end = Date.now() + 200; while (Date.now() < end); "
                               "setTimeout(function() { go('second'); document.title = 'tapped'; }, 50); });"
                               "</script><p id='p'>tap</p>"));
    Open(server.Url("/tap.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "tap"));
    ASSERT_TRUE(MouseClick("p"));
    wxUIActionSimulator keys;
    ASSERT_TRUE(keys.Char('a'));
    ASSERT_TRUE(WaitForPageTitle(view, "tapped"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return opened.size() + log.Count("not opened without a click") == 2; }));
    EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1/first"}, opened);
}

TEST_F(BrowserPanelTest, BackWorksAfterAPageWasStopped)
{
    bcxtest::LogCapture log;
    server.AddPage("/one.html", Page("one", "one"));
    server.AddPage("/flood.html",
                   Page("flood", "<script>var a = document.createElement('a'); for (var i = 0; i < 1000; ++i) { "
                                 "a.href = 'bcx:ext_browser/http://127.0.0.1/' + i; a.click(); }</script>flood"));
    Open(server.Url("/one.html"), true);
    ASSERT_TRUE(WaitForPageTitle(view, "one"));
    panel->LoadUrl(server.Url("/flood.html"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return log.Contains("[browser] page stopped"); }));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return panel->GetBackButton()->IsEnabled(); }));
    wxCommandEvent back(wxEVT_BUTTON, BrowserPanelBackId);
    panel->GetEventHandler()->ProcessEvent(back);
    EXPECT_TRUE(WaitForPageTitle(view, "one"));
}

TEST_F(BrowserPanelTest, LinksThePanelCarriesOutAreNoRefusals)
{
    // More real clicks on a mail link than the refusal bound allows within its window (the program clock
    // stands still): each one opens, and the page goes on.
    struct ManualClock {
        ManualClock() { bcx::ProgramClock::SetManual(true), bcx::ProgramClock::Set(1000); }
        ~ManualClock() { bcx::ProgramClock::SetManual(false); }
    } clock;
    bcxtest::LogCapture log;
    server.AddPage("/mail.html", Page("mail", "<a id='m' href='bcx:ext_mail/a@example.org'>mail</a>"));
    Open(server.Url("/mail.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "mail"));
    ASSERT_TRUE(MouseClick("m"));
    wxUIActionSimulator mouse;
    for (size_t n = 1; n <= 101; ++n) {
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return opened.size() == n; })) << n;
        ASSERT_TRUE(n == 101 || mouse.MouseClick());
    }
    EXPECT_EQ("mail", EvalInPage(view, "document.title"));
    EXPECT_FALSE(log.Contains("[browser] page stopped"));
}

} // namespace
