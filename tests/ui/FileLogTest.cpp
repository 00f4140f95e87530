// The file log: time stamps, error and warning prefixes, the list box that follows the newest line, the
// GBK log file that exists only with a "log" directory, and trace messages handed to the previous target.

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/log.h>

#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "ui/FileLog.h"
#include "ui/LogPanel.h"

namespace {

using bcxtest::ReadFile;
using bcxtest::Utf8;

// 2024-03-05 07:08:09 local time.
time_t FixedLocalTime()
{
    std::tm parts{};
    parts.tm_year = 2024 - 1900;
    parts.tm_mon = 2;
    parts.tm_mday = 5;
    parts.tm_hour = 7;
    parts.tm_min = 8;
    parts.tm_sec = 9;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

class FileLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        bcx::WallClock::SetManual(true);
        bcx::WallClock::Set(static_cast<uint32_t>(FixedLocalTime()));
        mFrame = new wxFrame(nullptr, wxID_ANY, wxS("log test"), wxDefaultPosition, wxSize(400, 200));
        mPanel = new LogPanel(mFrame);
        mFrame->Show();
        bcxtest::PumpFor(50);
    }

    void TearDown() override
    {
        mFrame->Destroy();
        bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
        bcx::WallClock::SetManual(false);
    }

    std::string Item(unsigned int index) const { return Utf8(mPanel->GetListBox()->GetString(index)); }

    wxFrame* mFrame = nullptr;
    LogPanel* mPanel = nullptr;
};

TEST_F(FileLogTest, StampsEveryLineAndPrefixesErrorsAndWarnings)
{
    bcxtest::LogCapture previous;
    {
        FileLog log(mPanel->GetListBox(), &previous);
        wxLog::SetActiveTarget(&log);
        wxLogMessage(wxS("plain %d"), 1);
        wxLogWarning(wxS("低内存"));
        wxLogError(wxS("broken"));
        bcx::WallClock::Advance(3661);
        wxLogMessage(wxS("later"));
        wxLog::SetActiveTarget(&previous);
    }
    wxListBox* list = mPanel->GetListBox();
    ASSERT_EQ(4u, list->GetCount());
    EXPECT_EQ("[07:08:09] plain 1", Item(0));
    EXPECT_EQ("[07:08:09] [警告] 低内存", Item(1));
    EXPECT_EQ("[07:08:09] [错误] broken", Item(2));
    // The stamp is the clock at output.
    EXPECT_EQ("[08:09:10] later", Item(3));
    // Ordinary lines do not reach the previous target.
    EXPECT_TRUE(previous.Lines().empty());
}

TEST_F(FileLogTest, RestoresThePreviousTargetWhenDeleted)
{
    bcxtest::LogCapture previous;
    auto* log = new FileLog(mPanel->GetListBox(), &previous);
    wxLog::SetActiveTarget(log);
    delete log;
    EXPECT_EQ(&previous, wxLog::GetActiveTarget());
    wxLogMessage(wxS("after"));
    EXPECT_TRUE(previous.Contains("after"));
    EXPECT_EQ(0u, mPanel->GetListBox()->GetCount());
}

TEST_F(FileLogTest, TraceGoesToThePreviousTargetOrIsDropped)
{
    bcxtest::LogCapture previous;
    {
        FileLog log(mPanel->GetListBox(), &previous);
        wxLog::SetActiveTarget(&log);
        wxLogGeneric(wxLOG_Trace, wxS("trace line"));
        wxLog::SetActiveTarget(&previous);
    }
    EXPECT_TRUE(previous.Contains("trace line"));
    EXPECT_EQ(0u, mPanel->GetListBox()->GetCount());

    previous.Clear();
    {
        FileLog log(mPanel->GetListBox(), nullptr);
        wxLog::SetActiveTarget(&log);
        wxLogGeneric(wxLOG_Trace, wxS("nobody hears this"));
        wxLogMessage(wxS("shown"));
        wxLog::SetActiveTarget(&previous);
    }
    EXPECT_FALSE(previous.Contains("nobody hears this"));
    ASSERT_EQ(1u, mPanel->GetListBox()->GetCount());
    EXPECT_EQ("[07:08:09] shown", Item(0));
}

TEST_F(FileLogTest, ListBoxScrollsToTheNewestLine)
{
    bcxtest::LogCapture previous;
    wxListBox* list = mPanel->GetListBox();
    {
        FileLog log(list, &previous);
        wxLog::SetActiveTarget(&log);
        for (int i = 0; i < 200; ++i)
            wxLogMessage(wxS("line %d"), i);
        wxLog::SetActiveTarget(&previous);
    }
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return list->GetTopItem() > 0; }, 3000));
    int top = list->GetTopItem();
    int perPage = list->GetCountPerPage();
    ASSERT_GT(perPage, 0);
    EXPECT_GE(top + perPage, 199) << "the last line is not in view";
    EXPECT_EQ("[07:08:09] line 199", Item(199));
}

