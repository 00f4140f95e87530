// One end-to-end run of the real program: started with -s -c on the test's display, it connects at start
// to our test relay, offers the relay's finished game on the LAN, and our test LAN client (standing in for
// Warcraft III) finds it by a search on the datagram port, joins it on the session port, gets the lobby
// and, with QuickStart, the whole game released at normal speed until the program closes the connection.
// Then the window is closed: the program exits cleanly and the configuration file keeps the settings.

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peers/TestLanClient.h"
#include "peers/TestRelayServer.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Pump.h"
#include "support/TestEnv.h"
#include "support/gui/ProgramRun.h"
#include "support/gui/X11Windows.h"

namespace {

namespace fs = std::filesystem;
using bcxtest::PumpUntil;
using bcxtest::ReadFile;

constexpr uint32_t kGameId = 0x00E2E001;
constexpr size_t kEntries = 300;
constexpr uint16_t kIncrementMs = 15;  // 300 entries: 4.5 s of game time at normal speed

TEST(EndToEndTest, ProgramReleasesARelayedGameToTheTestLanClientAndExitsCleanly)
{
    ASSERT_TRUE(fs::exists(bcxtest::BinaryDir() + "/brawlcast"));
    bcx::ProgramClock::Start();  // the test client's arrival stamps

    bcxtest::TestRelayServer relay;
    ASSERT_TRUE(relay.Start());
    bcxtest::RelayGame game = bcxtest::TestRelayServer::MakeFinished1v1(kGameId, kEntries, "End to end", kIncrementMs);
    const std::vector<bcxtest::RelayEntry> entries = game.entries;
    relay.AddGame(std::move(game));
    bcxtest::TestLanClient wc3(0);
    ASSERT_TRUE(wc3.Ok());
    bcxtest::ScopedPumpHook hook([&] {
        relay.Poll();
        wc3.Poll();
    });

    const uint16_t datagramPort = bcxtest::FreeUdpPort();
    const uint16_t sessionPort = bcxtest::FreeTcpPort();
    const std::string userKey = bcx::ToGbk(wxS("用户名"));
    const std::vector<std::string> settings = {
        userKey + "=E2eViewer", "ConnectAtStart=1", "LastServer=127.0.0.1",
        "LastPort=" + std::to_string(relay.Port()), "QuickStart=1",
        "DatagramPort=" + std::to_string(datagramPort), "SessionPort=" + std::to_string(sessionPort),
        "UseLocalhost=1"};
    {
        std::ofstream ini("bcxClient.ini", std::ios::binary);
        ini << "[Misc]\n" << settings[0] << "\n" << settings[1] << "\n" << settings[2] << "\n" << settings[3] << "\n"
            << settings[4] << "\n[Net]\n" << settings[5] << "\n" << settings[6] << "\n" << settings[7] << "\n";
    }
    fs::create_directory("log");
    const pid_t pid = bcxtest::StartProgram({"-s", "-c"}, false);
    ASSERT_GT(pid, 0);
    int status = -1;
    auto exited = [&] { return status != -1 || waitpid(pid, &status, WNOHANG) == pid; };

    // The program logs on and offers the game; it answers a search on its datagram port to the asker.
    bool found = false;
    for (int attempt = 0; attempt < 60 && !found && !exited(); ++attempt) {
        wc3.SendSearch(datagramPort, kGameId);
        found = PumpUntil([&] { return wc3.FindGame(kGameId) != nullptr; }, 1000);
    }
    bool joined = false, closedByHost = false;
    if (found) {
        const bcxtest::LanGameInfo info = *wc3.FindGame(kGameId);
        EXPECT_FALSE(info.live);
        EXPECT_EQ("End to end", info.gameName);
        EXPECT_EQ(sessionPort, info.sessionPort);
        joined = wc3.JoinGame(info);
        // Lobby, map check, QuickStart, the data subscription and the release of 4.5 s of game time.
        closedByHost = joined && PumpUntil([&] { return wc3.HostClosed() || exited(); }, 60000) && wc3.HostClosed();
    }

    // Close the main window as a user would (a box in front of it is dismissed first).
    bool closedFrame = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!exited() && std::chrono::steady_clock::now() < deadline) {
        for (const bcxtest::TopWindow& window : bcxtest::ListTopWindows()) {
            if (!window.viewable || window.title.empty())
                continue;
            if (window.title != "Brawlcast")
                bcxtest::CloseTopWindow(window.id);
            else if (!closedFrame)
                closedFrame = bcxtest::CloseTopWindow(window.id);
        }
        bcxtest::PumpFor(100);
    }
    if (!exited())
        status = bcxtest::KillProgram(pid);
    const std::string output = ReadFile(bcxtest::kProgramOutputFile);
    ASSERT_TRUE(found) << "no game info for the search\n" << output;
    ASSERT_TRUE(joined);
    ASSERT_TRUE(closedByHost) << "actions received: " << wc3.Actions().size() << "\n" << output;

    // Every entry once, in order, byte for byte, with its checksum right; then the end of the stream.
    EXPECT_TRUE(wc3.ProtocolErrors().empty()) << wc3.ProtocolErrors().front();
    ASSERT_EQ(entries.size(), wc3.Actions().size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const bcxtest::LanAction& a = wc3.Actions()[i];
        EXPECT_EQ(entries[i].bytes, a.raw) << "entry " << i;
        EXPECT_EQ(bcxtest::ChecksumResult::Ok, a.checksumResult) << "entry " << i;
    }
    EXPECT_EQ(kEntries * kIncrementMs, wc3.GameTimeMs());
    EXPECT_EQ(wc3.Frames().size(), wc3.ClosedAtSeq());
    EXPECT_GT(wc3.Actions().back().arrivalMs - wc3.Actions().front().arrivalMs,
              (kEntries - 1) * kIncrementMs * 3 / 4)
        << "the release did not keep to the game's pace";

    // A clean exit, and the settings still in the file.
    ASSERT_TRUE(closedFrame) << output;
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << output;
    EXPECT_EQ(0, WEXITSTATUS(status)) << output;
    const std::string ini = ReadFile("bcxClient.ini");
    for (const std::string& line : settings)
        EXPECT_NE(std::string::npos, ini.find(line + "\n")) << line << " missing in\n" << ini;
}

} // namespace
