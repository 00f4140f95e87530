#pragma once
// The application object: brings the client up in a fixed order and tears ClientCore down at exit.

#include <memory>

#include <wx/app.h>

class StartupLog;
class VersionCheck;
class wxTopLevelWindow;

class ClientApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

    // Applies the window geometry saved under /GUI (WindowPosX, WindowPosY, WindowWidth, WindowHeight;
    // -1 keeps the toolkit's choice, the height defaults to 480).
    static void ApplySavedGeometry(wxTopLevelWindow* frame);

    ClientApp();
    ~ClientApp() override;

private:
    std::unique_ptr<StartupLog> mStartupLog;
    std::unique_ptr<VersionCheck> mVersionCheck;
};
