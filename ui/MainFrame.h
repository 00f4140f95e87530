#pragma once
// The program's only top-level window: the connect bar across the top and the notebook of pages below.
// It installs the file log and writes the start-up banner, is ClientCore's status target, and saves its
// geometry under /GUI when it is destroyed.

#include <wx/frame.h>

class FileLog;
class LogPanel;
class wxBoxSizer;
class wxNotebook;
class wxPanel;

class MainFrame : public wxFrame {
public:
    MainFrame();
    ~MainFrame() override;

    wxNotebook* GetNotebook() const { return mNotebook; }
    LogPanel* GetLogPanel() const { return mLogPanel; }
    FileLog* GetFileLog() const { return mFileLog; }

private:
    void WriteBanner();

    FileLog* mFileLog = nullptr;
    wxNotebook* mNotebook = nullptr;
    wxPanel* mPanel = nullptr;
    LogPanel* mLogPanel = nullptr;
};
