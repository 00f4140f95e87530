#include "ui/BrowserDialog.h"

#include <wx/sizer.h>

#include "browser/BrowserPanel.h"

BrowserDialog::BrowserDialog(wxWindow* parent, const wxString& url, int width, int height)
    : wxDialog(parent, wxID_ANY, wxS("Brawlcast"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    mView = new bcxBrowser(this, wxID_ANY, url, wxDefaultPosition, wxSize(width, height), wxTAB_TRAVERSAL);
    mView->SetMinSize(wxSize(width, height));
    mView->Create(false);
    sizer->Add(mView, 1, wxEXPAND);
    SetAutoLayout(true);
    SetSizer(sizer);
    sizer->SetSizeHints(this);
    sizer->Fit(this);
    mView->SetFocus();
}
