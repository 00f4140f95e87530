#include "ui/ClientApp.h"

#include <csignal>
#include <cstdio>

#include <wx/cmdline.h>
#include <wx/config.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/splash.h>
#include <wx/utils.h>

#include "core/ClientCore.h"
#include "core/Version.h"
#include "lanhost/ChatCommands.h"
#include "lanhost/LanGameHost.h"
#include "platform/ProgramClock.h"
#include "platform/gui/QueuedEventSource.h"
#include "platform/gui/Resources.h"
#include "ui/MainFrame.h"
#include "ui/MemoryPages.h"
#include "ui/StartupLog.h"
#include "ui/StopSignals.h"
#include "ui/VersionCheck.h"

// Last: its macros (Bool, Status, None, ...) must not reach the headers above.
#include <X11/Xlib.h>

namespace {

XIOErrorHandler gNextDisplayLostHandler = nullptr;

// The display server went away (the end of the desktop session; under xvfb-run, Ctrl+C stops the display
// server too): the toolkit ends the program at once, so what the session changed is written first.
int OnDisplayLost(Display* display)
{
    if (ClientApp* app = dynamic_cast<ClientApp*>(wxTheApp))
        app->SaveSession();
    return gNextDisplayLostHandler ? gNextDisplayLostHandler(display) : 0;
}

// The splash screen: it times out by itself, and it keeps the program running no longer than its main
// window. A close from the window manager (the program's only window while it starts) closes the program.
class StartupSplash : public wxSplashScreen {
public:
    explicit StartupSplash(const wxBitmap& bitmap)
        : wxSplashScreen(bitmap, wxSPLASH_CENTRE_ON_SCREEN | wxSPLASH_TIMEOUT, 4000, nullptr, wxID_ANY,
                         wxDefaultPosition, wxDefaultSize, wxSIMPLE_BORDER | wxFRAME_NO_TASKBAR | wxSTAY_ON_TOP)
    {
        Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& event) {
            // The time-out and a click close it without a veto; the window manager's close may be vetoed.
            if (ClientApp* app = dynamic_cast<ClientApp*>(wxTheApp); app && event.CanVeto())
                app->RequestClose(0);
            event.Skip();
        });
    }

    bool ShouldPreventAppExit() const override { return false; }
};

const wxCmdLineEntryDesc kCommandLine[] = {
    {wxCMD_LINE_SWITCH, "s", "nosplash", "", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, "c", "noversioncheck", "", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_NONE, nullptr, nullptr, nullptr, wxCMD_LINE_VAL_NONE, 0},
};

} // namespace

ClientApp::ClientApp() = default;
ClientApp::~ClientApp() = default;

bool ClientApp::OnInit()
{
    // From the first moment a stop signal closes the program as its window's close does.
    mStopSignals = std::make_unique<StopSignals>([this](int signal) { RequestClose(signal); });

    // Until the main window's log exists, what is logged is held for it: no box stops start-up.
    mStartupLog = std::make_unique<StartupLog>(wxLog::GetActiveTarget());
    wxLog::SetActiveTarget(mStartupLog.get());

    wxInitAllImageHandlers();
    bcx::ProgramClock::Start();
    // What the sockets report and the queued notifications are served whatever the windows paint.
    bcx::StartQueuedEventSource();
    SetAppName(wxS("Brawlcast"));
    SetClassName(wxS("Client"));

    // Arguments that the table does not describe do not stop the program.
    wxCmdLineParser parser(kCommandLine, argc, argv);
    {
        wxLogNull quiet;
        parser.Parse(false);
    }
    const bool noSplash = parser.Found(wxS("s"));
    const bool noVersionCheck = parser.Found(wxS("c"));

    {
        wxLogNull quiet;
        wxBitmap splash = bcx::LoadBitmapResource(wxS("bcxSplash"));
        if (!splash.IsOk()) {
            std::printf("Could not load splash image!\n");
        } else {
            new StartupSplash(splash);
        }
    }

    // The slash commands are known before any Warcraft III can connect.
    RegisterChatCommands();

    // The LAN game hosts that present the offered games to Warcraft III.
    if (ClientCore* core = ClientCore::Get(false))
        core->SetSessionFactory(LanGameHost::Factory);

    if (!noVersionCheck) {
        mVersionCheck = std::make_unique<VersionCheck>(
            this, wxS("Client"), wxString::FromAscii(FormatPackedVersion(ClientVersion).c_str()));
        if (!mVersionCheck->Started()) {
            mVersionCheck.reset();
            wxLogMessage(wxS("Cannot create version check thread!"));
        }
    }

    bcx::RegisterMemoryPages();

    // The frame's log takes over the held lines.
    MainFrame* frame = new MainFrame();
    mFrame = frame;
    gNextDisplayLostHandler = XSetIOErrorHandler(OnDisplayLost);
    if (wxLog::GetActiveTarget() == mStartupLog.get())
        wxLog::SetActiveTarget(mStartupLog->GetPrevious());
    mStartupLog.reset();

    if (!noSplash && !mCloseRequested)
        wxSleep(2);

    frame->Show(true);
    SetTopWindow(frame);

    ApplySavedGeometry(frame);
    frame->GetNotebook()->SetSelection(0);
    if (mCloseRequested)
        frame->Close();
    return true;
}

void ClientApp::SaveSession()
{
    if (mFrame)
        mFrame->SaveSession();
}

void ClientApp::RequestClose(int signal)
{
    if (signal != 0) {
        wxString text = signal == SIGINT ? wxS("SIGINT") : signal == SIGTERM ? wxS("SIGTERM") : wxS("A stop signal");
        text += wxS(" received: closing and keeping the settings");
        if (signal == SIGINT)
            text += wxS(" (press Ctrl+C again to end at once)");
        std::fprintf(stderr, "%s\n", static_cast<const char*>(text.utf8_str()));
        wxLogMessage(wxS("%s"), text);
    }
    mCloseRequested = true;
    // What a stop signal or the splash asks for goes the way of the window manager's close of the main
    // window; before the window exists, OnInit closes it once it is shown.
    if (!mFrame)
        return;
    // The display server may be stopped together with the program (Ctrl+C under xvfb-run).
    if (signal != 0)
        mFrame->SaveSession();
    mFrame->Close();
}

int ClientApp::OnExit()
{
    mStopSignals.reset();
    bcx::StopQueuedEventSource();
    // A check still waiting for the server is cancelled; the program ends only after its worker.
    mVersionCheck.reset();
    ClientCore::Get(true);
    return wxApp::OnExit();
}

void ClientApp::ApplySavedGeometry(wxTopLevelWindow* frame)
{
    // The configuration object is the one ClientCore installed; none is created here.
    wxConfigBase* config = wxConfigBase::Get(false);
    long height = 480, width = -1, y = -1, x = -1;
    if (config) {
        config->SetPath(wxS("/GUI"));
        height = config->ReadLong(wxS("WindowHeight"), 480);
        width = config->ReadLong(wxS("WindowWidth"), -1);
        y = config->ReadLong(wxS("WindowPosY"), -1);
        x = config->ReadLong(wxS("WindowPosX"), -1);
    }
    frame->SetSize(static_cast<int>(x), static_cast<int>(y), static_cast<int>(width), static_cast<int>(height),
                   wxSIZE_AUTO);
}
