// The program's descriptors and the processes the web engine starts. With the session port and a joined
// game client, the relay and IRC connections, a version check under way and the log file open, every
// descriptor of the program is close-on-exec, the engine's processes hold none of them, and a relay
// connection that the program drops is closed whole: the relay's next bytes are refused.

#include <fcntl.h>
#include <arpa/inet.h>
#include <linux/kcmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/toplevel.h>

#include "browser/BrowserPanel.h"
#include "core/ClientCore.h"
#include "lanhost/IrcClient.h"
#include "lanhost/LanListener.h"
#include "platform/Descriptors.h"
#include "platform/ProgramClock.h"
#include "support/Loopback.h"
#include "support/Processes.h"
#include "support/Pump.h"
#include "support/WxLoopback.h"
#include "ui/GameListPanel.h"
#include "ui/MainFrame.h"
#include "ui/MemoryPages.h"
#include "ui/VersionCheck.h"

namespace {

namespace fs = std::filesystem;

// The process's descriptors above 2 with their targets ("socket:[123]", a path, ...).
std::map<int, std::string> Descriptors(pid_t pid)
{
    std::map<int, std::string> fds;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code unreadable;
        const std::string target = fs::read_symlink(entry.path(), unreadable);
        const int fd = std::atoi(entry.path().filename().c_str());
        if (fd > 2 && !unreadable)
            fds[fd] = target;
    }
    return fds;
}

// What the process was started with: the descriptors of whoever runs the tests, not the program's.
const std::map<int, std::string> gInherited = Descriptors(::getpid());

// The descriptors of the program: all but those it was started with.
std::map<int, std::string> ProgramDescriptors()
{
    std::map<int, std::string> fds = Descriptors(::getpid());
    for (auto it = fds.begin(); it != fds.end();)
        it = gInherited.count(it->first) ? fds.erase(it) : std::next(it);
    return fds;
}

// "fd -> target" lines of the program's descriptors without close-on-exec.
std::string DescriptorsWithoutCloseOnExec()
{
    std::string lines;
    for (const auto& [fd, target] : ProgramDescriptors())
        if (const int flags = ::fcntl(fd, F_GETFD); flags >= 0 && !(flags & FD_CLOEXEC))
            lines += std::to_string(fd) + " -> " + target + "\n";
    return lines;
}

// Why kcmp cannot tell whether this process and the other share an open file; empty when it can.
std::string KcmpUnavailable(pid_t other)
{
    if (::syscall(SYS_kcmp, ::getpid(), other, KCMP_VM, 0, 0) < 0)
        return std::string("kcmp of process ") + std::to_string(other) + " is not allowed: " + std::strerror(errno);
    return std::string();
}

// "fd -> target" lines of the program's descriptors that the other process holds (the same open file).
std::string ProgramDescriptorsHeldBy(pid_t other)
{
    std::string lines;
    const std::map<int, std::string> ours = ProgramDescriptors();
    for (const auto& entry : Descriptors(other))
        for (const auto& [fd, target] : ours)
            if (::syscall(SYS_kcmp, ::getpid(), other, KCMP_FILE, fd, entry.first) == 0)
                lines += std::to_string(entry.first) + " -> " + target + "\n";
    return lines;
}

// Whether the program holds the file open.
bool ProgramHolds(const std::string& path)
{
    for (const auto& entry : ProgramDescriptors())
        if (entry.second == path)
            return true;
    return false;
}

// The program's socket connected to 127.0.0.1:port, or -1.
int DescriptorConnectedTo(uint16_t port)
{
    for (const auto& entry : Descriptors(::getpid())) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(entry.first, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == port)
            return entry.first;
    }
    return -1;
}

