#pragma once
// The program's only top-level window: the connect bar across the top (Connect and Disconnect, the
// connection status, the relay host and port, the user name) and the notebook of pages below (Games,
// Settings, Log, About, and News in front once the relay sends news). It installs the file log and writes
// the start-up banner, is ClientCore's status target, shows the relay's messages to the user, and saves
// its geometry under /GUI when it is destroyed.

#include <cstddef>
#include <deque>

#include <wx/frame.h>
#include <wx/timer.h>

class ClientEvent;
class FileLog;
class GameListPanel;
class LogPanel;
class SettingsPage;
class bcxBrowser;
class wxButton;
class wxNotebook;
class wxPanel;
class wxStaticText;
class wxTextCtrl;

// Control and timer ids of the frame.
enum MainFrameId : int {
    MainFrameHostId = 1100,
    MainFramePortId = 1101,
    MainFrameUserId = 1102,
    MainFrameConnectId = 1103,
    MainFrameDisconnectId = 1104,
    MainFrameReenableTimerId = 1200,
};

class MainFrame : public wxFrame {
public:
    // The relay's texts that may wait while a message box is open; further ones are dropped.
    static constexpr size_t kServerMessageQueueBound = 16;

    MainFrame();
    ~MainFrame() override;

    // Connect button, Enter in a connect-bar field; with event id 0 (connect at start) validation
    // failures stay silent.
    void OnConnect(wxCommandEvent& event);
    void OnDisconnect(wxCommandEvent& event);
    void OnReenableTimer(wxTimerEvent& event);
    void OnConnectionStatus(ClientEvent& event);
    void OnNews(ClientEvent& event);

    wxNotebook* GetNotebook() const { return mNotebook; }
    LogPanel* GetLogPanel() const { return mLogPanel; }
    FileLog* GetFileLog() const { return mFileLog; }
    GameListPanel* GetGameListPanel() const { return mGameList; }
    SettingsPage* GetSettingsPage() const { return mSettings; }
    bcxBrowser* GetAboutPage() const { return mAbout; }
    bcxBrowser* GetNewsPage() const { return mNews; }
    wxTextCtrl* GetHostField() const { return mHost; }
    wxTextCtrl* GetPortField() const { return mPort; }
    wxTextCtrl* GetUserField() const { return mUser; }
    wxButton* GetConnectButton() const { return mConnect; }
    wxButton* GetDisconnectButton() const { return mDisconnect; }
    wxStaticText* GetStatusText() const { return mStatus; }
    wxTimer* GetReenableTimer() const { return mReenableTimer; }

private:
    void WriteBanner();
    void SetFieldsEnabled(bool enable);
    void SetStatus(const wxString& text);
    // The relay's texts are shown one box at a time, never nested: a text that arrives while a box is
    // open waits in the queue, and the next box opens from the event loop once the open one is closed.
    void QueueServerMessage(const wxString& text);
    void ShowNextServerMessage();

    FileLog* mFileLog = nullptr;
    wxNotebook* mNotebook = nullptr;
    wxTextCtrl* mHost = nullptr;
    wxTextCtrl* mPort = nullptr;
    wxTextCtrl* mUser = nullptr;
    wxButton* mConnect = nullptr;
    wxButton* mDisconnect = nullptr;
    wxStaticText* mStatus = nullptr;
    bcxBrowser* mAbout = nullptr;
    bcxBrowser* mNews = nullptr;
    wxTimer* mReenableTimer = nullptr;
    bool mDisconnectRequested = false;
    std::deque<wxString> mServerMessages;
    bool mServerMessageOpen = false;       // a box is open (its modal loop runs)
    bool mServerMessageQueued = false;     // the next box is queued on the event loop
    bool mServerMessagesDropping = false;  // the bound was hit; logged once until the queue drains

    wxPanel* mPanel = nullptr;
    LogPanel* mLogPanel = nullptr;
    GameListPanel* mGameList = nullptr;
    SettingsPage* mSettings = nullptr;

    wxDECLARE_EVENT_TABLE();
};
