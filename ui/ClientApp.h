#pragma once
// The application object: brings the client up in a fixed order and tears ClientCore down at exit.

#include <memory>

#include <wx/app.h>
#include <wx/weakref.h>

class MainFrame;
class StartupLog;
class StopSignals;
class VersionCheck;
class wxTopLevelWindow;

class ClientApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

    // Applies the window geometry saved under /GUI (WindowPosX, WindowPosY, WindowWidth, WindowHeight;
    // -1 keeps the toolkit's choice, the height defaults to 480).
    static void ApplySavedGeometry(wxTopLevelWindow* frame);

    // Closes the program as the window manager's close of its main window does, at any moment: asked
    // during start-up, the main window closes as soon as it is shown. signal: the stop signal that asked
    // (0: the window manager's close of the splash screen).
    void RequestClose(int signal);
    // Writes what the session changed to the configuration file now (MainFrame::SaveSession).
    void SaveSession();

    ClientApp();
    ~ClientApp() override;

private:
    std::unique_ptr<StopSignals> mStopSignals;
    wxWeakRef<MainFrame> mFrame;
    bool mCloseRequested = false;
    std::unique_ptr<StartupLog> mStartupLog;
    std::unique_ptr<VersionCheck> mVersionCheck;
};
