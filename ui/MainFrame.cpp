#include "ui/MainFrame.h"

#include <utility>

#include <wx/button.h>
#include <wx/config.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/socket.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>
#include <wx/valtext.h>

#include "core/ClientCore.h"
#include "core/Version.h"
#include "platform/TextCodec.h"
#include "browser/BrowserPanel.h"
#include "platform/gui/Resources.h"
#include "ui/BrowserDialog.h"
#include "ui/FileLog.h"
#include "ui/GameListPanel.h"
#include "ui/LogPanel.h"
#include "ui/SettingsPage.h"
#include "ui/StartupLog.h"

namespace {

wxString VersionText(PackedVersion version)
{
    return wxString::FromAscii(FormatPackedVersion(version).c_str());
}

wxString Utf8(const char* text)
{
    return wxString::FromUTF8(text);
}

} // namespace

wxBEGIN_EVENT_TABLE(MainFrame, wxFrame)
    EVT_TEXT_ENTER(MainFrameHostId, MainFrame::OnConnect)
    EVT_TEXT_ENTER(MainFramePortId, MainFrame::OnConnect)
    EVT_TEXT_ENTER(MainFrameUserId, MainFrame::OnConnect)
    EVT_BUTTON(MainFrameConnectId, MainFrame::OnConnect)
    EVT_BUTTON(MainFrameDisconnectId, MainFrame::OnDisconnect)
    EVT_TIMER(MainFrameReenableTimerId, MainFrame::OnReenableTimer)
    EVT_CLIENT_EVENT(ClientEventRelayState, MainFrame::OnConnectionStatus)
    EVT_CLIENT_EVENT(ClientEventNews, MainFrame::OnNews)
