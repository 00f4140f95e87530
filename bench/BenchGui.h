#pragma once
// The GUI toolkit for a timed program: a private Xvfb display and a GUI application, so that a run can
// use the event loop the program itself runs (wxGUIEventLoop) with the sockets and timers of the GUI
// toolkit; and a browser panel on the built-in About page.

#include <cstdio>
#include <string>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "BenchSupport.h"
#include "browser/BrowserPanel.h"
#include "support/PageServer.h"
#include "support/Pump.h"
#include "support/gui/WebPages.h"
#include "support/gui/Xvfb.h"

namespace bench {

// A news page of twenty items with pictures, its four pictures, as /news.html and /pic<n>.svg.
inline void AddNewsPage(bcxtest::PageServer& server)
{
    std::string body = "<style>body { font: 14px sans-serif; margin: 2em } h2 { color: #235 } .item { border-bottom: "
                       "1px solid #ccc; padding: 1em 0 } img { float: left; margin-right: 1em }</style><h1>News</h1>";
    for (int i = 0; i < 20; ++i)
        body += "<div class='item'><img src='/pic" + std::to_string(i % 4) +
                ".svg' width='64' height='48'><h2>Headline number " + std::to_string(i) +
                "</h2><p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
                "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation "
                "ullamco laboris nisi ut aliquip ex ea commodo consequat.</p><a href='/item" +
                std::to_string(i) + "'>Read more</a></div>";
    body += "<script>document.querySelectorAll('h2').forEach(function(h, n) { h.title = 'item ' + n; "
            "});</script>";
    server.AddPage("/news.html", bcxtest::Page("News", body));
    for (int i = 0; i < 4; ++i)
        server.AddPage("/pic" + std::to_string(i) + ".svg",
                       "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='48'><rect width='64' "
                       "height='48' fill='#" +
                           std::string(i % 2 ? "8ac" : "ca8") + "'/></svg>",
                       "image/svg+xml");
}

class GuiBenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

// Runs run() in a client directory (RunInClientDirectory) inside a GUI application on a private Xvfb
// display, sockets on and logging off; run() creates the windows and the GUI event loop it needs.
// run()'s result; 2 when the display, the directory or the toolkit could not be had.
template <class Run>
int RunWithGuiToolkit(const char* configuration, Run run)
{
    bcxtest::XvfbServer xvfb;
    if (!xvfb.StartAndUse())
        return 2;
    return RunInClientDirectory(configuration, [&] {
        wxApp::SetInstance(new GuiBenchApp);
        int argc = 1;
        char name[] = "bench";
        char* argv[] = {name, nullptr};
        if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
            std::fprintf(stderr, "cannot start the GUI toolkit\n");
            return 2;
        }
        wxLog::EnableLogging(false);
        wxSocketBase::Initialize();
        const int rc = run();
        wxSocketBase::Shutdown();
        wxTheApp->OnExit();
        wxEntryCleanup();
        return rc;
    });
}

// A browser panel that fills a frame of its own and shows the built-in About page, as in the program's
// About and News pages; the frame goes with the object at the latest.
class AboutPanel {
public:
    AboutPanel() : mFrame(new wxFrame(nullptr, wxID_ANY, wxS("bench"), wxPoint(0, 0), wxSize(800, 600))) {}
    ~AboutPanel() { Close(); }
    AboutPanel(const AboutPanel&) = delete;
    AboutPanel& operator=(const AboutPanel&) = delete;

    // False, with a line on stderr, when the page is not shown in time.
    bool Open()
    {
        panel = bcxtest::OpenPanel(mFrame, wxS("bcx:about"));
        view = panel ? bcxtest::FindWebView(panel) : nullptr;
        if (view && bcxtest::WaitForPageText(view, "Brawlcast"))
            return true;
        std::fprintf(stderr, "no built-in page\n");
        return false;
    }

    void Close()
    {
        if (!mFrame)
            return;
        mFrame->Destroy();
        mFrame = nullptr;
        panel = nullptr;
        view = nullptr;
        bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
    }

    bcxBrowser* panel = nullptr;
    wxWebView* view = nullptr;

private:
    wxFrame* mFrame;
};

} // namespace bench
