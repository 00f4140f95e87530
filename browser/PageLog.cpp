#include "browser/PageLog.h"

#include <chrono>

#include <wx/log.h>

namespace bcx {
namespace {

// Text from a page is cut to this many characters in a log line.
const size_t kMaxLoggedChars = 200;
// At most this many lines in any window of this length.
const int kMaxLinesPerWindow = 200;
const std::chrono::seconds kLineWindow(10);

} // namespace

wxString ForLog(const wxString& text)
{
    wxString out;
    size_t n = 0;
    for (wxUniChar c : text) {
        if (++n > kMaxLoggedChars) {
            out += wxS("...");
            break;
        }
        if (c.GetValue() < 0x20 || c.GetValue() == 0x7F)
            out += wxString::Format(wxS("\\x%02X"), static_cast<unsigned>(c.GetValue()));
        else
            out += c;
    }
    return out;
}

void LogBrowser(const wxString& text)
{
    static std::chrono::steady_clock::time_point windowStart;
    static int lines = 0;
    const auto now = std::chrono::steady_clock::now();
    if (lines == 0 || now - windowStart >= kLineWindow) {
        windowStart = now;
        lines = 0;
    }
    if (++lines > kMaxLinesPerWindow) {
        if (lines == kMaxLinesPerWindow + 1)
            wxLogMessage(wxS("[browser] more than %d lines about pages in %d seconds; the rest of them is not logged"),
                         kMaxLinesPerWindow, static_cast<int>(kLineWindow.count()));
        return;
    }
    wxLogMessage(wxS("%s"), wxS("[browser] ") + text);
}

} // namespace bcx