wxEND_EVENT_TABLE()

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, wxS("Brawlcast"), wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxMAXIMIZE_BOX | wxCLOSE_BOX | wxRESIZE_BORDER)
{
    SetIcon(bcx::LoadIconResource(wxS("bcxIcon")));

    mPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER);
    // The notebook and the scrolled pages start with a small real size rather than none: GTK complains
    // about scrollbars and tabs laid out in a window of no size before the first layout.
    mNotebook = new wxNotebook(mPanel, wxID_ANY, wxDefaultPosition, wxSize(640, 150), 0);
    wxBoxSizer* notebookSizer = new wxBoxSizer(wxVERTICAL);
    notebookSizer->SetMinSize(640, 150);
    notebookSizer->Add(mNotebook, 1, wxEXPAND);

    ClientCore* core = ClientCore::Get(false);
    const ClientSettings defaults;
    const ClientSettings& settings = core ? core->Settings() : defaults;

    // The text fields are a little wider than the classic 120/45/70 pixels: the toolkit's entries carry
    // more padding here, and the port and a short name must stay readable.
    mHost = new wxTextCtrl(mPanel, MainFrameHostId, bcx::FromGbk(settings.mLastServer), wxDefaultPosition,
                           wxSize(120, -1), wxTE_PROCESS_ENTER);
    mPort = new wxTextCtrl(mPanel, MainFramePortId, wxString::Format(wxS("%d"), settings.mLastPort),
                           wxDefaultPosition, wxSize(64, -1), wxTE_PROCESS_ENTER | wxSUNKEN_BORDER,
                           wxTextValidator(wxFILTER_DIGITS));
    mUser = new wxTextCtrl(mPanel, MainFrameUserId, bcx::FromGbk(settings.mUserName), wxDefaultPosition,
                           wxSize(90, -1), wxTE_PROCESS_ENTER);
    mConnect = new wxButton(mPanel, MainFrameConnectId, Utf8("连接"));
    mDisconnect = new wxButton(mPanel, MainFrameDisconnectId, Utf8("断开连接"));
    mStatus = new wxStaticText(mPanel, wxID_ANY, Utf8("连接已断开"), wxDefaultPosition, wxDefaultSize,
                               wxST_NO_AUTORESIZE);

    wxBoxSizer* bar = new wxBoxSizer(wxHORIZONTAL);
    bar->Add(mConnect, 0, 0, 0);
    bar->Add(mDisconnect, 0, wxRIGHT, 5);
    bar->Add(mStatus, 2, wxALIGN_CENTRE_VERTICAL | wxRIGHT, 10);
    bar->Add(new wxStaticLine(mPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL), 0,
             wxEXPAND | wxLEFT | wxRIGHT, 5);
    bar->Add(new wxStaticText(mPanel, wxID_ANY, Utf8("服务器: ")), 0, wxALIGN_CENTRE_VERTICAL, 0);
    bar->Add(mHost, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, 1);
    bar->Add(mPort, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, 5);
    bar->Add(new wxStaticText(mPanel, wxID_ANY, Utf8("用户名: ")), 0, wxALIGN_CENTRE_VERTICAL, 0);
    bar->Add(mUser, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, 3);

    mDisconnect->Enable(false);

    wxBoxSizer* panelSizer = new wxBoxSizer(wxVERTICAL);
    panelSizer->Add(bar, 0, wxEXPAND | wxALL, 5);
    panelSizer->Add(new wxStaticLine(mPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL), 0,
                    wxEXPAND, 0);
    panelSizer->Add(notebookSizer, 1, wxEXPAND | wxALL, 5);
    mPanel->SetAutoLayout(true);
    mPanel->SetSizer(panelSizer);
    panelSizer->Fit(this);
    panelSizer->SetSizeHints(this);

    mLogPanel = new LogPanel(mNotebook);
    // What start-up logged before this log existed was held for it and comes first.
    wxLog* previous = wxLog::GetActiveTarget();
    StartupLog* startup = dynamic_cast<StartupLog*>(previous);
    mFileLog = new FileLog(mLogPanel->GetListBox(), startup ? startup->GetPrevious() : previous);
    wxLog::SetActiveTarget(mFileLog);
    if (startup)
        startup->Replay(*mFileLog);

    WriteBanner();

    mGameList = new GameListPanel(mNotebook);
    mGameList->SetMessageBoxAsker([this](const wxString& text, const wxString& caption) {
        ShowMessage(text, caption);
    });
    mNotebook->AddPage(mGameList, Utf8("       游戏       "), false);
    mSettings = new SettingsPage(mNotebook);
    mNotebook->AddPage(mSettings, Utf8("      设置     "), false);
    mNotebook->AddPage(mLogPanel, Utf8(" 日志"), false);
    mAbout = new bcxBrowser(mNotebook, wxID_ANY, wxS("bcx:about"), wxDefaultPosition, wxSize(200, 80));
    mAbout->Create(false);
    mNotebook->AddPage(mAbout, Utf8("       关于       "), false);

    mReenableTimer = new wxTimer(this, MainFrameReenableTimerId);
    if (core) {
        core->SetStatusTarget(this);
        // The relay's error and text messages: shown once the socket handler that read them has returned.
        core->SetServerMessageHook([this](const wxString& text) { QueueServerMessage(text); });
    }

    if (core && core->Settings().mConnectAtStart) {
        wxCommandEvent start(wxEVT_BUTTON, 0);
        OnConnect(start);
    }
}

MainFrame::~MainFrame()
{
    SaveGeometry();
    if (ClientCore* core = ClientCore::Get(false)) {
        if (core->GetStatusTarget() == this)
            core->SetStatusTarget(nullptr);
        core->SetServerMessageHook(nullptr);
    }
    delete mReenableTimer;
    mReenableTimer = nullptr;
    delete mFileLog;
    mFileLog = nullptr;
}

void MainFrame::SaveGeometry()
{
    // A frame closed while minimised or maximised keeps the previously saved geometry.
    if (IsIconized() || IsFullScreen() || IsMaximized())
        return;
    if (wxConfigBase* config = wxConfigBase::Get(false)) {
        wxPoint position = GetPosition();
        wxSize size = GetSize();
        config->SetPath(wxS("/GUI"));
        config->Write(wxS("WindowPosX"), static_cast<long>(position.x));
        config->Write(wxS("WindowPosY"), static_cast<long>(position.y));
        config->Write(wxS("WindowWidth"), static_cast<long>(size.x));
        config->Write(wxS("WindowHeight"), static_cast<long>(size.y));
    }
}

