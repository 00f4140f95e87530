#include "support/gui/WebPages.h"

#include <cstdint>

#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/webview.h>

#include "browser/BrowserPanel.h"
#include "peers/TestRelayServer.h"

#include "support/Pump.h"
#include "support/Text.h"

namespace bcxtest {

std::string Page(const std::string& title, const std::string& body)
{
    return "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>";
}

wxWebView* FindWebView(wxWindow* window)
{
    for (wxWindow* child : window->GetChildren()) {
        if (wxWebView* view = dynamic_cast<wxWebView*>(child))
            return view;
        if (wxWebView* view = FindWebView(child))
            return view;
    }
    return nullptr;
}

std::string EvalInPage(wxWebView* view, const std::string& script)
{
    // The asynchronous runner, matched by its own token: the synchronous one can hand back the result
    // of a script that the product ran in between.
    if (!view)
        return "<no result>";
    // A token of its own for every call: a late result of an earlier script is not taken for this one.
    static uintptr_t counter = 0;
    void* token = reinterpret_cast<void*>(++counter);
    bool done = false;
    std::string result = "<no result>";
    auto onResult = [&](wxWebViewEvent& event) {
        if (event.GetClientData() != token) {
            event.Skip();
            return;
        }
        done = true;
        if (!event.IsError())
            result = Utf8(event.GetString());
    };
    view->Bind(wxEVT_WEBVIEW_SCRIPT_RESULT, onResult);
    view->RunScriptAsync(wxString::FromUTF8(script), token);
    // A result can be lost when the page replaces its document meanwhile: give up soon, callers poll.
    PumpUntil([&] { return done; }, 1000);
    view->Unbind(wxEVT_WEBVIEW_SCRIPT_RESULT, onResult);
    return result;
}

std::string PageText(wxWebView* view)
{
    return EvalInPage(view, "document.body ? document.body.innerText : ''");
}

bool WaitForPageText(wxWebView* view, const std::string& fragment, int timeoutMs)
{
    return PumpUntil([&] { return PageText(view).find(fragment) != std::string::npos; }, timeoutMs);
}

bool WaitForPageTitle(wxWebView* view, const std::string& title, int timeoutMs)
{
    return PumpUntil([&] { return EvalInPage(view, "document.title") == title; }, timeoutMs);
}

bcxBrowser* OpenPanel(wxFrame* frame, const wxString& start, bool withButtons)
{
    bcxBrowser* panel = new bcxBrowser(frame, wxID_ANY, start);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(panel, 1, wxEXPAND);
    frame->SetSizer(sizer);
    panel->Create(withButtons);
    frame->Show();
    frame->Layout();
    return PumpUntil([&] { return frame->IsShownOnScreen(); }) ? panel : nullptr;
}

bool RelayEchoed(TestRelayServer& relay, uint32_t marker, int timeoutMs)
{
    relay.SendPing(relay.LastConnection(), marker);
    return PumpUntil(
        [&] {
            for (const auto& e : relay.Echoes())
                if (e.value == marker)
                    return true;
            return false;
        },
        timeoutMs);
}

std::string Wav(unsigned seconds)
{
    const uint32_t data = 8000 * seconds;
    std::string wav = "RIFF....WAVEfmt ";
    const auto u32 = [&](uint32_t v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](uint16_t v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
    u32(16), u16(1), u16(1), u32(8000), u32(8000), u16(1), u16(8);
    wav += "data";
    u32(data);
    wav.append(data, '\x80');
    const uint32_t riff = uint32_t(wav.size() - 8);
    wav.replace(4, 4, reinterpret_cast<const char*>(&riff), 4);
    return wav;
}

} // namespace bcxtest
