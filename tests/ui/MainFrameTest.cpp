// The main frame: the Log page with the start-up banner, the file log and status target it installs and
// removes, and the window geometry saved under /GUI and applied at the next start.

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/listbox.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>
#include <wx/webview.h>

#include "core/ClientCore.h"
#include "peers/TestRelayServer.h"
#include "support/Files.h"
#include "support/PageServer.h"
#include "support/Pump.h"
#include "support/TestEnv.h"
#include "support/Text.h"
#include "support/gui/DialogCapture.h"
#include "support/gui/ProgramRun.h"
#include "support/gui/Screenshot.h"
#include "support/gui/WebPages.h"
#include "support/gui/X11Windows.h"
#include "browser/BrowserPanel.h"
#include "ui/BrowserDialog.h"
#include "ui/ClientApp.h"
#include "ui/FileLog.h"
#include "ui/GameListPanel.h"
#include "ui/LogPanel.h"
#include "ui/MainFrame.h"
#include "ui/MemoryPages.h"
#include "ui/SettingsPage.h"

namespace {

using bcxtest::ReadFile;
using bcxtest::Utf8;

// The list box items without their "[hh:mm:ss] " stamp.
std::vector<std::string> LogLines(MainFrame* frame)
{
    std::vector<std::string> lines;
    wxListBox* list = frame->GetLogPanel()->GetListBox();
    for (unsigned int i = 0; i < list->GetCount(); ++i) {
        std::string item = Utf8(list->GetString(i));
        EXPECT_EQ('[', item[0]);
        EXPECT_EQ("] ", item.substr(9, 2)) << item;
        lines.push_back(item.substr(11));
    }
    return lines;
}

void DestroyFrame(MainFrame* frame)
{
    frame->Destroy();
    ASSERT_TRUE(bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
}

TEST(MainFrameTest, LogPageShowsTheBannerAndTheFrameRegistersItself)
{
    std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
    wxLog* before = wxLog::GetActiveTarget();
    auto* frame = new MainFrame();
    frame->Show();
    ClientApp::ApplySavedGeometry(frame);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return frame->IsShownOnScreen() && frame->GetSize().y == 480; }));

    ClientCore* core = ClientCore::Get(false);
    ASSERT_NE(nullptr, core);
    EXPECT_EQ(frame, core->GetStatusTarget());
    EXPECT_EQ(frame->GetFileLog(), wxLog::GetActiveTarget());
    EXPECT_EQ("Brawlcast", Utf8(frame->GetTitle()));
    EXPECT_TRUE(frame->GetIcon().IsOk());

    // The pages in order: Games, Settings, Log, About.
    wxNotebook* notebook = frame->GetNotebook();
    ASSERT_EQ(4u, notebook->GetPageCount());
    EXPECT_EQ("       游戏       ", Utf8(notebook->GetPageText(0)));
    EXPECT_EQ("      设置     ", Utf8(notebook->GetPageText(1)));
    EXPECT_EQ(" 日志", Utf8(notebook->GetPageText(2)));
    EXPECT_EQ("       关于       ", Utf8(notebook->GetPageText(3)));
    EXPECT_EQ(frame->GetGameListPanel(), notebook->GetPage(0));
    EXPECT_EQ(frame->GetSettingsPage(), notebook->GetPage(1));
    EXPECT_EQ(frame->GetLogPanel(), notebook->GetPage(2));
    EXPECT_EQ(frame->GetAboutPage(), notebook->GetPage(3));
    EXPECT_EQ(frame->GetGameListPanel(), core->GetGameListTarget());
    EXPECT_EQ(nullptr, frame->GetNewsPage());

    // The connect bar as constructed.
    EXPECT_TRUE(frame->GetConnectButton()->IsEnabled());
    EXPECT_FALSE(frame->GetDisconnectButton()->IsEnabled());
    EXPECT_EQ("连接", Utf8(frame->GetConnectButton()->GetLabel()));
    EXPECT_EQ("断开连接", Utf8(frame->GetDisconnectButton()->GetLabel()));
    EXPECT_EQ("连接已断开", Utf8(frame->GetStatusText()->GetLabel()));
    EXPECT_EQ("localhost", Utf8(frame->GetHostField()->GetValue()));
    EXPECT_EQ("10383", Utf8(frame->GetPortField()->GetValue()));

    std::vector<std::string> lines = LogLines(frame);
    const std::vector<std::string> banner = {
        "欢迎使用 Brawlcast, " + Utf8(wxGetUserName()),
        std::string(36, '='),
        "操作系统" + Utf8(wxGetOsDescription()),
        "客户端版本 0.95.00",
        "登录协议版本1.03.00",
        "中继协议版本1.05.00",
        "上传协议版本1.06.01",
        std::string(36, '-'),
        " ",
    };
    ASSERT_GE(lines.size(), banner.size());
    EXPECT_EQ(banner, std::vector<std::string>(lines.begin(), lines.begin() + banner.size()));

    // The page is at least the notebook's minimum size and the labels are readable.
    EXPECT_GE(notebook->GetSize().x, 640);
    EXPECT_GE(notebook->GetSize().y, 150);
    EXPECT_FALSE(bcxtest::SaveScreenshot(frame, "main-frame-log-page").empty());

    DestroyFrame(frame);
    EXPECT_EQ(nullptr, core->GetStatusTarget());
    EXPECT_EQ(before, wxLog::GetActiveTarget());
}