TEST_F(FileLogTest, WritesAGbkFileOnlyWhenTheLogDirectoryExists)
{
    namespace fs = std::filesystem;
    bcxtest::LogCapture previous;
    {
        FileLog log(mPanel->GetListBox(), &previous);
        EXPECT_FALSE(log.HasFile());
        wxLog::SetActiveTarget(&log);
        wxLogMessage(wxS("no file"));
        wxLog::SetActiveTarget(&previous);
    }
    EXPECT_FALSE(fs::exists("log"));
    for (const auto& entry : fs::directory_iterator("."))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".log")) << entry.path();

    fs::create_directory("log");
    {
        FileLog log(mPanel->GetListBox(), &previous);
        EXPECT_TRUE(log.HasFile());
        wxLog::SetActiveTarget(&log);
        wxLogMessage(wxS("欢迎 %s"), wxS("user"));
        wxLogWarning(wxS("注意"));
        wxLog::SetActiveTarget(&previous);
    }
    const fs::path file = "log/bcx240305-070809.log";
    ASSERT_TRUE(fs::exists(file));
    std::string expected = bcx::Utf8ToGbk("[07:08:09] 欢迎 user\n[07:08:09] [警告] 注意\n");
    EXPECT_EQ(expected, ReadFile(file));

    // Logs opened in the same second (two copies of the program) each get a file of their own.
    for (const char* text : {"second", "third"}) {
        FileLog log(mPanel->GetListBox(), &previous);
        wxLog::SetActiveTarget(&log);
        wxLogMessage(wxS("%s"), wxString::FromUTF8(text));
        wxLog::SetActiveTarget(&previous);
    }
    EXPECT_EQ(expected, ReadFile(file));
    EXPECT_EQ("[07:08:09] second\n", ReadFile("log/bcx240305-070809-2.log"));
    EXPECT_EQ("[07:08:09] third\n", ReadFile("log/bcx240305-070809-3.log"));
    EXPECT_EQ(3, std::distance(fs::directory_iterator("log"), fs::directory_iterator()));
}

// A "log" folder where no file can be made: the first line says, in plain words, that there is no log file
// and why.
TEST_F(FileLogTest, AFolderWithoutRoomForAFileIsToldOnce)
{
    namespace fs = std::filesystem;
    // Not even the superuser makes files in /sys; others are kept out of their own folder by its mode.
    if (geteuid() == 0) {
        fs::create_directory_symlink("/sys", "log");
    } else {
        fs::create_directory("log");
        fs::permissions("log", fs::perms::owner_read | fs::perms::owner_exec);
    }
    bcxtest::LogCapture previous;
    FileLog log(mPanel->GetListBox(), &previous);
    EXPECT_FALSE(log.HasFile());
    ASSERT_EQ(1u, mPanel->GetListBox()->GetCount());
    EXPECT_EQ("[07:08:09] No log file is written: log/bcx240305-070809.log cannot be made in the folder \"log\" "
              "(Permission denied)",
              Item(0));
    wxLog::SetActiveTarget(&log);
    wxLogMessage(wxS("later"));
    wxLog::SetActiveTarget(&previous);
    EXPECT_EQ(2u, mPanel->GetListBox()->GetCount());
}

// A peer's flood: the page keeps the newest lines, repeats are counted, control characters cannot forge
// lines, and the file stops at its bound with one line that says so.
TEST_F(FileLogTest, PeerFloodIsBoundedCountedAndEscaped)
{
    namespace fs = std::filesystem;
    fs::create_directory("log");
    bcxtest::LogCapture previous;
    wxListBox* list = mPanel->GetListBox();
    {
        FileLog log(list, &previous, 4000);
        wxLog::SetActiveTarget(&log);
        wxLogMessage(wxS("%s"), wxS("[g] game 'evil\n[12:00:00] [svr] forged\x01' listed"));
        for (int i = 0; i < 1000; ++i)
            wxLogMessage(wxS("client[0x00000001] unknown message 0x99"));
        for (unsigned i = 0; i < FileLog::kMaxListLines + 10; ++i)
            wxLogMessage(wxS("line %u"), i);
        wxLog::SetActiveTarget(&previous);
    }
    ASSERT_EQ(FileLog::kMaxListLines, list->GetCount());
    EXPECT_EQ("[07:08:09] line 5009", Item(list->GetCount() - 1));

    const std::string file = ReadFile("log/bcx240305-070809.log");
    EXPECT_LE(file.size(), 4000u);
    EXPECT_EQ(0u, file.find("[07:08:09] [g] game 'evil\\n[12:00:00] [svr] forged\\x01' listed\n"
                            "[07:08:09] client[0x00000001] unknown message 0x99\n"
                            "[07:08:09] (the line above was repeated 999 more times)\n"
                            "[07:08:09] line 0\n"))
        << file;
    EXPECT_EQ(std::string::npos, file.find("\n[12:00:00]"));
    EXPECT_NE(std::string::npos, file.find("] The log file reached its bound of 4000 bytes; further lines are "
                                           "shown on the Log page only\n"));
    EXPECT_EQ('\n', file.back());
}

} // namespace
