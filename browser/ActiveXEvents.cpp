// Control events as toolkit command events.

#include "browser/ActiveXEvents.h"

#include "browser/activex/ActiveXVariants.h"

wxActiveXEvent::wxActiveXEvent(wxEventType type, int id) : wxCommandEvent(type, id) {}

wxActiveXEvent::wxActiveXEvent(const wxActiveXEvent& other) : wxCommandEvent(other), mParams(other.mParams) {}

wxEvent* wxActiveXEvent::Clone() const
{
    return new wxActiveXEvent(*this);
}

wxVariant& wxActiveXEvent::operator[](const wxString& name)
{
    if (wxVariant* found = FindActiveXParam(mParams, name))
        return *found;
    // Fresh for every lookup, so that what was written into it before is gone.
    mMissing = wxVariant();
    return mMissing;
}