TEST(MainFrameTest, GeometryIsSavedOnDestructionAndAppliedAtTheNextStart)
{
    std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
    ClientCore* core = ClientCore::Get(false);
    ASSERT_NE(nullptr, core);
    wxConfigBase* config = wxConfigBase::Get(false);
    ASSERT_NE(nullptr, config);

    // No saved geometry yet: height 480, the toolkit's width and position.
    auto* first = new MainFrame();
    first->Show();
    ClientApp::ApplySavedGeometry(first);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return first->IsShownOnScreen(); }));
    EXPECT_EQ(480, first->GetSize().y);
    EXPECT_GE(first->GetSize().x, 640);

    first->SetSize(120, 90, 760, 530);
    ASSERT_TRUE(bcxtest::PumpUntil([&] {
        return first->GetSize() == wxSize(760, 530) && first->GetPosition() == wxPoint(120, 90);
    }));
    DestroyFrame(first);

    config->SetPath(wxS("/GUI"));
    EXPECT_EQ(120, config->ReadLong(wxS("WindowPosX"), -7));
    EXPECT_EQ(90, config->ReadLong(wxS("WindowPosY"), -7));
    EXPECT_EQ(760, config->ReadLong(wxS("WindowWidth"), -7));
    EXPECT_EQ(530, config->ReadLong(wxS("WindowHeight"), -7));

    auto* second = new MainFrame();
    second->Show();
    ClientApp::ApplySavedGeometry(second);
    ASSERT_TRUE(bcxtest::PumpUntil([&] {
        return second->GetSize() == wxSize(760, 530) && second->GetPosition() == wxPoint(120, 90);
    })) << second->GetSize().x << "x" << second->GetSize().y << "+" << second->GetPosition().x << "+"
        << second->GetPosition().y;
    DestroyFrame(second);
}

TEST(MainFrameTest, AboutPageShowsTheBuiltInPage)
{
    bcx::RegisterMemoryPages();
    auto* frame = new MainFrame();
    frame->SetSize(20, 20, 900, 600);
    frame->Show();
    frame->GetNotebook()->SetSelection(3);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return frame->IsShownOnScreen(); }));
    bcxtest::PumpFor(200);

    bcxBrowser* about = frame->GetAboutPage();
    ASSERT_NE(nullptr, about);
    EXPECT_EQ("bcx:about", Utf8(about->GetHomeUrl()));
    wxWebView* view = bcxtest::FindWebView(about);
    ASSERT_TRUE(bcxtest::WaitForPageText(view, "Brawlcast - Client"));
    const std::string text = bcxtest::PageText(view);
    EXPECT_NE(std::string::npos, text.find("0.95.00")) << text;
    // The style sheet is not shown as text.
    EXPECT_EQ(std::string::npos, text.find("font-size")) << text;

    EXPECT_FALSE(bcxtest::SaveScreenshot(frame, "main-frame-about-page").empty());
    DestroyFrame(frame);
}

