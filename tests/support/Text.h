#pragma once
// Display and log texts (wxString) as UTF-8 bytes, for comparing them with the expected texts of a test.

#include <string>

#include <wx/string.h>

namespace bcxtest {

// The text as UTF-8 bytes.
std::string Utf8(const wxString& text);

} // namespace bcxtest
