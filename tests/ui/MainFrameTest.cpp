// The main frame: the Log page with the start-up banner, the file log and status target it installs and
// removes, and the window geometry saved under /GUI and applied at the next start.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/config.h>
#include <wx/listbox.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/utils.h>

#include "core/ClientCore.h"
#include "support/Pump.h"
#include "support/gui/Screenshot.h"
#include "ui/ClientApp.h"
#include "ui/FileLog.h"
#include "ui/LogPanel.h"
#include "ui/MainFrame.h"

namespace {

std::string Utf8(const wxString& text)
{
    wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

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

    wxNotebook* notebook = frame->GetNotebook();
    ASSERT_EQ(1u, notebook->GetPageCount());
    EXPECT_EQ(" 日志", Utf8(notebook->GetPageText(0)));
    EXPECT_EQ(frame->GetLogPanel(), notebook->GetPage(0));

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

} // namespace
