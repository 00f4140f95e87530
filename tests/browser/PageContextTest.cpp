// The engine context the pages run on, under Xvfb with the real web view: every view is on it, a page's
// process is ended past its memory limit, and a page's media writes nothing to disk until the user
// starts it.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <webkit2/webkit2.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>
#include <wx/webview.h>

#include "browser/BrowserPanel.h"
#include "browser/webbrowser/PageContext.h"
#include "support/LogCapture.h"
#include "support/PageServer.h"
#include "support/Pump.h"
#include "support/gui/WebPages.h"
#include "ui/MemoryPages.h"

namespace {

using namespace bcxtest;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The bytes of the files on disk that the engine's processes started by this one hold open: under
// /var/tmp, or deleted (shared memory aside).
uint64_t EngineFilesOnDisk()
{
    uint64_t total = 0;
    const std::string self = std::to_string(getpid());
    std::istringstream children(ReadText("/proc/" + self + "/task/" + self + "/children"));
    for (std::string pid; children >> pid;) {
        if (ReadText("/proc/" + pid + "/comm").rfind("WebKit", 0) != 0)
            continue;
        const std::string fds = "/proc/" + pid + "/fd/";
        DIR* dir = opendir(fds.c_str());
        for (dirent* entry = dir ? readdir(dir) : nullptr; entry; entry = readdir(dir)) {
            char target[4096];
            const ssize_t n = readlink((fds + entry->d_name).c_str(), target, sizeof target - 1);
            const std::string path(target, n > 0 ? size_t(n) : 0);
            const bool deleted = path.size() > 10 && path.compare(path.size() - 10, 10, " (deleted)") == 0;
            struct stat st {};
            if ((path.rfind("/var/tmp/", 0) == 0 || (deleted && path.rfind("/memfd:", 0) != 0 &&
                                                     path.rfind("/dev/shm/", 0) != 0)) &&
                stat((fds + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                total += uint64_t(st.st_size);
        }
        if (dir)
            closedir(dir);
    }
    return total;
}

// A WAV file of 8-bit mono 8 kHz silence, `seconds` long.
std::string Wav(unsigned seconds)
{
    const uint32_t data = 8000 * seconds;
    std::string wav = "RIFF....WAVEfmt ";
    const auto u32 = [&](uint32_t v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](uint16_t v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
    u32(16), u16(1), u16(1), u32(8000), u32(8000), u16(1), u16(8);
    wav += "data";
    u32(data);
    wav.append(data, '\x80');
    const uint32_t riff = uint32_t(wav.size() - 8);
    wav.replace(4, 4, reinterpret_cast<const char*>(&riff), 4);
    return wav;
}

class PageContextTest : public testing::Test {
protected:
    void SetUp() override
    {
        static bool pagesRegistered = false;
        if (!pagesRegistered)
            bcx::RegisterMemoryPages();
        pagesRegistered = true;
        ASSERT_TRUE(server.IsListening());
        frame = new wxFrame(nullptr, wxID_ANY, wxS("browser"), wxPoint(0, 0), wxSize(800, 600));
    }

    void TearDown() override
    {
        frame->Destroy();
        PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
    }

    void Open(const wxString& start)
    {
        panel = new bcxBrowser(frame, wxID_ANY, start);
        wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(panel, 1, wxEXPAND);
        frame->SetSizer(sizer);
        panel->Create(false);
        frame->Show();
        frame->Layout();
        ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen(); }));
        view = FindWebView(panel);
        ASSERT_NE(nullptr, view);
    }

    // A real mouse click on the element, as the user makes it.
    bool MouseClick(const std::string& id)
    {
        const std::string where = "var r = document.getElementById('" + id + "').getBoundingClientRect();"
                                  "Math.round(r.left + 5) + ',' + Math.round(r.top + r.height / 2)";
        int x = 0, y = 0;
        wxUIActionSimulator mouse;
        return PumpUntil([&] { return sscanf(EvalInPage(view, where).c_str(), "%d,%d", &x, &y) == 2; }) &&
               mouse.MouseMove(view->ClientToScreen(wxPoint(x, y))) && mouse.MouseClick();
    }

    // Counts the ends of the view's process that the engine reports.
    void CountProcessEnds()
    {
        g_signal_connect(view->GetNativeBackend(), "web-process-terminated",
                         G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer n) {
                             ++*static_cast<size_t*>(n);
                         }),
                         &processEnds);
    }

    PageServer server;
    size_t processEnds = 0;
    wxFrame* frame = nullptr;
    bcxBrowser* panel = nullptr;
    wxWebView* view = nullptr;
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
    limits.pageProcessMiB = 320;
    bcx::SetPageLimits(limits);
    // 8 MB more every 100 ms, every page of it written, up to 640 MB: past the lowered limit, not the usual.
    server.AddPage("/grow.html", "<html><head><title>grow</title></head><body><script>var kept = [], t = "
                                 "setInterval(function() { var a = new Uint8Array(8 << 20); for (var i = 0; i < "
                                 "a.length; i += 4096) a[i] = 1; kept.push(a); if (kept.length == 80) { "
                                 "clearInterval(t); document.title = 'grown'; } }, 100);</script></body></html>");
    server.AddPage("/next.html", "<html><head><title>next</title></head><body>next</body></html>");
    Open(server.Url("/grow.html"));
    CountProcessEnds();
    ASSERT_TRUE(PumpUntil([&] { return processEnds == 1; }, 30000));
    EXPECT_EQ(1u, log.Count("[browser] the page's process exceeded its memory limit"));
    // Ended by the program: not reported as a crash.
    EXPECT_FALSE(log.Contains("crashed"));
    panel->LoadUrl(server.Url("/next.html"));
    EXPECT_TRUE(WaitForPageTitle(view, "next"));
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
                   "<html><head><title>media</title></head><body><audio preload='auto' muted src='/m0.wav'></audio>"
                   "<video preload='auto' muted src='/m1.wav'></video><audio autoplay muted src='/m2.wav'></audio>"
                   "<script>var a = new Audio(); a.preload = 'auto'; a.src = '/m3.wav'; a.load(); var p = "
                   "document.createElement('audio'); p.muted = true; p.src = '/m4.wav'; p.play().catch(function() {}); "
                   "setTimeout(function() { a.src = '/m5.wav'; }, 500);</script></body></html>");
    server.AddPage("/short.wav", Wav(1), "audio/wav");
    server.AddPage("/sound.html", "<html><head><title>sound</title></head><body><audio id='s' src='/short.wav'></audio>"
                                  "<button id='b' onclick=\"document.getElementById('s').play()\">play</button><script>"
                                  "document.getElementById('s').onplaying = function() { document.title = 'playing'; "
                                  "};</script></body></html>");
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
    EXPECT_EQ(processEnds, log.Count("[browser] pages held more than 48 MiB of files on disk"));
    // A short sound the user starts plays.
    panel->LoadUrl(server.Url("/sound.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "sound"));
    ASSERT_TRUE(MouseClick("b"));
    EXPECT_TRUE(WaitForPageTitle(view, "playing"));
}

} // namespace
