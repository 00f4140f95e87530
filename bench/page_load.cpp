// What the program's page extension costs a page's load: the extension on against the engine without it.
//
// On a private Xvfb display a browser panel (as in the program's News page) loads a news-like page served
// on 127.0.0.1 (text, styles, 20 images, a little script) as the program loads its pages (LoadUrl):
//   - warm: the page loaded again in the panel that shows it, 30 times, a tenth of a second apart;
//   - new view: a new panel in a frame of its own, made and loading the page, 10 times.
// Timed from the call until the engine reports the load finished. Each side runs in a fresh process of
// its own: "on" with the extension, "off" without it (BCX_NO_PAGE_EXTENSION set, as the program runs when
// the extension is missing); the rounds alternate which side comes first, so that both see the same
// machine. Printed: the median of each side's medians, and on/off.
// Usage: bench_page_load [rounds (default 5)] [--before=<bench_page_load of another build>] : with
// --before, that build's program (extension on) runs in each round too, paired the same way.
//        bench_page_load one on|off : one side, once; prints "warm <ms> new <ms>".

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <webkit2/webkit2.h>
#include <wx/evtloop.h>
#include <wx/sizer.h>
#include <wx/webview.h>

#include "BenchGui.h"
#include "browser/BrowserPanel.h"
#include "support/PageServer.h"
#include "support/Pump.h"
#include "support/gui/WebPages.h"
#include "ui/MemoryPages.h"

namespace {

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// When the view's engine last reported a load finished (monotonic seconds; 0: not yet).
struct LoadWatch {
    double finishedAt = 0;
    void Attach(wxWebView* view)
    {
        g_signal_connect(view->GetNativeBackend(), "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED)
                                 static_cast<LoadWatch*>(self)->finishedAt = bench::MonotonicSeconds();
                         }),
                         this);
    }
};

// One side in this process: the medians of the warm loads and of the new views (ms); 1 on a failure.
int RunSide(bool extension, double& warmMs, double& newViewMs)
{
    if (!extension)
        setenv("BCX_NO_PAGE_EXTENSION", "1", 1);
    return bench::RunWithGuiToolkit("[Net]\nDatagramPort=0\nSessionPort=0\n", [&] {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        bcx::RegisterMemoryPages();
        bcxtest::PageServer server;
        if (!server.IsListening())
            return 2;
        bench::AddNewsPage(server);
        const wxString url = server.Url("/news.html");
        const auto settle = [&](int ms) { bench::RunLoopUntil(loop, nullptr, ms); };

        bench::AboutPanel about;
        if (!about.Open())
            return 2;
        LoadWatch watch;
        watch.Attach(about.view);
        // The first load starts the engine's processes; not counted.
        about.panel->LoadUrl(url);
        if (!bcxtest::PumpUntil([&] { return watch.finishedAt != 0; }, 20000))
            return 1;
        settle(1000);
        std::vector<double> warm;
        for (int n = 0; n < 30; ++n) {
            watch.finishedAt = 0;
            const double start = bench::MonotonicSeconds();
            about.panel->LoadUrl(url);
            if (!bcxtest::PumpUntil([&] { return watch.finishedAt != 0; }, 10000))
                return 1;
            warm.push_back((watch.finishedAt - start) * 1000);
            settle(100);
        }
        std::vector<double> fresh;
        for (int n = 0; n < 10; ++n) {
            wxFrame* frame = new wxFrame(nullptr, wxID_ANY, wxS("new view"), wxPoint(0, 0), wxSize(800, 600));
            const double start = bench::MonotonicSeconds();
            bcxBrowser* panel = new bcxBrowser(frame, wxID_ANY, url);
            wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
            sizer->Add(panel, 1, wxEXPAND);
            frame->SetSizer(sizer);
            panel->Create(false);
            wxWebView* view = bcxtest::FindWebView(panel);
            if (!view)
                return 1;
            LoadWatch made;
            made.Attach(view);
            frame->Show();
            frame->Layout();
            if (!bcxtest::PumpUntil([&] { return made.finishedAt != 0; }, 20000))
                return 1;
            fresh.push_back((made.finishedAt - start) * 1000);
            frame->Destroy();
            settle(300);
        }
        warmMs = Median(warm);
        newViewMs = Median(fresh);
        return 0;
    });
}

struct Side {
    const char* name;
    std::string command;
    std::vector<double> warm, fresh;
};

bool RunOnce(Side& side)
{
    FILE* out = popen(side.command.c_str(), "re");
    if (!out)
        return false;
    double warm = 0, fresh = 0;
    const bool read = std::fscanf(out, "warm %lf new %lf", &warm, &fresh) == 2;
    const bool ok = pclose(out) == 0 && read;
    if (ok) {
        side.warm.push_back(warm);
        side.fresh.push_back(fresh);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "one") == 0) {
        double warm = 0, fresh = 0;
        const int rc = RunSide(std::strcmp(argv[2], "off") != 0, warm, fresh);
        if (rc == 0)
            std::printf("warm %.3f new %.3f\n", warm, fresh);
        return rc;
    }
    int rounds = 5;
    std::string before;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--before=", 9) == 0)
            before = argv[i] + 9;
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }
    const std::string self = argv[0];
    std::vector<Side> sides = {{"on", self + " one on", {}, {}}, {"off", self + " one off", {}, {}}};
    if (!before.empty())
        sides.push_back({"before", before + " one on", {}, {}});
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < sides.size(); ++k) {
            Side& side = sides[(k + r) % sides.size()];
            if (!RunOnce(side)) {
                std::printf("round %d: the %s side failed\n", r + 1, side.name);
                return 1;
            }
        }
        std::printf("round %d:", r + 1);
        for (const Side& side : sides)
            std::printf("  %s warm %.2f ms new view %.2f ms", side.name, side.warm.back(), side.fresh.back());
        std::printf("\n");
        std::fflush(stdout);
    }
    const Side& off = sides[1];
    std::printf("median of %d rounds (paired):\n", rounds);
    for (const Side& side : sides)
        std::printf("  %-6s warm load %6.2f ms (%.3fx off)  new view %6.2f ms (%.3fx off)\n", side.name,
                    Median(side.warm), Median(side.warm) / Median(off.warm), Median(side.fresh),
                    Median(side.fresh) / Median(off.fresh));
    return 0;
}
