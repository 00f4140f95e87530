#pragma once
// Bitmap and icon resources by name. The images are embedded in the program as PNG data, so that a
// resource loads the same way wherever the program is started from.

#include <wx/bitmap.h>
#include <wx/icon.h>

namespace bcx {

// The bitmap of the named resource ("bcxSplash", "bcxIcon"); an invalid bitmap when the name is unknown
// or the data cannot be decoded (needs the PNG image handler).
wxBitmap LoadBitmapResource(const wxString& name);

// The icon of the named resource ("bcxIcon"); an invalid icon when the name is unknown.
wxIcon LoadIconResource(const wxString& name);

} // namespace bcx
