#pragma once
// A window that hosts a control of the object layer, created by class id, in place as its child. The
// control's events reach this window's parent as wxActiveXEvent (see ActiveXEvents.h), with this
// window's id as the event id.

#include <memory>

#include <wx/window.h>

#include "browser/ActiveXEvents.h"
#include "browser/activex/ActiveXHost.h"

class wxActiveXContainer : public wxWindow, private ActiveXWindowSide {
public:
    wxActiveXContainer(wxWindow* parent, REFCLSID clsid, wxWindowID id = wxID_ANY,
                       const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0,
                       const wxString& name = wxASCII_STR(wxPanelNameStr));
    ~wxActiveXContainer() override;

    // The control object as created (no reference added); null when creation failed.
    IUnknown* GetActiveXControl() const;

    ActiveXControlHost& GetHost() { return *mHost; }

private:
    void OnSize(wxSizeEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnSetFocus(wxFocusEvent& event);
    void OnKillFocus(wxFocusEvent& event);

    // ActiveXWindowSide
    HWND GetHostWindow() override;
    int GetHostId() override;
    SIZE GetHostClientSize() override;
    void ActivateControlWindow(HWND control) override;
    void ShowControlWindow(HWND control) override;
    void QueueSizeEvent(int w, int h) override;
    SIZE GetScreenPixelsPerInch() override;
    COLORREF GetWindowTextColour() override;
    COLORREF GetWindowColour() override;
    void DeliverActiveXEvent(wxEventType type, wxVariant& params, bool synchronous) override;

    std::unique_ptr<ActiveXControlHost> mHost;

    wxDECLARE_EVENT_TABLE();
};
