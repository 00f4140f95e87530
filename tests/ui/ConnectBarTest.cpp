// The connect bar of the main frame against the test relay server on loopback: typing the server and
// the user name, connecting, the status texts and button states of every connection state in order,
// the values written on connection, disconnecting and reconnecting from the bar, the re-enable delays,
// the validation messages, a refused connection, the relay's messages and news dialogs shown one at a
// time, and closing the frame while a news dialog is open or waits or a click on the bar is queued.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/listbox.h>
#include <wx/notebook.h>
#include <wx/socket.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "core/ClientCore.h"
#include "peers/TestRelayServer.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "support/WxLoopback.h"
#include "support/gui/DialogCapture.h"
#include "support/gui/X11Windows.h"
#include "browser/BrowserPanel.h"
#include "ui/BrowserDialog.h"
#include "ui/LogPanel.h"
#include "ui/MainFrame.h"
#include "ui/MemoryPages.h"
#include "ui/VersionCheck.h"

namespace {

using bcxtest::Utf8;
using bcxtest::TestRelayServer;

wxString U(const char* utf8)
{
    return wxString::FromUTF8(utf8);
}

// What the connect bar looked like right after the frame handled one connection-state notification.
struct BarState {
    int value;
    std::string status;
    bool connect;
    bool disconnect;
    bool fields;

    bool operator==(const BarState& o) const
    {
        return value == o.value && status == o.status && connect == o.connect && disconnect == o.disconnect &&
               fields == o.fields;
    }
};

std::ostream& operator<<(std::ostream& out, const BarState& s)
{
    return out << "{" << s.value << ", \"" << s.status << "\", connect " << s.connect << ", disconnect "
               << s.disconnect << ", fields " << s.fields << "}";
}

BarState Snapshot(MainFrame* frame, int value)
{
    return {value, Utf8(frame->GetStatusText()->GetLabel()), frame->GetConnectButton()->IsEnabled(),
            frame->GetDisconnectButton()->IsEnabled(), frame->GetHostField()->IsEnabled()};
}

// Stands in as the core's status target: hands every notification to the frame and records the bar as
// the frame left it after each connection-state notification.
class BarSpy : public wxEvtHandler {
public:
    explicit BarSpy(MainFrame* frame) : mFrame(frame) { Bind(ClientEventType, &BarSpy::OnClientEvent, this); }

    std::vector<BarState> states;

private:
    void OnClientEvent(ClientEvent& event)
    {
        ClientEvent copy(event);
        mFrame->HandleWindowEvent(copy);
        if (event.GetId() == ClientEventRelayState)
            states.push_back(Snapshot(mFrame, event.GetValue()));
    }

    MainFrame* mFrame;
};

class ConnectBarTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
        core = ClientCore::Get();
        ASSERT_NE(nullptr, core);
        ASSERT_TRUE(relay.Start());
        hook = std::make_unique<bcxtest::ScopedPumpHook>([this] { relay.Poll(); });
    }

    void TearDown() override
    {
        if (frame) {
            core->SetStatusTarget(frame);
            frame->Destroy();
            bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
        }
        spy.reset();
        hook.reset();
    }

    void Open()
    {
        frame = new MainFrame();
        frame->SetSize(20, 20, 900, 560);
        frame->Show();
        frame->Raise();
        ASSERT_TRUE(bcxtest::PumpUntil([this] { return frame->IsShownOnScreen(); }));
        bcxtest::PumpFor(100);
        spy = std::make_unique<BarSpy>(frame);
        core->SetStatusTarget(spy.get());
    }

    static void Click(wxWindow* window)
    {
        window->GetParent()->Update();
        wxUIActionSimulator sim;
        wxRect rect = window->GetScreenRect();
        sim.MouseMove(rect.x + rect.width / 2, rect.y + rect.height / 2);
        bcxtest::PumpFor(20);
        sim.MouseClick();
    }

    // Replaces the field's text the way the user does: click into it, select everything, type.
    static void Type(wxTextCtrl* field, const std::string& text)
    {
        field->SetFocus();
        ASSERT_TRUE(bcxtest::PumpUntil([field] { return wxWindow::FindFocus() == field; }));
        field->SelectAll();
        wxUIActionSimulator sim;
        if (text.empty())
            sim.Char(WXK_DELETE);
        else
            sim.Text(text.c_str());
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return Utf8(field->GetValue()) == text; }))
            << Utf8(field->GetValue());
    }

    void FillBar(const std::string& host, const std::string& port, const std::string& user)
    {
        Type(frame->GetHostField(), host);
        Type(frame->GetPortField(), port);
        Type(frame->GetUserField(), user);
    }

    bool WaitState(RelayState state, int ms = 5000)
    {
        return bcxtest::PumpUntil([&] { return core->GetRelayState() == state; }, ms);
    }

    ClientCore* core = nullptr;
    TestRelayServer relay;
    std::unique_ptr<bcxtest::ScopedPumpHook> hook;
    MainFrame* frame = nullptr;
    std::unique_ptr<BarSpy> spy;
};