void MainFrame::SaveSession()
{
    SaveGeometry();
    if (mGameList)
        mGameList->SaveColumnWidths();
    FlushSettings(wxConfigBase::Get(false));
}

void MainFrame::FlushSettings(wxConfigBase* config)
{
    if (!config)
        return;
    config->SetPath(wxS("/"));
    if (!config->Flush())
        wxLogMessage(wxS("Settings: could not write %s"), wxString::FromUTF8(kConfigFileName));
}

bool MainFrame::Destroy()
{
    mClosing = true;
    if (mModalsOpen == 0)
        return wxFrame::Destroy();
    // Deleting the frame now would delete the open window inside its ShowModal: the last ModalClosed
    // destroys the frame instead. The news dialog is ended here; the toolkit's message box cannot be
    // ended from outside, and it holds one text and an OK button for the user to answer.
    if (mNewsDialog && mNewsDialog->IsModal())
        mNewsDialog->EndModal(wxID_CANCEL);
    return true;
}

void MainFrame::ModalOpening()
{
    ++mModalsOpen;
}

void MainFrame::ModalClosed()
{
    if (--mModalsOpen > 0)
        return;
    if (mClosing)
        wxFrame::Destroy();
    else
        ScheduleNextModal();
}

bool MainFrame::ShowMessage(const wxString& text, const wxString& caption)
{
    // A box of a closing frame would run its own loop, which deletes the frame under it.
    if (mClosing)
        return false;
    ModalOpening();
    wxMessageBox(text, caption, wxOK | wxCENTRE, this);
    ModalClosed();
    return true;
}

bool MainFrame::ShowMessageBox(wxWindow* window, const wxString& text, const wxString& caption)
{
    MainFrame* frame = nullptr;
    if (window) {
        frame = dynamic_cast<MainFrame*>(wxGetTopLevelParent(window));
    } else {
        // Not the application's top window: that skips a frame which waits to be deleted.
        for (wxWindow* top : wxTopLevelWindows)
            if ((frame = dynamic_cast<MainFrame*>(top)) != nullptr)
                break;
    }
    if (frame)
        return frame->ShowMessage(text, caption);
    wxMessageBox(text, caption, wxOK | wxCENTRE);
    return true;
}

void MainFrame::QueueServerMessage(const wxString& text)
{
    if (mClosing)
        return;
    if (mWaitingTexts >= kServerMessageQueueBound) {
        if (!mServerMessagesDropping)
            ClientCore::LogServer(wxString::Format(wxS("%u server messages wait to be shown; further ones are dropped"),
                                                   static_cast<unsigned>(mWaitingTexts)));
        mServerMessagesDropping = true;
        return;
    }
    mWaitingModals.push_back({false, text, 0, 0, {}});
    ++mWaitingTexts;
    ScheduleNextModal();
}

void MainFrame::QueueNewsDialog(const wxString& url, int width, int height, uint8_t flags, const wxString& pageUrl)
{
    if (WaitingModal* waiting = WaitingNewsDialog()) {
        if (!mNewsReplacing)
            ClientCore::LogServer(wxS("A news dialog waits to be shown; later news records replace it"));
        mNewsReplacing = true;
        waiting->text = url;
        waiting->width = width;
        waiting->height = height;
        waiting->page.Add(flags, pageUrl);
        return;
    }
    mWaitingModals.push_back({true, url, width, height, {}});
    mWaitingModals.back().page.Add(flags, pageUrl);
    ScheduleNextModal();
}

MainFrame::WaitingModal* MainFrame::WaitingNewsDialog()
{
    for (WaitingModal& waiting : mWaitingModals)
        if (waiting.news)
            return &waiting;
    return nullptr;
}

