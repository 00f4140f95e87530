#pragma once
// Events of a hosted control as toolkit events. A window handles them in its event table by the
// control's window id and the event's name:
//
//   wxBEGIN_EVENT_TABLE(MyPanel, wxPanel)
//       EVT_ACTIVEX(6000, "BeforeNavigate2", MyPanel::OnBeforeNavigate2)
//   wxEND_EVENT_TABLE()
//
//   void MyPanel::OnBeforeNavigate2(wxActiveXEvent& event)
//   {
//       wxString url = event[wxS("Url")].GetString();
//       event[wxS("Cancel")] = true;   // written back to the control: the navigation is cancelled
//   }
//
// Events with by-reference parameters are handled while the control waits and the handler's changes
// go back to it; the others are queued.

#include <wx/event.h>
#include <wx/variant.h>

#include "browser/activex/ActiveXEventRegistry.h"
#include "browser/activex/ActiveXVariants.h"

class wxActiveXEvent : public wxCommandEvent {
public:
    wxActiveXEvent(wxEventType type = wxEVT_NULL, int id = 0);
    wxActiveXEvent(const wxActiveXEvent& other);

    wxEvent* Clone() const override;

    // The event's parameters: a list named after the event, of values named after the parameters, in
    // declaration order.
    wxVariant& GetParams() { return mParams.List(); }
    const wxVariant& GetParams() const { return mParams.List(); }
    void SetParams(const wxVariant& params) { mParams.List() = params; }

    int ParamCount() const { return static_cast<int>(mParams.List().GetCount()); }
    wxString EventName() const { return mParams.List().GetName(); }

    // The first parameter of that name, letter case ignored. For a name the event lacks, a null
    // value that belongs to this lookup only: writing into it changes nothing.
    wxVariant& operator[](const wxString& name) { return mParams[name]; }

private:
    ActiveXEventParams mParams;
};

typedef void (wxEvtHandler::*wxActiveXEventFunction)(wxActiveXEvent&);
#define wxActiveXEventHandler(func) wxEVENT_HANDLER_CAST(wxActiveXEventFunction, func)

// Static event-table entry for the control event of that name from the control with window id id.
#define EVT_ACTIVEX(id, eventName, func) \
    wx__DECLARE_EVT1(RegisterActiveXEvent(wxS(eventName)), id, wxActiveXEventHandler(func))
