#include "support/gui/WebPages.h"

#include <cstdint>

#include <wx/frame.h>
#include <wx/image.h>
#include <wx/mstream.h>
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

std::string Wav(unsigned seconds, unsigned sampleRate, unsigned channels, unsigned bitsPerSample)
{
    const uint32_t frame = channels * bitsPerSample / 8;
    const uint32_t data = sampleRate * frame * seconds;
    std::string wav = "RIFF....WAVEfmt ";
    const auto u32 = [&](uint32_t v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](uint16_t v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
    u32(16), u16(1), u16(uint16_t(channels)), u32(sampleRate), u32(sampleRate * frame), u16(uint16_t(frame)),
        u16(uint16_t(bitsPerSample));
    wav += "data";
    u32(data);
    // Silence: the middle of the unsigned 8-bit range, zero for signed 16-bit samples.
    wav.append(data, bitsPerSample == 8 ? '\x80' : '\0');
    const uint32_t riff = uint32_t(wav.size() - 8);
    wav.replace(4, 4, reinterpret_cast<const char*>(&riff), 4);
    return wav;
}

std::string Png(unsigned width, unsigned height)
{
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxImage image(static_cast<int>(width), static_cast<int>(height), false);
    unsigned char* rgb = image.GetData();
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x, rgb += 3) {
            rgb[0] = static_cast<unsigned char>(x / 8);
            rgb[1] = static_cast<unsigned char>(y / 8);
            rgb[2] = static_cast<unsigned char>((x + y) / 16);
        }
    wxMemoryOutputStream out;
    image.SaveFile(out, wxBITMAP_TYPE_PNG);
    std::string png(out.GetLength(), '\0');
    out.CopyTo(&png[0], png.size());
    return png;
}

} // namespace bcxtest
