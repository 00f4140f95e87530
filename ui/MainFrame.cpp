#include "ui/MainFrame.h"

#include <wx/config.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/utils.h>

#include "core/ClientCore.h"
#include "core/Version.h"
#include "platform/gui/Resources.h"
#include "ui/FileLog.h"
#include "ui/LogPanel.h"

namespace {

wxString VersionText(PackedVersion version)
{
    return wxString::FromAscii(FormatPackedVersion(version).c_str());
}

} // namespace

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, wxS("Brawlcast"), wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxMAXIMIZE_BOX | wxCLOSE_BOX | wxRESIZE_BORDER)
{
    SetIcon(bcx::LoadIconResource(wxS("bcxIcon")));

    mPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER);
    mNotebook = new wxNotebook(mPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0);
    wxBoxSizer* notebookSizer = new wxBoxSizer(wxVERTICAL);
    notebookSizer->SetMinSize(640, 150);
    notebookSizer->Add(mNotebook, 1, wxEXPAND);

    ClientCore::Get(false);

    wxBoxSizer* panelSizer = new wxBoxSizer(wxVERTICAL);
    panelSizer->Add(new wxStaticLine(mPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL), 0,
                    wxEXPAND, 0);
    panelSizer->Add(notebookSizer, 1, wxEXPAND | wxALL, 5);
    mPanel->SetAutoLayout(true);
    mPanel->SetSizer(panelSizer);
    panelSizer->Fit(this);
    panelSizer->SetSizeHints(this);

    mLogPanel = new LogPanel(mNotebook);
    mFileLog = new FileLog(mLogPanel->GetListBox(), wxLog::GetActiveTarget());
    wxLog::SetActiveTarget(mFileLog);

    WriteBanner();

    mNotebook->AddPage(mLogPanel, wxS(" 日志"), false);

    if (ClientCore* core = ClientCore::Get(false))
        core->SetStatusTarget(this);
}

MainFrame::~MainFrame()
{
    if (!IsIconized() && !IsFullScreen() && !IsMaximized()) {
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
    if (ClientCore* core = ClientCore::Get(false))
        core->SetStatusTarget(nullptr);
    delete mFileLog;
    mFileLog = nullptr;
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
