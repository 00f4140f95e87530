#pragma once
// Values between a control's VARIANT arguments and the toolkit's wxVariant, and the parameter lookup
// of control events.

#include <wx/variant.h>

#include "browser/com/Variant.h"

// VARIANT to wxVariant. By-reference values are read through their pointer. False when the value has no
// toolkit form (arrays: target unchanged; interfaces: target holds the pointer; others: target null).
// The argument itself is never changed.
bool MSWVariantToVariant(const VARIANTARG& va, wxVariant& vx);

// wxVariant into the argument's existing type (through the pointer when by reference). False when the
// type has no conversion; the argument is then unchanged. A string written replaces and frees the one
// the argument held.
bool VariantToMSWVariant(const wxVariant& vx, VARIANTARG& va);

// The VARTYPE for a wxVariant's type name ("bool" VT_BOOL, "long" VT_I4, "string" VT_BSTR, ...).
VARTYPE VariantTypeFromName(const wxVariant& vx);

// The first element of the list params whose name equals name, letter case ignored; null when none.
wxVariant* FindActiveXParam(wxVariant& params, const wxString& name);

// The parameters of one control event: a list named after the event, of values named after the
// parameters, in declaration order.
class ActiveXEventParams {
public:
    wxVariant& List() { return mList; }
    const wxVariant& List() const { return mList; }

    // The first parameter of that name, letter case ignored. For a name the event lacks, a null value
    // made afresh for this lookup: what a caller writes into it is gone at the next lookup and never
    // reaches the event.
    wxVariant& operator[](const wxString& name);

private:
    wxVariant mList;
    wxVariant mMissing;
};