TEST_F(ConnectBarTest, ConnectLogOnDisconnectAndReconnectFromTheBar)
{
    relay.AddGame(TestRelayServer::MakeFinished1v1(0x1001, 20));
    Open();
    EXPECT_EQ((BarState{0, "连接已断开", true, false, true}), Snapshot(frame, 0));

    FillBar("127.0.0.1", std::to_string(relay.Port()), "tester");
    Click(frame->GetConnectButton());
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return spy->states.size() >= 5; }));

    // Every state the relay connection passed, with the bar as the user saw it.
    const std::vector<BarState> expected = {
        {1, "正在连接...", false, true, false}, {2, "握手...", false, true, false},
        {3, "协商...", false, true, false},     {3, "批准...", false, true, false},
        {4, "已登陆", false, true, false},
    };
    EXPECT_EQ(expected, spy->states);
    ASSERT_EQ(1u, relay.Logons().size());
    EXPECT_EQ("tester", relay.Logons()[0].user);

    // What the bar stored in the core and, on connection, in the configuration.
    EXPECT_EQ("tester", core->Settings().mUserName);
    EXPECT_EQ("127.0.0.1", core->Settings().mLastServer);
    EXPECT_EQ(relay.Port(), core->Settings().mLastPort);
    wxConfigBase* config = wxConfigBase::Get(false);
    ASSERT_NE(nullptr, config);
    config->SetPath(wxS("/Misc"));
    EXPECT_EQ("tester", Utf8(config->Read(U("用户名"), wxString())));
    EXPECT_EQ("127.0.0.1", Utf8(config->Read(wxS("LastServer"), wxString())));
    EXPECT_EQ(relay.Port(), config->ReadLong(wxS("LastPort"), 0));
    // ... and in the file at once, not only when the program ends.
    const std::string ini = bcxtest::ReadFile("bcxClient.ini");
    for (const std::string& line : {bcx::Utf8ToGbk("用户名=tester\n"), std::string("LastServer=127.0.0.1\n"),
                                    "LastPort=" + std::to_string(relay.Port()) + "\n"})
        EXPECT_NE(std::string::npos, ini.find(line)) << line << " missing in\n" << ini;

    // The user disconnects: Connect is back after about half a second.
    spy->states.clear();
    Click(frame->GetDisconnectButton());
    ASSERT_TRUE(WaitState(RelayDisconnected));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !spy->states.empty(); }));
    EXPECT_EQ((BarState{0, "连接已断开", false, false, true}), spy->states[0]);
    ASSERT_NE(nullptr, frame->GetReenableTimer());
    EXPECT_EQ(500, frame->GetReenableTimer()->GetInterval());
    EXPECT_FALSE(core->IsReconnectPending());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return frame->GetConnectButton()->IsEnabled(); }, 3000));

    // ... and connects again with the values still in the bar.
    spy->states.clear();
    Click(frame->GetConnectButton());
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    EXPECT_EQ(2u, relay.AcceptedCount());
    EXPECT_EQ(2u, relay.Logons().size());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !spy->states.empty() && spy->states.back().value == 4; }));
    EXPECT_EQ((BarState{4, "已登陆", false, true, false}), spy->states.back());
}

