#pragma once
// Wide strings of the object layer to and from the toolkit's strings.

#include <wx/string.h>

#include "browser/com/Variant.h"

namespace bcx::com {

// A new BSTR with the text in UTF-16 (the caller frees it with SysFreeString).
BSTR ToBstr(const wxString& text);

// The text of a wide string; a null BSTR is the empty string.
wxString FromWide(const OLECHAR* text);
wxString FromBstr(BSTR text);

} // namespace bcx::com
