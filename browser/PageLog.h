#pragma once
// Log lines about what web pages do. A page is a peer: the text it fills is made safe for a log line,
// and the number of lines pages cause is bounded.

#include <wx/string.h>

namespace bcx {

// Page text for a log line: control characters escaped, long text cut.
wxString ForLog(const wxString& text);

// Logs "[browser] " + text. Pages cause at most a few hundred such lines in any ten seconds; the first
// line past that bound says that the rest of that time is not logged.
void LogBrowser(const wxString& text);

} // namespace bcx
