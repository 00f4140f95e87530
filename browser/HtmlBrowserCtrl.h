#pragma once
// The web browser control in a container window, with the few operations the program needs: navigate,
// back, forward, stop, and show a document loaded from a stream in place of the current page, with no
// entry in the history (how the built-in pages are shown). The control's events go to the parent window
// as wxActiveXEvents.

#include "browser/ActiveXContainer.h"

class StreamAdaptorBase;
class wxInputStream;
struct IWebBrowser2;

class HtmlBrowserCtrl : public wxActiveXContainer {
public:
    HtmlBrowserCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxDefaultSize, long style = 0,
                    const wxString& name = wxASCII_STR(wxPanelNameStr));
    ~HtmlBrowserCtrl() override;

    // Takes the control's browser interface, turns its bars off and navigates to "about:blank".
    void SetupBrowser();

    void LoadUrl(const wxString& url);
    // True when the control did it (false, for instance, without history in that direction).
    bool GoBack();
    bool GoForward();
    bool Stop();

    // Shows the adaptor's bytes, after "<html>", in place of the current document. Consumes one reference
    // to the adaptor in every case. False when there is no document or it cannot be loaded.
    bool LoadStream(StreamAdaptorBase* adaptor);
    // Wraps the stream (which passes to the adaptor) and loads it.
    bool LoadStream(wxInputStream* stream);

    IWebBrowser2* GetWebBrowser() const { return mWebBrowser; }

private:
    IWebBrowser2* mWebBrowser = nullptr;  // one reference

    wxDECLARE_EVENT_TABLE();
};
