#include "platform/gui/Resources.h"

#include <wx/image.h>
#include <wx/mstream.h>

#include "bcxIcon_png.h"
#include "bcxSplash_png.h"

namespace bcx {
namespace {

struct EmbeddedImage {
    const char* name;
    const unsigned char* data;
    unsigned int length;
};

const EmbeddedImage kImages[] = {
    {"bcxSplash", bcxSplash_png, bcxSplash_png_len},
    {"bcxIcon", bcxIcon_png, bcxIcon_png_len},
};

const EmbeddedImage* FindImage(const wxString& name)
{
    for (const EmbeddedImage& image : kImages)
        if (name == wxString::FromAscii(image.name))
            return &image;
    return nullptr;
}

} // namespace

wxBitmap LoadBitmapResource(const wxString& name)
{
    const EmbeddedImage* entry = FindImage(name);
    if (!entry)
        return wxBitmap();
    wxMemoryInputStream stream(entry->data, entry->length);
    wxImage image;
    if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG))
        return wxBitmap();
    return wxBitmap(image);
}

wxIcon LoadIconResource(const wxString& name)
{
    wxBitmap bitmap = LoadBitmapResource(name);
    wxIcon icon;
    if (bitmap.IsOk())
        icon.CopyFromBitmap(bitmap);
    return icon;
}

} // namespace bcx
