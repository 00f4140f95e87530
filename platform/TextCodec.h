#pragma once
// The one boundary between the bytes that peers and files carry (GBK, code page 936) and the program's
// display strings. Wire and file texts stay std::string bytes; wxString is for display and logs only.

#include <string>

#include <wx/string.h>

class wxMBConv;

namespace bcx {

// Decodes GBK bytes. Never returns an empty string for non-empty input: bytes that do not form a GBK
// character become U+FFFD.
wxString FromGbk(const std::string& bytes);
wxString FromGbk(const char* bytes, size_t length);

// Encodes to GBK bytes; a character that GBK cannot represent becomes '?'.
std::string ToGbk(const wxString& text);

// Encodes to GBK bytes, cut to at most maxBytes on a character boundary; cut tells whether anything was
// left out.
std::string ToGbkCut(const wxString& text, size_t maxBytes, bool& cut);

// Encodes a UTF-8 literal of the program's own (source files are UTF-8) to GBK bytes.
std::string Utf8ToGbk(const char* utf8);

// The converter for files and toolkit classes that need one (configuration file, log file).
wxMBConv& GbkConv();

// ASCII-only case folding, independent of the locale.
std::string AsciiLower(std::string text);
bool AsciiEqualsNoCase(const std::string& a, const std::string& b);

} // namespace bcx
