// The version check against a local HTTP server: the request it makes, the text behind the marker in a
// message box on the GUI thread, and the answers that show nothing.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/msgdlg.h>

#include "platform/TextCodec.h"
#include "support/Loopback.h"
#include "support/PageServer.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "support/gui/DialogCapture.h"
#include "ui/VersionCheck.h"

namespace {

using bcxtest::Utf8;

// What the version check asks for, and a local server that answers it with body.
const std::string kVersionPath = "/bcxversion.php?app=Client&ver=0.95.00";

void ServeVersion(bcxtest::PageServer& server, const std::string& body)
{
    server.AddPage(kVersionPath, body, "text/plain");
    VersionCheckThread::SetVersionHostForTesting(server.HostAndPort());
}

const std::string kMarker = bcx::Utf8ToGbk("===信息===\n");

TEST(VersionCheckTest, ThreadAsksTheServerAndShowsTheTextBehindTheMarker)
{
    bcxtest::PageServer server;
    ServeVersion(server, "latest=0.96.00\n" + kMarker + bcx::Utf8ToGbk("新版本 0.96.00 已发布!"));
    bcxtest::DialogCapture dialogs;

    VersionCheck check(wxTheApp, wxS("Client"), wxS("0.95.00"));
    ASSERT_TRUE(check.Started());

    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !dialogs.Dialogs().empty(); }, 20000));
    ASSERT_EQ(1u, dialogs.Dialogs().size());
    EXPECT_EQ("Version Check", dialogs.Dialogs()[0].caption);
    EXPECT_EQ("新版本 0.96.00 已发布!", dialogs.Dialogs()[0].message);

    ASSERT_EQ(1u, server.RequestHeads().size());
    const std::string request = server.RequestHeads()[0];
    EXPECT_EQ(0u, request.find("GET " + kVersionPath + " HTTP/1."));
    EXPECT_NE(std::string::npos, request.find("Host: 127.0.0.1")) << request;
}

TEST(VersionCheckTest, MessageIsEverythingBehindTheFirstMarker)
{
    bcxtest::PageServer server;
    ServeVersion(server, "x" + kMarker + "first\n" + kMarker + "second");
    wxString message = VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00"));
    EXPECT_EQ("first\n===信息===\nsecond", Utf8(message));
}

TEST(VersionCheckTest, NoMarkerOrNothingBehindItShowsNoBox)
{
    bcxtest::DialogCapture dialogs;
    bcxtest::PageServer server;
    for (std::string body : {std::string("no news today"), std::string("almost " + kMarker.substr(0, 10)),
                             std::string("text " + kMarker), std::string()}) {
        ServeVersion(server, body);
        EXPECT_TRUE(VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00")).empty()) << body;
        EXPECT_EQ(kVersionPath, server.Requests().back());
    }
    EXPECT_EQ(4u, server.Requests().size());
    bcxtest::PumpFor(100);
    EXPECT_TRUE(dialogs.Dialogs().empty());
}

TEST(VersionCheckTest, UnreachableServerGivesNothing)
{
    // A port that nobody listens on: bind one, then close it.
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address));
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    VersionCheckThread::SetVersionHostForTesting(wxString::Format(wxS("127.0.0.1:%d"), ntohs(address.sin_port)));
    EXPECT_TRUE(VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00")).empty());
}

TEST(VersionCheckTest, AnswerIsReadOnlyUpToTheBound)
{
    // The marker lies beyond the bytes that are read.
    bcxtest::PageServer server;
    std::string body(VersionCheckThread::kMaxResponseBytes, 'x');
    ServeVersion(server, body + kMarker + "hidden");
    EXPECT_TRUE(VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00")).empty());

    // Just inside the bound it is found; the message is cut at the bound.
    std::string before(VersionCheckThread::kMaxResponseBytes - kMarker.size() - 4, 'y');
    ServeVersion(server, before + kMarker + "seen and more");
    EXPECT_EQ("seen", Utf8(VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00"))));
}

TEST(VersionCheckTest, ExitDuringAStalledCheckEndsTheWorkerAtOnce)
{
    // A server that reads the request and never answers.
    bcxtest::LoopbackListener listener;
    ASSERT_TRUE(listener.Listen());
    VersionCheckThread::SetVersionHostForTesting(wxString::Format(wxS("127.0.0.1:%u"), unsigned(listener.Port())));
    bcxtest::DialogCapture dialogs;
    std::unique_ptr<bcxtest::LoopbackConnection> peer;
    std::chrono::steady_clock::time_point stopping;
    {
        VersionCheck check(wxTheApp, wxS("Client"), wxS("0.95.00"));
        ASSERT_TRUE(check.Started());
        peer = listener.Accept(10000);
        ASSERT_TRUE(peer);
        ASSERT_FALSE(peer->ReadSome(2048, 10000).empty());
        stopping = std::chrono::steady_clock::now();
        // The owner goes, as at the program's exit.
    }
    // The worker is over: its connection is closed, and no box comes. It was stopped, not ended by the
    // check's own deadline, which a worker left to run would have waited for.
    const auto stopped = std::chrono::steady_clock::now() - stopping;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(stopped).count(),
              VersionCheckThread::kTimeoutSeconds * 1000 / 2);
    std::string rest;
    EXPECT_TRUE(peer->ReadUntilClosed(rest, 10000));
    bcxtest::PumpOnce();
    EXPECT_TRUE(dialogs.Dialogs().empty());
}

} // namespace
