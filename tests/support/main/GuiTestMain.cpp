// Entry of the GUI test executable: every test process gets its own Xvfb display, a fresh temporary
// working directory and a GUI application with an active GUI event loop; the tests run inside it and
// drive the loop with the pump.

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>
#include <wx/toplevel.h>

#include "support/Pump.h"
#include "support/TestEnv.h"
#include "support/gui/Xvfb.h"

namespace {

class GuiTestApp : public wxApp {
public:
    bool OnInit() override
    {
        wxInitAllImageHandlers();
        return true;
    }
};

void DestroyRemainingWindows()
{
    for (wxWindowList::compatibility_iterator node = wxTopLevelWindows.GetFirst(); node; node = node->GetNext())
        node->GetData()->Destroy();
    bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }, 5000);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (bcxtest::IsListingOnly(argc, argv))
        return RUN_ALL_TESTS();

    bcxtest::XvfbServer xvfb;
    if (!xvfb.StartAndUse())
        return 2;

    bcxtest::EnterTempDir();

    int result = 2;
    wxApp::SetInstance(new GuiTestApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "cannot initialise the toolkit\n");
        xvfb.Stop();
        return 2;
    }
    bcxtest::InstallAssertHandler();
    wxSocketBase::Initialize();
    delete wxLog::SetActiveTarget(new wxLogStderr);

    {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        result = RUN_ALL_TESTS();
        DestroyRemainingWindows();
    }

    wxSocketBase::Shutdown();
    wxTheApp->OnExit();
    // Lines logged while the toolkit shuts down go to standard error, never to a GUI log target.
    wxLog::DontCreateOnDemand();
    wxEntryCleanup();
    xvfb.Stop();
    return result;
}
