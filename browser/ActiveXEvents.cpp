// Control events as toolkit command events.

#include "browser/ActiveXEvents.h"

wxActiveXEvent::wxActiveXEvent(wxEventType type, int id) : wxCommandEvent(type, id) {}

wxActiveXEvent::wxActiveXEvent(const wxActiveXEvent& other) : wxCommandEvent(other)
{
    mParams.List() = other.mParams.List();
}

wxEvent* wxActiveXEvent::Clone() const
{
    return new wxActiveXEvent(*this);
}
