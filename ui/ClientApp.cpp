#include "ui/ClientApp.h"

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
#include "ui/VersionCheck.h"

namespace {

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
            new wxSplashScreen(splash, wxSPLASH_CENTRE_ON_SCREEN | wxSPLASH_TIMEOUT, 4000, nullptr, wxID_ANY,
                               wxDefaultPosition, wxDefaultSize, wxSIMPLE_BORDER | wxFRAME_NO_TASKBAR | wxSTAY_ON_TOP);
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
    if (wxLog::GetActiveTarget() == mStartupLog.get())
        wxLog::SetActiveTarget(mStartupLog->GetPrevious());
    mStartupLog.reset();

    if (!noSplash)
        wxSleep(2);

    frame->Show(true);
    SetTopWindow(frame);

    ApplySavedGeometry(frame);
    frame->GetNotebook()->SetSelection(0);
    return true;
}

int ClientApp::OnExit()
{
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