void MainFrame::ScheduleNextModal()
{
    if (mClosing || mModalsOpen > 0 || mModalQueued || mWaitingModals.empty())
        return;
    mModalQueued = true;
    CallAfter(&MainFrame::ShowNextModal);
}

void MainFrame::ShowNextModal()
{
    mModalQueued = false;
    if (mClosing || mModalsOpen > 0 || mWaitingModals.empty())
        return;
    WaitingModal next = std::move(mWaitingModals.front());
    mWaitingModals.pop_front();
    if (!next.news) {
        if (--mWaitingTexts == 0)
            mServerMessagesDropping = false;
        ShowMessage(next.text);
        return;
    }
    mNewsReplacing = false;
    mOpenNewsPage = next.page;
    ModalOpening();
    // The modal loop serves the relay connection: records that arrive meanwhile wait behind this dialog.
    mNewsDialog = new BrowserDialog(this, next.text, next.width, next.height);
    mNewsDialog->Centre(wxBOTH);
    mNewsDialog->ShowModal();
    mNewsDialog->Destroy();
    mNewsDialog = nullptr;
    if (!mClosing)
        ApplyNewsPageSteps(mOpenNewsPage);
    mOpenNewsPage = NewsPageSteps();
    ModalClosed();
}

void MainFrame::NewsPageSteps::Add(uint8_t flags, const wxString& url)
{
    create = create || (flags & 2);
    if (!url.empty()) {
        urlIfExisting = url;
        if (create)
            urlIfCreated = url;
    }
    if (flags & 4) {
        selectIfExisting = true;
        selectIfCreated = selectIfCreated || create;
    }
}

void MainFrame::ApplyNewsPageSteps(const NewsPageSteps& steps)
{
    const bool existed = mNews != nullptr;
    if (!existed && !steps.create)
        return;
    if (!existed) {
        mNews = new bcxBrowser(mNotebook, wxID_ANY, wxString(), wxDefaultPosition, wxSize(200, 80));
        mNews->Create(false);
        mNotebook->InsertPage(0, mNews, Utf8("       News       "), false);
    }
    const wxString& url = existed ? steps.urlIfExisting : steps.urlIfCreated;
    if (!url.empty())
        mNews->LoadUrl(url);
    if (existed ? steps.selectIfExisting : steps.selectIfCreated)
        mNotebook->SetSelection(0);
}

void MainFrame::WriteBanner()
{
    wxLogMessage(wxS("%s"), wxS("欢迎使用 Brawlcast, ") + wxGetUserName());
    wxLogMessage(wxS("%s"), wxString(wxS('='), 36));
    wxLogMessage(wxS("%s"), wxS("操作系统") + wxGetOsDescription());
    wxLogMessage(wxS("%s"), wxS("客户端版本 ") + VersionText(ClientVersion));
    wxLogMessage(wxS("%s"), wxS("登录协议版本") + VersionText(LogonProtVersion));
    wxLogMessage(wxS("%s"), wxS("中继协议版本") + VersionText(RelayVersion));
    wxLogMessage(wxS("%s"), wxS("上传协议版本") + VersionText(UploadProtVersion));
    wxLogMessage(wxS("%s"), wxString(wxS('-'), 36));
    wxLogMessage(wxS("%s"), wxS(" "));
}

void MainFrame::SetFieldsEnabled(bool enable)
{
    mHost->Enable(enable);
    mPort->Enable(enable);
    mUser->Enable(enable);
}

void MainFrame::SetStatus(const wxString& text)
{
    // Server texts are shown as they are (no mnemonics).
    mStatus->SetLabelText(text);
}

