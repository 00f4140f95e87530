#include "ui/LogPanel.h"

#include <wx/sizer.h>

LogPanel::LogPanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER, wxS("panel"))
{
    // A small real initial size: GTK complains about a scrollbar laid out in a window of no size.
    mListBox = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(200, 80), 0, nullptr, 0,
                             wxDefaultValidator, wxS("listBox"));
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(mListBox, 1, wxEXPAND | wxALL, 3);
    SetAutoLayout(true);
    SetSizer(sizer);
}
