#pragma once
// The fixture of the browser suites: a browser panel on the real web view, filling a frame of its own,
// a page server on 127.0.0.1 and, when a test logs on, our relay.

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/uiaction.h>
#include <wx/webview.h>

#include "browser/BrowserPanel.h"
#include "core/ClientCore.h"
#include "peers/TestRelayServer.h"
#include "support/PageServer.h"
#include "support/Pump.h"
#include "support/WxLoopback.h"
#include "support/gui/WebPages.h"
#include "ui/MemoryPages.h"

namespace bcxtest {

class PanelTest : public testing::Test {
protected:
    // The built-in pages, the client's settings without LAN ports, the page server and the frame.
    void SetUp() override
    {
        static const bool pagesRegistered = (bcx::RegisterMemoryPages(), true);
        (void)pagesRegistered;
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
        ASSERT_TRUE(server.IsListening());
        frame = new wxFrame(nullptr, wxID_ANY, wxS("browser"), wxPoint(0, 0), wxSize(800, 600));
    }

    void TearDown() override
    {
        if (frame)
            frame->Destroy();
        PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
    }

    // The panel, started at start, with the button row when asked; view is its web view.
    void Open(const wxString& start, bool withButtons = false)
    {
        panel = OpenPanel(frame, start, withButtons);
        ASSERT_NE(nullptr, panel);
        view = FindWebView(panel);
        ASSERT_NE(nullptr, view);
    }

    // A real mouse click on the element, as the user makes it.
    bool MouseClick(const std::string& id)
    {
        const std::string where = "var r = document.getElementById('" + id + "').getBoundingClientRect();"
                                  "Math.round(r.left + 5) + ',' + Math.round(r.top + r.height / 2)";
        int x = 0, y = 0;
        wxUIActionSimulator mouse;
        return PumpUntil([&] { return std::sscanf(EvalInPage(view, where).c_str(), "%d,%d", &x, &y) == 2; }) &&
               mouse.MouseMove(view->ClientToScreen(wxPoint(x, y))) && mouse.MouseClick();
    }

    // The client logged on to relay, which is polled while the events are pumped.
    bool LogOn()
    {
        ClientCore* core = ClientCore::Get();
        if (!core || !relay.Start())
            return false;
        hook = std::make_unique<ScopedPumpHook>([this] { relay.Poll(); });
        core->Connect(LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
        return PumpUntil([&] { return core->GetRelayState() == RelayLoggedOn; });
    }

    PageServer server;
    TestRelayServer relay;
    std::unique_ptr<ScopedPumpHook> hook;
    wxFrame* frame = nullptr;
    bcxBrowser* panel = nullptr;
    wxWebView* view = nullptr;
};

} // namespace bcxtest