void MainFrame::OnConnect(wxCommandEvent& event)
{
    // A click or Enter still queued when the frame was closed: a frame that is going neither connects
    // nor tells why it would not.
    if (mClosing)
        return;
    wxString host = mHost->GetValue();
    host.Trim(true).Trim(false);
    wxString portText = mPort->GetValue();
    portText.Trim(true).Trim(false);

    mDisconnectRequested = false;
    SetStatus(wxString());

    // A start-up connect (id 0) with bad values does nothing and says nothing.
    const bool tell = event.GetId() != 0;
    const wxString user = mUser->GetValue();
    // The relay counts the name in bytes of its code page.
    if (bcx::ToGbk(user).size() < 3) {
        if (tell)
            ShowMessage(Utf8("用户名最少要由3个以上字符组成!"));
        return;
    }

    wxIPV4address address;
    // The toolkit asserts on an empty host name: it never gets one.
    if (host.empty() || !address.Hostname(host)) {
        if (tell)
            ShowMessage(wxS("Invalid hostname specified"));
        return;
    }

    unsigned long port = 0;
    if (portText.empty() || !portText.ToCULong(&port) || port == 0 || port > 65535 ||
        !address.Service(static_cast<unsigned short>(port))) {
        if (tell)
            ShowMessage(wxS("Invalid port specified"));
        return;
    }

    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    mConnect->Enable(false);
    mDisconnect->Enable(true);
    SetFieldsEnabled(false);
    ClientSettings& settings = core->Settings();
    settings.mUserName = bcx::ToGbk(user);
    settings.mLastServer = bcx::ToGbk(host);
    settings.mLastPort = address.Service();
    core->Connect(address, host);
}

void MainFrame::OnDisconnect(wxCommandEvent&)
{
    wxLogMessage(wxS("%s"), Utf8("\"断开连接\"按钮已被按下"));
    if (ClientCore* core = ClientCore::Get())
        core->Disconnect(true, Utf8("连接已断开"));
    mDisconnectRequested = true;
}

void MainFrame::OnConnectionStatus(ClientEvent& event)
{
    if (event.GetValue() == RelayDisconnected) {
        mConnect->Enable(false);
        SetFieldsEnabled(true);
        // After the user's own disconnect Connect comes back quickly; after a dropped connection only
        // when ClientCore has not reconnected by itself meanwhile.
        mReenableTimer->StartOnce(mDisconnectRequested ? 500 : 5000);
        mDisconnect->Enable(false);
        SetStatus(event.GetText());
        return;
    }
    mDisconnectRequested = false;
    SetStatus(event.GetText());
    mConnect->Enable(false);
    mDisconnect->Enable(true);
    ClientCore* core = ClientCore::Get();
    wxConfigBase* config = wxConfigBase::Get(false);
    if (core && config) {
        const ClientSettings& settings = core->Settings();
        config->SetPath(wxS("/Misc"));
        config->Write(Utf8("用户名"), bcx::FromGbk(settings.mUserName));
        config->Write(wxS("LastServer"), bcx::FromGbk(settings.mLastServer));
        config->Write(wxS("LastPort"), static_cast<long>(settings.mLastPort));
        // To the file now, not only when the program ends.
        FlushSettings(config);
    }
}

void MainFrame::OnReenableTimer(wxTimerEvent&)
{
    ClientCore* core = ClientCore::Get();
    if (core && core->GetRelayState() == RelayDisconnected)
        mConnect->Enable(true);
}

void MainFrame::OnNews(ClientEvent&)
{
    ClientCore* core = ClientCore::Get();
    if (!core || mClosing)
        return;
    const uint8_t flags = core->GetNewsFlags();
    const wxString pageUrl = bcx::FromGbk(core->GetNewsUrl());
    if (flags & 1) {
        QueueNewsDialog(bcx::FromGbk(core->GetNewsDialogUrl()), core->GetNewsWidth(), core->GetNewsHeight(), flags,
                        pageUrl);
        return;
    }
    // The records keep their order: one without a dialog comes after the news dialog that waits or is open.
    if (WaitingModal* waiting = WaitingNewsDialog()) {
        waiting->page.Add(flags, pageUrl);
    } else if (mNewsDialog) {
        mOpenNewsPage.Add(flags, pageUrl);
    } else {
        NewsPageSteps now;
        now.Add(flags, pageUrl);
        ApplyNewsPageSteps(now);
    }
}