TEST(MainFrameTest, NewsOpensTheDialogAndOneNewsPageInFront)
{
    bcx::RegisterMemoryPages();
    std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
    ClientCore* core = ClientCore::Get(false);
    ASSERT_NE(nullptr, core);
    core->Settings().mUserName = "tester";
    bcxtest::TestRelayServer relay;
    ASSERT_TRUE(relay.Start());
    bcxtest::ScopedPumpHook hook([&] { relay.Poll(); });
    relay.LogonAnswer().withNews = true;
    relay.LogonAnswer().newsFlags = 7;
    bcxtest::PageServer pages;
    pages.AddPage("/news/today", "<html><head><title>news</title></head><body>Today on the relay</body></html>");
    relay.LogonAnswer().newsPage = Utf8(pages.Url("/news/today"));
    relay.LogonAnswer().newsDialog = Utf8(pages.Url("/news/dialog"));
    relay.LogonAnswer().newsWidth = 420;
    relay.LogonAnswer().newsHeight = 280;

    auto* frame = new MainFrame();
    frame->Show();
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return frame->IsShownOnScreen(); }));
    frame->GetNotebook()->SetSelection(2);

    bcxtest::DialogCapture dialogs;
    bool pageWhileOpen = true;
    dialogs.onOpen = [&](wxDialog*) { pageWhileOpen = frame->GetNewsPage() != nullptr; };
    frame->GetHostField()->SetValue(wxS("127.0.0.1"));
    frame->GetPortField()->SetValue(wxString::Format(wxS("%u"), static_cast<unsigned>(relay.Port())));
    frame->GetUserField()->SetValue(wxS("tester"));
    wxCommandEvent click(wxEVT_BUTTON, MainFrameConnectId);
    frame->GetConnectButton()->GetEventHandler()->ProcessEvent(click);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetRelayState() == RelayLoggedOn; }));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return frame->GetNewsPage() != nullptr; }));

    // Bit 0: the browser dialog, modal, opened from the event loop; once it has closed, bit 1: the News
    // page in front; bit 2: it is selected.
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return dialogs.Dialogs().size() == 1; }));
    EXPECT_FALSE(pageWhileOpen);
    EXPECT_EQ("Brawlcast", dialogs.Dialogs()[0].caption);
    wxNotebook* notebook = frame->GetNotebook();
    ASSERT_EQ(5u, notebook->GetPageCount());
    EXPECT_EQ(frame->GetNewsPage(), notebook->GetPage(0));
    EXPECT_EQ("       News       ", Utf8(notebook->GetPageText(0)));
    EXPECT_EQ(0, notebook->GetSelection());
    EXPECT_TRUE(bcxtest::WaitForPageText(bcxtest::FindWebView(frame->GetNewsPage()), "Today on the relay"));

    // A second news event reuses the page.
    bcxBrowser* news = frame->GetNewsPage();
    notebook->SetSelection(3);
    ClientCore::PostEvent(frame, ClientEventNews);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return dialogs.Dialogs().size() == 2; }));
    bcxtest::PumpFor(50);
    EXPECT_EQ(5u, notebook->GetPageCount());
    EXPECT_EQ(news, frame->GetNewsPage());
    EXPECT_EQ(0, notebook->GetSelection());

    DestroyFrame(frame);
}

TEST(MainFrameTest, BrowserDialogShowsTheAddressInTheGivenSize)
{
    bcx::RegisterMemoryPages();
    BrowserDialog dialog(nullptr, wxS("memory:browserstart.html"), 400, 250);
    EXPECT_EQ("Brawlcast", Utf8(dialog.GetTitle()));
    EXPECT_GE(dialog.GetView()->GetSize().x, 400);
    EXPECT_GE(dialog.GetView()->GetSize().y, 250);
    EXPECT_EQ("memory:browserstart.html", Utf8(dialog.GetView()->GetHomeUrl()));
    dialog.Show();
    EXPECT_TRUE(bcxtest::WaitForPageText(bcxtest::FindWebView(&dialog), "Brawlcast welcome page..."));
}