TEST_F(ConnectBarTest, DroppedConnectionReenablesConnectOnlyWhileStillDisconnected)
{
    Open();
    FillBar("127.0.0.1", std::to_string(relay.Port()), "tester");
    Click(frame->GetConnectButton());
    ASSERT_TRUE(WaitState(RelayLoggedOn));

    spy->states.clear();
    relay.CloseConnection(relay.LastConnection());
    ASSERT_TRUE(WaitState(RelayDisconnected));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !spy->states.empty(); }));
    EXPECT_EQ((BarState{0, "连接丢失", false, false, true}), spy->states[0]);
    // A dropped connection: the core reconnects by itself; the bar waits five seconds.
    EXPECT_TRUE(core->IsReconnectPending());
    EXPECT_EQ(5000, frame->GetReenableTimer()->GetInterval());
    EXPECT_TRUE(frame->GetReenableTimer()->IsRunning());
    bcxtest::PumpFor(700);
    EXPECT_FALSE(frame->GetConnectButton()->IsEnabled());

    // When the timer finds the core connecting again, Connect stays disabled; once it is disconnected,
    // Connect comes back.
    wxTimerEvent tick(*frame->GetReenableTimer());
    core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
    frame->OnReenableTimer(tick);
    EXPECT_FALSE(frame->GetConnectButton()->IsEnabled());
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    core->Disconnect(true, wxS("bye"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return spy->states.back().value == 0; }));
    EXPECT_EQ("bye", spy->states.back().status);
    frame->OnReenableTimer(tick);
    EXPECT_TRUE(frame->GetConnectButton()->IsEnabled());
}

TEST_F(ConnectBarTest, RefusedConnectionShowsTheReasonAndFreesTheBar)
{
    // A port on which nobody listens.
    uint16_t port = 0;
    {
        wxIPV4address any = bcxtest::LoopbackWxAddress(0);
        wxSocketServer probe(any);
        ASSERT_TRUE(probe.IsOk());
        wxIPV4address bound;
        probe.GetLocal(bound);
        port = bound.Service();
    }
    Open();
    FillBar("127.0.0.1", std::to_string(port), "tester");
    Click(frame->GetConnectButton());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return spy->states.size() >= 2; }));
    EXPECT_EQ((BarState{1, "正在连接...", false, true, false}), spy->states[0]);
    EXPECT_EQ((BarState{0, "没有找到服务器", false, false, true}), spy->states[1]);
    EXPECT_EQ(5000, frame->GetReenableTimer()->GetInterval());
}

TEST_F(ConnectBarTest, BadValuesGiveTheirMessageAndLeaveTheBarAsItWas)
{
    Open();
    bcxtest::DialogCapture boxes;
    const std::string port = std::to_string(relay.Port());

    // A name of two characters; then the host is checked before the port.
    FillBar("127.0.0.1", port, "ab");
    Click(frame->GetConnectButton());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.Dialogs().size() == 1; }));
    EXPECT_EQ("Message", boxes.Dialogs()[0].caption);
    EXPECT_EQ("用户名最少要由3个以上字符组成!", boxes.Dialogs()[0].message);

    // Two Chinese characters are four bytes: long enough. The host is empty.
    frame->GetUserField()->SetValue(U("张三"));
    Type(frame->GetHostField(), "");
    frame->GetPortField()->SetValue(wxS("abc"));
    Click(frame->GetConnectButton());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.Dialogs().size() == 2; }));
    EXPECT_EQ("Invalid hostname specified", boxes.Dialogs()[1].message);

    // A host that does not resolve (Enter in the host field connects too).
    Type(frame->GetHostField(), "no-such-host.invalid");
    wxUIActionSimulator().Char(WXK_RETURN);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.Dialogs().size() == 3; }, 10000));
    EXPECT_EQ("Invalid hostname specified", boxes.Dialogs()[2].message);

    // Good host, bad ports.
    frame->GetHostField()->SetValue(wxS("  127.0.0.1 "));
    for (const char* bad : {"abc", "", "70000", "0"}) {
        const size_t before = boxes.Dialogs().size();
        frame->GetPortField()->SetValue(wxString::FromUTF8(bad));
        Click(frame->GetConnectButton());
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.Dialogs().size() == before + 1; })) << bad;
        EXPECT_EQ("Invalid port specified", boxes.Dialogs().back().message) << bad;
    }

    // Nothing was attempted; the bar is unchanged.
    EXPECT_EQ(RelayDisconnected, core->GetRelayState());
    EXPECT_EQ(0u, relay.AcceptedCount());
    EXPECT_TRUE(spy->states.empty());
    EXPECT_TRUE(frame->GetConnectButton()->IsEnabled());
    EXPECT_FALSE(frame->GetDisconnectButton()->IsEnabled());
    EXPECT_TRUE(frame->GetHostField()->IsEnabled());

    // With trimmed values everything passes and the core connects.
    frame->GetPortField()->SetValue(wxString::FromAscii(port.c_str()));
    Click(frame->GetConnectButton());
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    EXPECT_EQ(bcx::Utf8ToGbk("张三"), relay.Logons().at(0).user);
    EXPECT_EQ("127.0.0.1", core->Settings().mLastServer);
    EXPECT_EQ(7u, boxes.Dialogs().size());
}

