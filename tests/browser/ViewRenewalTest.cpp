// A page stopped for what it left in the program goes with its view, which is made anew: what the program
// asked for once the page was stopped shows in the new view, and the container holds the new view's window.

#include <functional>
#include <utility>
#include <vector>

#include <wx/log.h>
#include <wx/weakref.h>

#include "browser/HtmlBrowserCtrl.h"
#include "browser/webbrowser/PageBounds.h"
#include "support/gui/PanelFixture.h"

namespace {

using namespace bcxtest;

// Runs action once the page is stopped for what it left, before its view is made anew.
struct AtStop : wxLog {
    explicit AtStop(std::function<void()> run) : action(std::move(run)), previous(wxLog::SetActiveTarget(this)) {}
    ~AtStop() override { wxLog::SetActiveTarget(previous); }
    void DoLogText(const wxString& line) override
    {
        if (action && line.Contains(wxS("[browser] page stopped: the web engine held")))
            std::exchange(action, nullptr)();
    }
    std::function<void()> action;
    wxLog* previous;
};

using ViewRenewalTest = PanelTest;

TEST_F(ViewRenewalTest, WhatTheProgramLoadsOnceAPageIsStoppedShowsInTheNewViewThatTheContainerHolds)
{
    bcx::PageBoundLimits limits;
    limits.maxEngineGrowthBytes = 32u << 20;
    bcx::SetPageBoundLimits(limits);
    server.AddPage("/state.html", Page("state", "<script>history.replaceState('x'.repeat(40 << 20), '');</script>"));
    server.AddPage("/next.html", Page("next", "next"));
    Open(server.Url("/next.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "next"));
    // The program's loads once the page is stopped, before its view is made anew: an address from an event
    // queued before the renewal, and a built-in page at once.
    const std::vector<std::function<void()>> loads = {
        [&] { panel->CallAfter([&] { panel->LoadUrl(server.Url("/next.html")); }); },
        [&] { panel->LoadUrl(wxS("bcx:about")); },
    };
    for (size_t n = 0; n < loads.size(); ++n) {
        AtStop atStop(loads[n]);
        const wxWeakRef<wxWebView> stopped(view);
        panel->LoadUrl(server.Url("/state.html"));
        ASSERT_TRUE(PumpUntil([&] { return !stopped; }, 30000)) << n;
        view = FindWebView(panel);
        ASSERT_NE(nullptr, view);
        EXPECT_TRUE(n == 0 ? WaitForPageTitle(view, "next") : WaitForPageText(view, "Brawlcast")) << n;
        EXPECT_EQ(view, panel->GetBrowser()->GetHost().GetControlWindow()) << n;
    }
}

} // namespace
