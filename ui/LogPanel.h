#pragma once
// The Log page of the main window's notebook: one list box that the file log appends every line to.

#include <wx/listbox.h>
#include <wx/panel.h>

class LogPanel : public wxPanel {
public:
    explicit LogPanel(wxWindow* parent);

    wxListBox* GetListBox() const { return mListBox; }

private:
    wxListBox* mListBox;
};