TEST_F(ConnectBarTest, ConnectAtStartIsSilentWithBadValuesAndConnectsWithGoodOnes)
{
    core->Settings().mConnectAtStart = 1;
    core->Settings().mUserName = "ab";
    core->Settings().mLastServer = "127.0.0.1";
    core->Settings().mLastPort = relay.Port();
    {
        bcxtest::DialogCapture boxes;
        Open();
        bcxtest::PumpFor(200);
        EXPECT_TRUE(boxes.Dialogs().empty());
        EXPECT_EQ(RelayDisconnected, core->GetRelayState());
        EXPECT_EQ(0u, relay.AcceptedCount());
        EXPECT_TRUE(frame->GetConnectButton()->IsEnabled());
        EXPECT_TRUE(frame->GetUserField()->IsEnabled());
    }
    core->SetStatusTarget(frame);
    frame->Destroy();
    ASSERT_TRUE(bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
    frame = nullptr;
    spy.reset();

    core->Settings().mUserName = "tester";
    Open();
    EXPECT_EQ("127.0.0.1", Utf8(frame->GetHostField()->GetValue()));
    EXPECT_EQ(std::to_string(relay.Port()), Utf8(frame->GetPortField()->GetValue()));
    EXPECT_EQ("tester", Utf8(frame->GetUserField()->GetValue()));
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    EXPECT_FALSE(frame->GetConnectButton()->IsEnabled());
    EXPECT_TRUE(frame->GetDisconnectButton()->IsEnabled());
}

TEST_F(ConnectBarTest, RelayMessagesAreShownInABoxAfterTheSocketHandler)
{
    Open();
    bcxtest::DialogCapture boxes;
    FillBar("127.0.0.1", std::to_string(relay.Port()), "tester");
    Click(frame->GetConnectButton());
    ASSERT_TRUE(WaitState(RelayLoggedOn));

    relay.SendText(relay.LastConnection(), bcx::Utf8ToGbk("服务器维护 at 22:00"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.Dialogs().size() == 1; }));
    EXPECT_EQ("Message", boxes.Dialogs()[0].caption);
    EXPECT_EQ("服务器维护 at 22:00", boxes.Dialogs()[0].message);

    relay.SendError(relay.LastConnection(), 7);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.Dialogs().size() == 2; }));
    EXPECT_EQ("Error: Server is full! Try again later!", boxes.Dialogs()[1].message);
    // The connection is kept.
    bcxtest::PumpFor(100);
    EXPECT_EQ(RelayLoggedOn, core->GetRelayState());
}

using Clock = std::chrono::steady_clock;

// Closes the toolkit's message box once it is on the screen, the way a window manager does; tried from
// the event loop until the deadline. A box with the default caption "Message" has no window title.
void CloseMessageBoxOnceShown(Clock::time_point deadline)
{
    wxTheApp->CallAfter([deadline] {
        for (const bcxtest::TopWindow& window : bcxtest::ListTopWindows())
            if (window.viewable && window.title.empty())
                return void(bcxtest::CloseTopWindow(window.id));
        if (Clock::now() < deadline)
            CloseMessageBoxOnceShown(deadline);
    });
}

// Keeps every box open, the way a user who has not answered it yet does: while the outermost box is open
// its modal loop runs until the test's condition holds. Records how deeply boxes were nested.
class OpenBoxes : public bcxtest::DialogCapture {
public:
    explicit OpenBoxes(std::function<bool()> answerWhen) : mAnswerWhen(std::move(answerWhen)) {}

    int deepest = 0;
    bool answered = false;
    std::vector<int> newsWidths;     // of each news dialog, in order
    std::function<void()> whenOpen;  // run once, when the first box has opened

protected:
    int Enter(wxDialog* dialog) override
    {
        const int result = DialogCapture::Enter(dialog);  // answered here: the toolkit shows nothing
        if (auto* news = dynamic_cast<BrowserDialog*>(dialog))
            newsWidths.push_back(news->GetView()->GetMinSize().x);
        deepest = std::max(deepest, ++mDepth);
        if (mDepth == 1 && whenOpen) {
            whenOpen();
            whenOpen = nullptr;
        }
        if (mDepth == 1)
            answered = bcxtest::PumpUntil(mAnswerWhen, 10000);
        --mDepth;
        return result;
    }

private:
    std::function<bool()> mAnswerWhen;
    int mDepth = 0;
};

