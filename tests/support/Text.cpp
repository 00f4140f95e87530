#include "support/Text.h"

namespace bcxtest {

std::string Utf8(const wxString& text)
{
    wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

} // namespace bcxtest