class DescriptorsTest : public testing::Test {
protected:
    void SetUp() override
    {
        static const bool pagesRegistered = (bcx::RegisterMemoryPages(), true);
        (void)pagesRegistered;
        // Nothing runs out while the test looks: not the relay's logon deadline, not the join deadline.
        bcx::ProgramClock::SetManual(true);
        ASSERT_TRUE(::mkdir("log", 0755) == 0 || errno == EEXIST);
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
        core = ClientCore::Get();
        ASSERT_NE(nullptr, core);
        core->Settings().mUserName = "tester";
    }

    void TearDown() override
    {
        // The next test (in this process too) connects the program afresh.
        if (core)
            core->Disconnect(true, wxString());
        if (frame) {
            frame->Destroy();
            bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
        }
        bcx::ProgramClock::SetManual(false);
    }

    // The test's own end of a connection is not the program's: it is kept out of the engine's processes.
    static std::unique_ptr<bcxtest::LoopbackConnection> Own(std::unique_ptr<bcxtest::LoopbackConnection> c)
    {
        if (c)
            bcx::SetCloseOnExec(c->Fd());
        return c;
    }

    // Connects the program to a relay of the test's own, up to the protocol words: the program then waits
    // for the relay's answer to its version.
    void ConnectRelay()
    {
        bcxtest::LoopbackListener listener;
        ASSERT_TRUE(listener.Listen());
        core->Connect(bcxtest::LoopbackWxAddress(listener.Port()), wxS("127.0.0.1"));
        relay = Own(listener.Accept(5000));
        ASSERT_TRUE(relay);
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetRelayState() == RelayHandshake; }));
        std::string word;
        ASSERT_TRUE(relay->ReadExact(word, 4));
        ASSERT_TRUE(relay->WriteAll(std::string("\x00\x03\x00\x01", 4)));
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetRelayState() == RelayNegotiate; }));
    }

    // The main window with its games list (the session port), its file log and its About page, whose web
    // view starts the engine's processes.
    void OpenFrame()
    {
        frame = new MainFrame();
        frame->Show();
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return frame->IsShownOnScreen(); }));
        ASSERT_NE(nullptr, frame->GetFileLog());
        ASSERT_TRUE(bcxtest::PumpUntil([] { return !bcxtest::EngineProcesses().empty(); }, 30000));
    }

    // A Warcraft III connection to the session port that the program has accepted.
    void JoinGameClient()
    {
        LanListener* listener = frame->GetGameListPanel()->GetListener();
        ASSERT_NE(nullptr, listener);
        gameClient = Own(bcxtest::LoopbackConnection::Connect(listener->SessionPort()));
        ASSERT_TRUE(gameClient);
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return listener->Clients().Size() == 1; }));
    }

    // A web view of its own in a window of its own: the engine starts a page process for it.
    void OpenAnotherPage()
    {
        const std::vector<pid_t> before = bcxtest::EngineProcesses();
        wxFrame* window = new wxFrame(frame, wxID_ANY, wxS("news"), wxDefaultPosition, wxSize(400, 300));
        bcxBrowser* page = new bcxBrowser(window, wxID_ANY, wxS("bcx:about"));
        page->Create(false);
        window->Show();
        ASSERT_TRUE(bcxtest::PumpUntil(
            [&] {
                for (pid_t pid : bcxtest::EngineProcesses())
                    if (std::find(before.begin(), before.end(), pid) == before.end())
                        return true;
                return false;
            },
            30000));
    }

    ClientCore* core = nullptr;
    MainFrame* frame = nullptr;
    std::unique_ptr<bcxtest::LoopbackConnection> relay;
    std::unique_ptr<bcxtest::LoopbackConnection> gameClient;
};

class SilentIrcOwner : public IrcClientOwner {
public:
    void ForwardLineToGame(const std::string&) override {}
    bool HasGameSocket() const override { return true; }
    bool IsAttachedToGame() const override { return false; }
    uint32_t AttachedGameId() const override { return 0; }
};

