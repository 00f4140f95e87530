#pragma once
// The browser dialog: one browser panel showing the relay's dialog page in the size the relay asked for.

#include <wx/dialog.h>

class bcxBrowser;

class BrowserDialog : public wxDialog {
public:
    // A dialog of one browser panel starting at url, sized width x height.
    BrowserDialog(wxWindow* parent, const wxString& url, int width, int height);

    bcxBrowser* GetView() const { return mView; }

private:
    bcxBrowser* mView = nullptr;
};
