#pragma once
// Pages for the browser panels, and looking into their web views: the view inside a window, scripts run
// in its page, and waits on the page's text or title.

#include <string>

#include <cstdint>

#include <wx/string.h>

class bcxBrowser;
class wxFrame;
class wxWebView;
class wxWindow;

namespace bcxtest {

// A page of the title and body.
std::string Page(const std::string& title, const std::string& body);

// The first web view among the window's descendants, or null.
wxWebView* FindWebView(wxWindow* window);

// The result of a script run in the view's current page (as text), or "<no result>".
std::string EvalInPage(wxWebView* view, const std::string& script);
// The page's visible text.
std::string PageText(wxWebView* view);

// Wait until the page's text holds fragment, or its title is title; false after the deadline.
bool WaitForPageText(wxWebView* view, const std::string& fragment, int timeoutMs = 15000);
bool WaitForPageTitle(wxWebView* view, const std::string& title, int timeoutMs = 15000);

class TestRelayServer;

// A browser panel that fills frame, started at start, with the button row when asked; the frame is shown.
// Null when the frame is not on screen in time.
bcxBrowser* OpenPanel(wxFrame* frame, const wxString& start, bool withButtons = false);

// Pings the client from relay with marker: true once its echo is there, within timeoutMs. Everything the
// client sent before has reached the relay then.
bool RelayEchoed(TestRelayServer& relay, uint32_t marker, int timeoutMs);

// A WAV file of silence, `seconds` long: 8-bit mono 8 kHz by default (8,000 bytes a second); 48 kHz
// 16-bit stereo is 192,000 bytes a second.
std::string Wav(unsigned seconds, unsigned sampleRate = 8000, unsigned channels = 1, unsigned bitsPerSample = 8);

// A PNG image of width x height pixels: bands of colour, small once compressed, 4 bytes a pixel decoded.
std::string Png(unsigned width, unsigned height);

} // namespace bcxtest