// ---------------------------------------------------------------------------------------------------
// The real program, twice in the same working directory.

// Runs the program with -s -c until its main window is on screen; then hands the window to inspect and
// closes it the way a window manager does. The wait status, or -1.
int RunProgramOnce(const std::function<void(const bcxtest::TopWindow&)>& inspect)
{
    pid_t pid = bcxtest::StartProgram({"-s", "-c"}, true);
    if (pid <= 0)
        return -1;
    bool closed = false;
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return status;
        for (const bcxtest::TopWindow& window : bcxtest::ListTopWindows()) {
            if (!window.viewable || window.title != "Brawlcast" || closed)
                continue;
            // Let the saved geometry arrive before looking.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            for (const bcxtest::TopWindow& now : bcxtest::ListTopWindows())
                if (now.id == window.id)
                    inspect(now);
            closed = bcxtest::CloseTopWindow(window.id);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return bcxtest::KillProgram(pid);
}

// The value of "key=" in the section, or empty.
std::string IniValue(const std::string& ini, const std::string& section, const std::string& key)
{
    size_t at = ini.find("[" + section + "]");
    if (at == std::string::npos)
        return std::string();
    const size_t end = ini.find("\n[", at + 1);
    at = ini.find("\n" + key + "=", at);
    if (at == std::string::npos || (end != std::string::npos && at > end))
        return std::string();
    at += key.size() + 2;
    return ini.substr(at, ini.find('\n', at) - at);
}

TEST(MainFrameTest, ProgramKeepsGeometryAndColumnWidthsAcrossRuns)
{
    ASSERT_TRUE(std::filesystem::exists(bcxtest::BinaryDir() + "/brawlcast"));
    std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";

    // First run: the defaults are written at exit.
    int status = RunProgramOnce([](const bcxtest::TopWindow&) {});
    ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << ReadFile(bcxtest::kProgramOutputFile);
    EXPECT_EQ(0, WEXITSTATUS(status));
    std::string ini = ReadFile("bcxClient.ini");
    EXPECT_EQ("480", IniValue(ini, "GUI", "WindowHeight")) << ini;
    EXPECT_EQ("150", IniValue(ini, "GUI", "GameListCol01")) << ini;
    for (int column = 0; column < 10; ++column)
        EXPECT_NE("", IniValue(ini, "GUI", "GameListCol0" + std::to_string(column))) << column;

    // The user's window and columns of an earlier session.
    std::string changed;
    std::istringstream lines(ini);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("WindowPosX=", 0) == 0) line = "WindowPosX=40";
        else if (line.rfind("WindowPosY=", 0) == 0) line = "WindowPosY=30";
        else if (line.rfind("WindowWidth=", 0) == 0) line = "WindowWidth=1010";
        else if (line.rfind("WindowHeight=", 0) == 0) line = "WindowHeight=555";
        else if (line.rfind("GameListCol01=", 0) == 0) line = "GameListCol01=233";
        else if (line.rfind("GameListCol07=", 0) == 0) line = "GameListCol07=321";
        changed += line + "\n";
    }
    std::ofstream("bcxClient.ini", std::ios::trunc) << changed;

    // Second run: the window comes up where it was; at exit everything is written back unchanged.
    bcxtest::TopWindow seen;
    status = RunProgramOnce([&](const bcxtest::TopWindow& window) { seen = window; });
    ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << ReadFile(bcxtest::kProgramOutputFile);
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(1010, seen.width);
    EXPECT_EQ(555, seen.height);
    ini = ReadFile("bcxClient.ini");
    EXPECT_EQ("40", IniValue(ini, "GUI", "WindowPosX")) << ini;
    EXPECT_EQ("30", IniValue(ini, "GUI", "WindowPosY")) << ini;
    EXPECT_EQ("1010", IniValue(ini, "GUI", "WindowWidth")) << ini;
    EXPECT_EQ("555", IniValue(ini, "GUI", "WindowHeight")) << ini;
    EXPECT_EQ("233", IniValue(ini, "GUI", "GameListCol01")) << ini;
    EXPECT_EQ("321", IniValue(ini, "GUI", "GameListCol07")) << ini;
}

} // namespace
