#include "ui/BrowserDialog.h"

#include <memory>

#include <wx/filesys.h>
#include <wx/log.h>
#include <wx/sizer.h>

namespace {

wxString Escape(const wxString& text)
{
    wxString out;
    for (wxUniChar c : text) {
        if (c == wxS('<'))
            out += wxS("&lt;");
        else if (c == wxS('>'))
            out += wxS("&gt;");
        else if (c == wxS('&'))
            out += wxS("&amp;");
        else if (c == wxS('"'))
            out += wxS("&quot;");
        else
            out += c;
    }
    return out;
}

} // namespace

PageView::PageView(wxWindow* parent, wxWindowID id, const wxString& startUrl, const wxPoint& pos,
                   const wxSize& size, long style)
    : wxHtmlWindow(parent, id, pos, size, style | wxHW_SCROLLBAR_AUTO)
{
    if (!startUrl.empty())
        LoadUrl(startUrl);
}

void PageView::LoadUrl(const wxString& url)
{
    mUrl = url;
    if (url.StartsWith(wxS("memory:"))) {
        wxFileSystem fs;
        std::unique_ptr<wxFSFile> file;
        {
            wxLogNull quiet;
            file.reset(fs.OpenFile(url));
        }
        if (file) {
            file.reset();
            LoadPage(url);
            return;
        }
    }
    // Web pages need the embedded browser; until then the address is shown.
    SetPage(wxS("<html><body><p>") + Escape(url) + wxS("</p></body></html>"));
}

void PageView::OnLinkClicked(const wxHtmlLinkInfo&)
{
    // The program's own links and web pages are handled by the embedded browser; here they stay put.
}

BrowserDialog::BrowserDialog(wxWindow* parent, const wxString& url, int width, int height)
    : wxDialog(parent, wxID_ANY, wxS("Brawlcast"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    mView = new PageView(this, wxID_ANY, url, wxDefaultPosition, wxSize(width, height), wxTAB_TRAVERSAL);
    mView->SetMinSize(wxSize(width, height));
    sizer->Add(mView, 1, wxEXPAND);
    SetAutoLayout(true);
    SetSizer(sizer);
    sizer->SetSizeHints(this);
    sizer->Fit(this);
    mView->SetFocus();
}
