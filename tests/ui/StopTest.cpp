// Stopping the program early: Ctrl+C (SIGINT) while the splash screen is up, SIGTERM while it connects,
// and the window manager's close of the splash during start-up each end the real program through its
// usual shutdown, which writes the window geometry and the column widths to the configuration file. The
// stop signals are acted on from the main loop, and after the first SIGINT the next one ends at once.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/Pump.h"
#include "support/TestEnv.h"
#include "support/gui/ProgramRun.h"
#include "support/gui/X11Windows.h"
#include "ui/StopSignals.h"

namespace {

namespace fs = std::filesystem;
using bcxtest::ReadFile;

// The real program, started in the test's directory with a log folder and the given settings file.
class ProgramStop : public testing::Test {
protected:
    void Start(const std::string& ini, const std::vector<std::string>& arguments)
    {
        ASSERT_TRUE(fs::exists(bcxtest::BinaryDir() + "/brawlcast"));
        fs::create_directory("log");
        std::ofstream("bcxClient.ini") << ini;
        mPid = bcxtest::StartProgram(arguments, false);
        ASSERT_GT(mPid, 0);
    }

    void TearDown() override
    {
        if (mPid > 0 && !mEnded)
            bcxtest::KillProgram(mPid);
    }

    // Waits until pred holds or the program has ended (false then), at most limit.
    bool WaitFor(const std::function<bool()>& pred, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Ended())
                return false;
            if (pred())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    bool Ended()
    {
        if (!mEnded && waitpid(mPid, &mStatus, WNOHANG) == mPid)
            mEnded = true;
        return mEnded;
    }

    // A viewable window of the program: its main window ("Brawlcast") or, when main is false, another one
    // (the splash screen while it starts).
    static unsigned long Window(bool main)
    {
        for (const bcxtest::TopWindow& window : bcxtest::ListTopWindows()) {
            if (window.viewable && window.width > 50 && (window.title == "Brawlcast") == main)
                return window.id;
        }
        return 0;
    }

    // The program ended by itself, cleanly, and the file holds what the session wrote at its end.
    void ExpectEndedAndSessionKept(const char* logged)
    {
        WaitFor([] { return false; }, std::chrono::seconds(30));
        ASSERT_TRUE(mEnded) << "still running\n" << ReadFile(bcxtest::kProgramOutputFile);
        ASSERT_TRUE(WIFEXITED(mStatus)) << "status " << mStatus << "\n" << ReadFile(bcxtest::kProgramOutputFile);
        EXPECT_EQ(0, WEXITSTATUS(mStatus)) << ReadFile(bcxtest::kProgramOutputFile);
        const std::string ini = ReadFile("bcxClient.ini");
        for (const char* line : {"[GUI]", "WindowPosX=", "WindowPosY=", "WindowWidth=", "WindowHeight=",
                                 "GameListCol00="})
            EXPECT_NE(std::string::npos, ini.find(line)) << line << " missing in\n" << ini;
        if (logged) {
            EXPECT_NE(std::string::npos, ReadFile(bcxtest::kProgramOutputFile).find(logged));
        }
    }

    pid_t mPid = -1;
    int mStatus = 0;
    bool mEnded = false;
};

const char* const kIni = "[Net]\nDatagramPort=0\nSessionPort=0\n";

TEST_F(ProgramStop, CtrlCWhileTheSplashIsUpClosesAndKeepsTheSession)
{
    Start(kIni, {"-c"});
    ASSERT_TRUE(WaitFor([] { return Window(false) != 0; })) << ReadFile(bcxtest::kProgramOutputFile);
    ASSERT_EQ(0, kill(mPid, SIGINT));
    ExpectEndedAndSessionKept("SIGINT received: closing and keeping the settings");
}

TEST_F(ProgramStop, SigtermWhileConnectingClosesAndKeepsTheSession)
{
    // A relay that takes the connection and never answers.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(listener, 4));
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
    Start(std::string(kIni) + "[Misc]\nConnectAtStart=1\nLastServer=127.0.0.1\nLastPort=" +
              std::to_string(ntohs(address.sin_port)) + "\n",
          {"-s", "-c"});
    int relay = -1;
    ASSERT_TRUE(WaitFor([&] {
        if (relay < 0)
            relay = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        return relay >= 0 && Window(true) != 0;
    }));
    ASSERT_EQ(0, kill(mPid, SIGTERM));
    ExpectEndedAndSessionKept("SIGTERM received: closing and keeping the settings");
    close(relay);
    close(listener);
}

TEST_F(ProgramStop, WindowManagerCloseOfTheSplashDuringStartUpClosesTheProgram)
{
    Start(kIni, {"-c"});
    unsigned long splash = 0;
    ASSERT_TRUE(WaitFor([&] { return (splash = Window(false)) != 0; }));
    ASSERT_TRUE(bcxtest::CloseTopWindow(splash));
    ExpectEndedAndSessionKept(nullptr);
}

TEST(StopSignals, AreActedOnFromTheMainLoopAndASecondCtrlCEndsAtOnce)
{
    std::vector<int> received;
    StopSignals signals([&](int signal) { received.push_back(signal); });
    ASSERT_TRUE(signals.Installed());
    ASSERT_EQ(0, raise(SIGTERM));
    ASSERT_EQ(0, raise(SIGINT));
    EXPECT_TRUE(received.empty());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ((std::vector<int>{SIGTERM, SIGINT}), received);

    struct sigaction now = {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(SIG_DFL, now.sa_handler);
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_NE(SIG_DFL, now.sa_handler);
    struct sigaction initial = {};
    initial.sa_handler = SIG_DFL;
    sigaction(SIGTERM, &initial, nullptr);
}

} // namespace