TEST_F(DescriptorsTest, EveryDescriptorOfTheProgramIsCloseOnExec)
{
    ConnectRelay();
    OpenFrame();
    JoinGameClient();

    bcxtest::LoopbackListener ircServer;
    ASSERT_TRUE(ircServer.Listen());
    SilentIrcOwner owner;
    IrcClient irc(&owner);
    irc.Connect({"127.0.0.1", ircServer.Port(), "#bcx"});
    auto ircPeer = Own(ircServer.Accept(5000));
    ASSERT_TRUE(ircPeer);
    ircServer.Close();

    // A version server that takes the request and keeps the check (on its own thread) waiting.
    bcxtest::LoopbackListener versionServer;
    ASSERT_TRUE(versionServer.Listen());
    const uint16_t versionPort = versionServer.Port();
    VersionCheckThread::SetVersionHostForTesting(wxString::Format(wxS("127.0.0.1:%u"), unsigned(versionPort)));
    VersionCheck check(nullptr, wxS("Client"), wxS("0.95.00"));
    ASSERT_TRUE(check.Started());
    auto versionPeer = Own(versionServer.Accept(10000));
    ASSERT_TRUE(versionPeer);
    versionServer.Close();
    ASSERT_GE(DescriptorConnectedTo(versionPort), 0);

    EXPECT_EQ("", DescriptorsWithoutCloseOnExec());
    versionPeer->Close();
}

TEST_F(DescriptorsTest, TheEnginesProcessesHoldNoDescriptorOfTheProgram)
{
    ConnectRelay();
    OpenFrame();
    JoinGameClient();
    const std::string noKcmp = KcmpUnavailable(bcxtest::EngineProcesses().front());
    if (!noKcmp.empty())
        GTEST_SKIP() << noKcmp;
    std::map<pid_t, std::string> held;
    const auto look = [&] {
        for (pid_t child : bcxtest::EngineProcesses())
            held[child] = ProgramDescriptorsHeldBy(child);
    };
    look();

    // The engine's memory monitor opens its files (/proc/meminfo among them) some time after start-up,
    // on a thread of its own: a page process started after that, and the network process started again
    // after its end, are started with them open.
    ASSERT_TRUE(bcxtest::PumpUntil([] { return ProgramHolds("/proc/meminfo"); }, 30000));
    const std::vector<pid_t> network = bcxtest::EngineProcesses("WebKitNetworkPr");
    ASSERT_EQ(1u, network.size());
    ASSERT_EQ(0, ::kill(network.front(), SIGKILL));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return bcxtest::EngineProcesses("WebKitNetworkPr").empty(); }, 10000));
    // A new page's process asks for the network process: the engine starts it again.
    OpenAnotherPage();
    ASSERT_TRUE(bcxtest::PumpUntil([] { return !bcxtest::EngineProcesses("WebKitNetworkPr").empty(); }, 30000));
    look();

    ASSERT_GE(held.size(), 4u);  // two network processes and two page processes
    for (const auto& [child, lines] : held)
        EXPECT_EQ("", lines) << "process " << child;
}

TEST_F(DescriptorsTest, ARelayConnectionDroppedOnABrokenFrameIsClosedWhole)
{
    ConnectRelay();
    OpenFrame();

    // A frame whose length is shorter than its header: the program drops the connection.
    ASSERT_TRUE(relay->WriteAll(std::string("\xEF\xBE\x00\x01\x00", 5)));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetRelayState() == RelayDisconnected; }));
    std::string rest;
    ASSERT_TRUE(relay->ReadUntilClosed(rest, 5000));

    // Nobody holds the program's end any more: what the relay sends now is answered with a reset.
    const int fd = relay->Fd();
    const bool refused = bcxtest::PumpUntil(
        [&] {
            if (::send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && (errno == EPIPE || errno == ECONNRESET))
                return true;
            char byte;
            return ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == ECONNRESET;
        },
        3000);
    EXPECT_TRUE(refused);
}

} // namespace
