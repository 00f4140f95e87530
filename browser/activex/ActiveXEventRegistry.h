#pragma once
// The process-wide registry of control event names: an event table names "BeforeNavigate2" before any
// control exists, and the event sink finds the event type under the name the control's type
// information gives.

#include <wx/event.h>
#include <wx/string.h>

// The event type registered under name (letter case ignored); registers a new one on first use. The
// reference stays valid until the process ends.
const wxEventType& RegisterActiveXEvent(const wxString& name);

// The event type registered under name, or null when nobody registered it.
const wxEventType* FindActiveXEvent(const wxString& name);
