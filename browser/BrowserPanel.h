#pragma once
// bcxBrowser: the panel through which every page of the program is shown (the About page, the news
// page, the browser dialog and the pages followed from them). It hosts one browser control and decides
// for every navigation whether the control may go on or the panel handles the address itself: the
// program's own "bcx:" links, the built-in "memory:" pages and "mailto:" addresses.

#include <functional>

#include <wx/panel.h>

class HtmlBrowserCtrl;
class wxActiveXEvent;
class wxBitmapButton;

// Window ids inside the panel.
enum BrowserPanelId : int {
    BrowserPanelControlId = 6000,
    BrowserPanelBackId = 6001,
    BrowserPanelForwardId = 6002,
    BrowserPanelHomeId = 6003,
    BrowserPanelRepaintId = 6004,
};

class bcxBrowser : public wxPanel {
public:
    // Hands an address to the desktop (system browser or mail program); false when that failed.
    using DesktopOpener = std::function<bool(const wxString& url)>;

    // Dynamic creation: an unparented panel without a page.
    bcxBrowser();
    // An empty start URL makes the home URL "bcx:browserstart".
    bcxBrowser(wxWindow* parent, wxWindowID id, const wxString& startUrl, const wxPoint& pos = wxDefaultPosition,
               const wxSize& size = wxDefaultSize, long style = wxTAB_TRAVERSAL);

    // Builds the browser control (and the button row when asked) and loads the home URL. Once.
    void Create(bool withButtons);

    // Loads url (the home URL when empty); a size other than wxDefaultSize resizes the panel first.
    void LoadUrl(const wxString& url, const wxSize& size = wxDefaultSize);

    // True when the control may go on to url; false when the panel has dealt with it. May shorten url.
    virtual bool HandleNavigate(wxString& url);

    // One command of the "bcx:" scheme (the text after "bcx:"). The commands that open something on the
    // desktop do so only for a navigation that the user's click in the page started, or for one of the
    // program's own loads (at most three addresses a minute).
    void DispatchBcxUrl(const wxString& command);
    // Opens "mailto:" + address in the mail program with one address (the first of a list) and its
    // "subject" and "body" parameters only; an address with a line break is refused.
    void OpenMailTo(const wxString& address);

    HtmlBrowserCtrl* GetBrowser() const { return mBrowser; }
    wxBitmapButton* GetBackButton() const { return mBack; }
    wxBitmapButton* GetForwardButton() const { return mForward; }
    const wxString& GetHomeUrl() const { return mHomeUrl; }

    // The desktop's opener for web and mail addresses; tests put their own in. Null restores the
    // system's.
    static void SetDesktopOpener(DesktopOpener opener);

    void OnBack(wxCommandEvent& event);
    void OnForward(wxCommandEvent& event);
    void OnHome(wxCommandEvent& event);
    void OnRefresh(wxCommandEvent& event);
    void OnBeforeNavigate2(wxActiveXEvent& event);
    void OnCommandStateChange(wxActiveXEvent& event);
    void OnNewWindow3(wxActiveXEvent& event);

private:
    void AddGameFromLink(const wxString& rest);
    void OpenExternal(const wxString& url);
    void LoadMemoryPage(const wxString& name);
    // True when the navigation being decided may open url on the desktop: the user's click in the page
    // started it, or it is one of the program's own loads (LoadUrl). Otherwise logs that url opens
    // nothing.
    bool MayOpenOnDesktop(const wxString& url) const;
    // Hands url (checked) to the desktop: for the user's click, or for the program's own loads within
    // their bound (logged past it).
    void HandOnToDesktop(const wxString& url);

    HtmlBrowserCtrl* mBrowser = nullptr;
    wxBitmapButton* mBack = nullptr;
    wxBitmapButton* mForward = nullptr;
    wxBitmapButton* mHome = nullptr;
    wxBitmapButton* mRepaint = nullptr;
    wxString mHomeUrl;
    wxPoint mPosition;
    wxSize mSize;
    long mStyle = wxTAB_TRAVERSAL;
    // The navigation being decided was started by the user's click in the page.
    bool mUserStarted = false;
    // A load of the program's own (LoadUrl) is being decided.
    bool mProgramLoad = false;

    wxDECLARE_DYNAMIC_CLASS(bcxBrowser);
    wxDECLARE_EVENT_TABLE();
};