TEST_F(ConnectBarTest, AFloodOfRelayTextsAndNewsOpensOneModalAtATimeAndTheConnectionIsServed)
{
    bcx::RegisterMemoryPages();
    Open();
    core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
    ASSERT_TRUE(WaitState(RelayLoggedOn));

    auto logged = [this](const std::string& part) {
        wxListBox* list = frame->GetLogPanel()->GetListBox();
        for (unsigned int i = 0; i < list->GetCount(); ++i)
            if (Utf8(list->GetString(i)).find(part) != std::string::npos)
                return true;
        return false;
    };
    const std::string dropped = "[svr] 16 server messages wait to be shown; further ones are dropped";
    const std::string replaced = "[svr] A news dialog waits to be shown; later news records replace it";
    OpenBoxes boxes([&] { return !relay.Echoes().empty() && logged(dropped) && logged(replaced); });
    for (int i = 0; i < 3000; ++i)
        relay.SendText(relay.LastConnection(), "hello");
    // While the first box is open: 200 logon answers in one write, each with a news record that asks for
    // the dialog (widths 301-500), then a ping.
    boxes.whenOpen = [&] {
        using R = TestRelayServer;
        std::string answers;
        for (uint16_t width = 301; width <= 500; ++width)
            answers += R::MakeFrame(0x01, R::U8(1) + R::Str("Relay") + R::U32(0x01000500) + std::string(3, '\0') +
                                              R::U16(6667) + std::string(2, '\0') + R::U32(1) +
                                              std::string(2, '\0') + R::U8(1) + R::U16(width) + R::U16(200) +
                                              R::Str("memory:browserstart.html"));
        relay.SendRaw(relay.LastConnection(), answers);
        relay.SendPing(relay.LastConnection(), 77);
    };

    // The first box stays open until the relay's later ping was answered and both bounds were logged.
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return boxes.answered; }, 20000));
    EXPECT_EQ(77u, relay.Echoes()[0].value);
    // The waiting texts and the one news dialog (of the last record) follow one by one; a text sent
    // afterwards comes last.
    relay.SendText(relay.LastConnection(), "bye");
    const auto& shown = boxes.Dialogs();
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !shown.empty() && shown.back().message == "bye"; }));
    EXPECT_EQ(1, boxes.deepest);
    EXPECT_EQ(std::vector<int>{500}, boxes.newsWidths);
    EXPECT_GE(shown.size(), 4u);
    EXPECT_LE(shown.size(), 3 + MainFrame::kServerMessageQueueBound);
    EXPECT_EQ("hello", shown[1].message);
    EXPECT_EQ(RelayLoggedOn, core->GetRelayState());
}

TEST_F(ConnectBarTest, ClosingTheFrameEndsItsOpenNewsDialogFirstAndOpensNothingAfterwards)
{
    bcx::RegisterMemoryPages();
    relay.LogonAnswer().withNews = true;
    relay.LogonAnswer().newsFlags = 1;
    relay.LogonAnswer().newsDialog = "memory:browserstart.html";
    Open();
    // The news dialog runs the toolkit's own modal loop; from there the frame is closed.
    bcxtest::DialogCapture shown(true);
    shown.onOpen = [this](wxDialog*) { frame->CallAfter([this] { frame->Close(); }); };
    core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
    ASSERT_TRUE(bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_EQ(1u, shown.Returned());
    shown.onOpen = nullptr;

    // A frame closed while its news dialog waits to be shown, a click on Connect with too short a name
    // still queued: neither the dialog nor the bar's box opens (a real one, closed once it is on the
    // screen, whose loop would delete the frame under it), and the version check's text goes to the log.
    frame = new MainFrame();
    frame->Show();
    ClientEvent news(ClientEventNews);
    frame->OnNews(news);
    frame->GetUserField()->ChangeValue(wxS("ab"));
    shown.onOpen = [](wxDialog*) { CloseMessageBoxOnceShown(Clock::now() + std::chrono::seconds(10)); };
    frame->Close();
    frame->GetConnectButton()->GetEventHandler()->QueueEvent(new wxCommandEvent(wxEVT_BUTTON, MainFrameConnectId));
    VersionCheckThread::ShowMessage(wxS("0.96.00 is out"));
    wxListBox* log = frame->GetLogPanel()->GetListBox();
    EXPECT_EQ("Version check (not shown, the window is closing): 0.96.00 is out",
              Utf8(log->GetString(log->GetCount() - 1)).substr(11));
    frame = nullptr;
    ASSERT_TRUE(bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_EQ(1u, shown.Dialogs().size());
}

} // namespace
