#pragma once
// The browser dialog and the page view that shows the built-in pages until the embedded web browser
// is available. The view renders the program's own "memory:" pages with the toolkit's HTML window; for
// any other address it shows the address itself. Links inside the view are not followed.

#include <wx/dialog.h>
#include <wx/html/htmlwin.h>

class PageView : public wxHtmlWindow {
public:
    // startUrl: the address shown first (empty: nothing).
    PageView(wxWindow* parent, wxWindowID id, const wxString& startUrl, const wxPoint& pos = wxDefaultPosition,
             const wxSize& size = wxDefaultSize, long style = wxTAB_TRAVERSAL);

    // Shows the address: a "memory:" page that exists is rendered; anything else is named.
    void LoadUrl(const wxString& url);
    // The address last given to LoadUrl.
    const wxString& GetUrl() const { return mUrl; }

    // Links are not followed.
    void OnLinkClicked(const wxHtmlLinkInfo& link) override;

private:
    wxString mUrl;
};

class BrowserDialog : public wxDialog {
public:
    // A dialog of one page view showing url, sized width x height.
    BrowserDialog(wxWindow* parent, const wxString& url, int width, int height);

    PageView* GetView() const { return mView; }

private:
    PageView* mView = nullptr;
};
