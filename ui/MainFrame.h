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
    // The relay's texts that may wait while a box or the news dialog is open; further ones are dropped.
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
    // The relay's texts and its news dialog are shown one modal window at a time, never nested: what
    // arrives while one is open waits in the queue, and the next one opens from the event loop once the
    // open one is closed. At most one news dialog waits; a later news record replaces it.
    void QueueServerMessage(const wxString& text);
    void QueueNewsDialog(const wxString& url, int width, int height);
    void ScheduleNextModal();
    void ShowNextModal();

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
    // A modal window waiting to be shown: a relay text in a message box, or the news dialog.
    struct WaitingModal {
        bool news = false;
        wxString text;  // the box's text, or the dialog's address
        int width = 0;
        int height = 0;
    };
    std::deque<WaitingModal> mWaitingModals;
    size_t mWaitingTexts = 0;
    bool mModalOpen = false;               // a box or the news dialog is open (its modal loop runs)
    bool mModalQueued = false;             // the next one is queued on the event loop
    bool mServerMessagesDropping = false;  // the bound was hit; logged once until the queue drains
    bool mNewsReplacing = false;           // a waiting news dialog was replaced; logged once until shown

    wxPanel* mPanel = nullptr;
    LogPanel* mLogPanel = nullptr;
    GameListPanel* mGameList = nullptr;
    SettingsPage* mSettings = nullptr;

    wxDECLARE_EVENT_TABLE();
};
