#pragma once
// The program's only top-level window: the connect bar across the top (Connect and Disconnect, the
// connection status, the relay host and port, the user name) and the notebook of pages below (Games,
// Settings, Log, About, and News in front once the relay sends news). It installs the file log and writes
// the start-up banner, is ClientCore's status target, shows the relay's messages to the user, and saves
// its geometry under /GUI when it is destroyed.

#include <cstddef>
#include <cstdint>
#include <deque>

#include <wx/frame.h>
#include <wx/timer.h>

class BrowserDialog;
class ClientEvent;
class FileLog;
class GameListPanel;
class LogPanel;
class SettingsPage;
class bcxBrowser;
class wxButton;
class wxConfigBase;
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

    // From now on no modal window opens over the frame: not the relay's boxes nor its news dialog, not
    // the connect bar's messages (the bar does nothing any more), and no box asked for through
    // ShowMessageBox. A modal window of the frame is never deleted inside its ShowModal: while one is
    // open, the news dialog is ended at once, a message box stays until the user answers it, and the
    // frame goes once ShowModal has returned.
    bool Destroy() override;

    // The one way a message box opens over the program's frame, for every part of the program: over the
    // frame that window belongs to (null: the program's frame, also while it waits to be deleted), or as
    // a plain box when there is no such frame. False, and no box, once that frame is closing; the frame
    // lives until the box has returned.
    static bool ShowMessageBox(wxWindow* window, const wxString& text, const wxString& caption);

    // Writes what the session changed (the geometry and the games list's column widths, as the
    // destruction does) to the configuration file now: for a stop that may not reach the end of the
    // shutdown (under xvfb-run, Ctrl+C stops the display server too). No call to the display server.
    void SaveSession();

    // Connect button, Enter in a connect-bar field; with event id 0 (connect at start) validation
    // failures stay silent. On a closing frame (a click or Enter still queued) it does nothing.
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
    void SaveGeometry();
    // Writes what the configuration holds to its file; a failure is logged.
    static void FlushSettings(wxConfigBase* config);
    void SetFieldsEnabled(bool enable);
    void SetStatus(const wxString& text);
    // The relay's texts and its news dialog are shown one modal window at a time, never nested: what
    // arrives while one is open waits in the queue, and the next one opens from the event loop once the
    // open one is closed. At most one news dialog waits; a later news record replaces it.
    void QueueServerMessage(const wxString& text);
    void QueueNewsDialog(const wxString& url, int width, int height, uint8_t flags, const wxString& pageUrl);
    void ScheduleNextModal();
    void ShowNextModal();
    // Every modal window of the frame (the relay's boxes, the news dialog, the connect bar's messages, the
    // boxes of ShowMessageBox) is shown between these two: while one is open the queue opens nothing, and
    // a Destroy asked for meanwhile is carried out when the last one has returned.
    void ModalOpening();
    void ModalClosed();
    // A box over the frame; false, and no box, when the frame is closing.
    bool ShowMessage(const wxString& text, const wxString& caption = wxS("Message"));

    // What news records do to the News page, each in turn: create it (flag bit 1), load the record's page
    // address into it, select it (bit 2). The records that wait behind one news dialog are kept folded
    // into one: in turn, a later address replaces an earlier one at once and a selection stays, so the
    // last address counts; which records take effect depends on whether the page exists when they apply.
    struct NewsPageSteps {
        bool create = false;
        wxString urlIfExisting;  // the last address of all the records
        wxString urlIfCreated;   // the last address from the first creating record on
        bool selectIfExisting = false;
        bool selectIfCreated = false;

        void Add(uint8_t flags, const wxString& url);
    };
    void ApplyNewsPageSteps(const NewsPageSteps& steps);

    // A modal window waiting to be shown: a relay text in a message box, or the news dialog with the
    // News page steps of the records that wait behind it.
    struct WaitingModal {
        bool news = false;
        wxString text;  // the box's text, or the dialog's address
        int width = 0;
        int height = 0;
        NewsPageSteps page;
    };
    WaitingModal* WaitingNewsDialog();  // the one news dialog that waits, or null

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
    std::deque<WaitingModal> mWaitingModals;
    size_t mWaitingTexts = 0;
    int mModalsOpen = 0;                   // modal windows of the frame whose ShowModal has not returned
    bool mModalQueued = false;             // the next one is queued on the event loop
    bool mClosing = false;                 // Destroy was asked for
    BrowserDialog* mNewsDialog = nullptr;  // the news dialog while it is open
    NewsPageSteps mOpenNewsPage;           // the News page steps that wait for the open news dialog
    bool mServerMessagesDropping = false;  // the bound was hit; logged once until the queue drains
    bool mNewsReplacing = false;           // a waiting news dialog was replaced; logged once until shown

    wxPanel* mPanel = nullptr;
    LogPanel* mLogPanel = nullptr;
    GameListPanel* mGameList = nullptr;
    SettingsPage* mSettings = nullptr;

    wxDECLARE_EVENT_TABLE();
};
