// UTF-16 wide strings to and from the toolkit's strings.

#include "browser/com/WideText.h"

#include <string>

namespace bcx::com {

BSTR ToBstr(const wxString& text)
{
    std::u16string wide;
    wide.reserve(text.length());
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        uint32_t c = static_cast<uint32_t>((*it).GetValue());
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            wide += static_cast<char16_t>(0xD800 + (c >> 10));
            wide += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
    }
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

namespace {

wxString Decode(const OLECHAR* text, size_t length)
{
    wxString out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out += wxUniChar(c);
    }
    return out;
}

} // namespace

wxString FromWide(const OLECHAR* text)
{
    if (!text)
        return wxString();
    size_t length = 0;
    while (text[length])
        ++length;
    return Decode(text, length);
}

wxString FromBstr(BSTR text)
{
    return text ? Decode(text, SysStringLen(text)) : wxString();
}

} // namespace bcx::com
