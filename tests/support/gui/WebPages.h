#pragma once
// Looking into the web views of the browser panels: the view inside a window, scripts run in its page,
// and waits on the page's text or title.

#include <string>

class wxWebView;
class wxWindow;

namespace bcxtest {

// The first web view among the window's descendants, or null.
wxWebView* FindWebView(wxWindow* window);

// The result of a script run in the view's current page (as text), or "<no result>".
std::string EvalInPage(wxWebView* view, const std::string& script);
// The page's visible text.
std::string PageText(wxWebView* view);

// Wait until the page's text holds fragment, or its title is title; false after the deadline.
bool WaitForPageText(wxWebView* view, const std::string& fragment, int timeoutMs = 15000);
bool WaitForPageTitle(wxWebView* view, const std::string& title, int timeoutMs = 15000);

} // namespace bcxtest
