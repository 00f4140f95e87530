// The window of the control container: size, paint and focus go to the host below it; the host's
// requests (show the control's window, deliver an event) come back here.
//
// On this toolkit the control's window is a child window of the toolkit: keyboard and mouse input reach
// it directly, so the container forwards none, and it repaints itself.

#include "browser/ActiveXContainer.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

wxBEGIN_EVENT_TABLE(wxActiveXContainer, wxWindow)
    EVT_SIZE(wxActiveXContainer::OnSize)
    EVT_PAINT(wxActiveXContainer::OnPaint)
    EVT_SET_FOCUS(wxActiveXContainer::OnSetFocus)
    EVT_KILL_FOCUS(wxActiveXContainer::OnKillFocus)
wxEND_EVENT_TABLE()

namespace {

COLORREF ToColourRef(const wxColour& colour)
{
    return COLORREF(colour.Red()) | COLORREF(colour.Green()) << 8 | COLORREF(colour.Blue()) << 16;
}

} // namespace

wxActiveXContainer::wxActiveXContainer(wxWindow* parent, REFCLSID clsid, wxWindowID id, const wxPoint& pos,
                                       const wxSize& size, long style, const wxString& name)
    : wxWindow(parent, id, pos, size, style, name)
{
    mHost.reset(new ActiveXControlHost(static_cast<ActiveXWindowSide&>(*this)));
    mHost->CreateActiveX(clsid);
}

wxActiveXContainer::~wxActiveXContainer()
{
    // The control goes while this window still exists.
    mHost.reset();
}

IUnknown* wxActiveXContainer::GetActiveXControl() const
{
    return mHost ? mHost->GetControl() : nullptr;
}

void wxActiveXContainer::OnSize(wxSizeEvent& event)
{
    if (mHost)
        mHost->OnSize();
    event.Skip();
}

void wxActiveXContainer::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    const wxSize size = GetSize();
    if (mHost && mHost->Draw(&dc, size.x, size.y))
        return;
    // Without a view object: a red area where the control's window does not cover it.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(*wxRED_BRUSH);
    dc.DrawRectangle(0, 0, size.x, size.y);
    dc.SetBrush(wxNullBrush);
}

void wxActiveXContainer::OnSetFocus(wxFocusEvent& event)
{
    if (mHost)
        mHost->OnFocus(true);
    event.Skip();
}

void wxActiveXContainer::OnKillFocus(wxFocusEvent& event)
{
    if (mHost)
        mHost->OnFocus(false);
    event.Skip();
}

// ---------------------------------------------------------------------------------------------------

HWND wxActiveXContainer::GetHostWindow()
{
    return this;
}

int wxActiveXContainer::GetHostId()
{
    return GetId();
}

SIZE wxActiveXContainer::GetHostClientSize()
{
    const wxSize size = GetClientSize();
    return SIZE{size.x, size.y};
}

void wxActiveXContainer::ActivateControlWindow(HWND)
{
    // Activation belongs to top-level windows here; a child keeps out of the keyboard focus until the
    // user clicks into it, so that creating a page does not take the focus from the field being edited.
}

void wxActiveXContainer::ShowControlWindow(HWND control)
{
    if (control)
        control->Show();
}

void wxActiveXContainer::QueueSizeEvent(int w, int h)
{
    wxSizeEvent* event = new wxSizeEvent(wxSize(w, h), GetId());
    event->SetEventObject(this);
    GetEventHandler()->QueueEvent(event);
}

SIZE wxActiveXContainer::GetScreenPixelsPerInch()
{
    const wxSize ppi = wxGetDisplayPPI();
    return SIZE{ppi.x, ppi.y};
}

COLORREF wxActiveXContainer::GetWindowTextColour()
{
    return ToColourRef(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
}

COLORREF wxActiveXContainer::GetWindowColour()
{
    return ToColourRef(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
}

void wxActiveXContainer::DeliverActiveXEvent(wxEventType type, wxVariant& params, bool synchronous)
{
    wxWindow* parent = GetParent();
    if (!parent)
        return;
    wxActiveXEvent event(type, GetId());
    event.SetEventObject(this);
    event.SetParams(params);
    if (synchronous) {
        parent->ProcessWindowEvent(event);
        params = event.GetParams();
    } else {
        parent->GetEventHandler()->AddPendingEvent(event);
    }
}
