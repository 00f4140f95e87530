// The real program, started with -s -c on the test's display: it brings up its main window without a box
// in front of it, writes what start-up logged and the start-up banner to the log, and when its window is
// closed it exits cleanly and leaves the configuration file with the defaults and the window geometry.

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/TestEnv.h"
#include "support/gui/ProgramRun.h"
#include "support/gui/X11Windows.h"

namespace {

namespace fs = std::filesystem;
using bcxtest::ReadFile;

// Waits (bounded) for the program to end; its wait status, or -1 when it had to be killed.
int WaitForExit(pid_t pid, std::chrono::seconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return bcxtest::KillProgram(pid);
}

TEST(StartupTest, ProgramStartsWithoutABoxShowsTheBannerAndExitsWhenClosed)
{
    ASSERT_TRUE(fs::exists(bcxtest::BinaryDir() + "/brawlcast"));
    fs::create_directory("log");
    // A settings file the user saved as UTF-8: reading it is logged before the main window exists.
    std::ofstream("bcxClient.ini") << "[Misc]\n用户名=测试者\n[Net]\nDatagramPort=0\nSessionPort=0\n";
    pid_t pid = bcxtest::StartProgram({"-s", "-c"}, false);
    ASSERT_GT(pid, 0);

    // Close the main window once it is on screen. Any other window (a box that start-up would wait on) is
    // recorded and dismissed the way a user would.
    bool closedFrame = false;
    std::vector<std::string> otherWindows;
    int status = -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        for (const bcxtest::TopWindow& window : bcxtest::ListTopWindows()) {
            if (!window.viewable || window.title.empty())
                continue;
            if (window.title == "Brawlcast") {
                if (!closedFrame)
                    closedFrame = bcxtest::CloseTopWindow(window.id);
            } else {
                otherWindows.push_back(window.title);
                bcxtest::CloseTopWindow(window.id);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        status = -1;
    }
    if (status == -1)
        status = WaitForExit(pid, std::chrono::seconds(10));
    EXPECT_EQ(std::vector<std::string>(), otherWindows);
    ASSERT_TRUE(closedFrame) << ReadFile(bcxtest::kProgramOutputFile);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << ReadFile(bcxtest::kProgramOutputFile);
    EXPECT_EQ(0, WEXITSTATUS(status)) << ReadFile(bcxtest::kProgramOutputFile);

    // The configuration written at exit: defaults of the settings, the ports the run was given (free ones,
    // see StartProgram) and the window geometry.
    std::string ini = ReadFile("bcxClient.ini");
    for (const char* line : {"Password=vexlor", "LastServer=localhost", "LastPort=10383", "DatagramPort=0\n",
                             "SessionPort=0\n", "UplinkPort=10386", "[GUI]", "WindowHeight=", "WindowWidth=", "WindowPosX=",
                             "WindowPosY="})
        EXPECT_NE(std::string::npos, ini.find(line)) << line << " missing in\n" << ini;

    // The Log page's lines, as the file log wrote them: what start-up logged, then the banner in order,
    // each line stamped.
    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator("log"))
        logs.push_back(entry.path());
    ASSERT_EQ(1u, logs.size());
    std::string name = logs[0].filename().string();
    EXPECT_EQ(0u, name.find("bcx"));
    EXPECT_EQ(".log", name.substr(name.size() - 4));
    EXPECT_EQ(3 + 13 + 4, name.size()); // bcx + yymmdd-hhmmss + .log
    std::string text = bcx::ToGbk(bcx::FromGbk(ReadFile(logs[0]))) == ReadFile(logs[0])
                           ? std::string(bcx::FromGbk(ReadFile(logs[0])).utf8_str())
                           : std::string();
    ASSERT_FALSE(text.empty());
    size_t at = 0;
    for (const char* expected :
         {"] Settings: ./bcxClient.ini is read as UTF-8 and will be written as GBK\n", "] 欢迎使用 Brawlcast, ", "] ====================================\n", "] 操作系统", "] 客户端版本 0.95.00\n",
          "] 登录协议版本1.03.00\n", "] 中继协议版本1.05.00\n", "] 上传协议版本1.06.01\n",
          "] ------------------------------------\n", "]  \n"}) {
        size_t found = text.find(expected, at);
        ASSERT_NE(std::string::npos, found) << expected << " not found in order in\n" << text;
        at = found + 1;
    }
}

} // namespace
