#include "platform/TextCodec.h"

#include <wx/strconv.h>

namespace bcx {
namespace {

bool IsLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsTrail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

const wxChar kReplacement = static_cast<wxChar>(0xFFFD);

} // namespace

wxMBConv& GbkConv()
{
    static wxCSConv conv(wxS("GBK"));
    return conv;
}

wxString FromGbk(const char* bytes, size_t length)
{
    if (length == 0)
        return wxString();
    wxMBConv& conv = GbkConv();
    wxString whole(bytes, conv, length);
    if (!whole.empty() || length == 0)
        return whole;

    // The text holds bytes that are not GBK: decode it character by character.
    wxString out;
    out.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < length) {
        unsigned char c = p[i];
        if (c < 0x80) {
            out += static_cast<wxChar>(c);
            ++i;
        } else if (IsLead(c) && i + 1 < length && IsTrail(p[i + 1])) {
            wxString ch(bytes + i, conv, 2);
            if (ch.empty())
                out += kReplacement;
            else
                out += ch;
            i += 2;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

wxString FromGbk(const std::string& bytes)
{
    return FromGbk(bytes.data(), bytes.size());
}

std::string ToGbk(const wxString& text)
{
    if (text.empty())
        return std::string();
    wxMBConv& conv = GbkConv();
    wxCharBuffer whole = text.mb_str(conv);
    if (whole.length() > 0)
        return std::string(whole.data(), whole.length());

    // Some character has no GBK form: encode one by one.
    std::string out;
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        wxUniChar ch = *it;
        if (ch.IsAscii()) {
            out += static_cast<char>(ch.GetValue());
            continue;
        }
        wxString one(ch);
        wxCharBuffer enc = one.mb_str(conv);
        if (enc.length() > 0)
            out.append(enc.data(), enc.length());
        else
            out += '?';
    }
    return out;
}

std::string ToGbkCut(const wxString& text, size_t maxBytes, bool& cut)
{
    std::string bytes = ToGbk(text);
    cut = bytes.size() > maxBytes;
    if (!cut)
        return bytes;
    bytes.clear();
    for (wxUniChar c : text) {
        const std::string one = ToGbk(wxString(c));
        if (bytes.size() + one.size() > maxBytes)
            break;
        bytes += one;
    }
    return bytes;
}

std::string Utf8ToGbk(const char* utf8)
{
    return ToGbk(wxString::FromUTF8(utf8));
}

std::string AsciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool AsciiEqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    return AsciiLower(a) == AsciiLower(b);
}

} // namespace bcx
