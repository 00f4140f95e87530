#pragma once
// The GUI toolkit for a timed program: a private Xvfb display and a GUI application, so that a run can
// use the event loop the program itself runs (wxGUIEventLoop) with the sockets and timers of the GUI
// toolkit.

#include <cstdio>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "BenchSupport.h"
#include "support/gui/Xvfb.h"

namespace bench {

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

} // namespace bench
