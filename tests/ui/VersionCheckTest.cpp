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
#include "support/Pump.h"
#include "support/Text.h"
#include "support/gui/DialogCapture.h"
#include "ui/VersionCheck.h"

namespace {

using bcxtest::Utf8;

// Answers one HTTP request on 127.0.0.1 (a free port) with a fixed body, then closes.
class OneShotHttpServer {
public:
    explicit OneShotHttpServer(std::string body) : mBody(std::move(body))
    {
        mListener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(mListener, 1);
        socklen_t length = sizeof address;
        getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { Serve(); });
    }

    ~OneShotHttpServer()
    {
        shutdown(mListener, SHUT_RDWR);
        if (mThread.joinable())
            mThread.join();
        close(mListener);
    }

    // Waits until the one exchange is over; the request head as received.
    const std::string& WaitForRequest()
    {
        if (mThread.joinable())
            mThread.join();
        return mRequest;
    }

    wxString HostAndPort() const { return wxString::Format(wxS("127.0.0.1:%d"), mPort); }

private:
    void Serve()
    {
        int client = accept(mListener, nullptr, nullptr);
        if (client >= 0) {
            timeval timeout{5, 0};
            setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            char buffer[2048];
            while (mRequest.find("\r\n\r\n") == std::string::npos && mRequest.size() < 16384) {
                ssize_t n = recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                mRequest.append(buffer, static_cast<size_t>(n));
            }
            std::string response = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                   std::to_string(mBody.size()) + "\r\nConnection: close\r\n\r\n" + mBody;
            size_t sent = 0;
            while (sent < response.size()) {
                ssize_t n = send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            close(client);
        }
    }

    std::string mBody;
    int mListener = -1;
    int mPort = 0;
    std::string mRequest;
    std::thread mThread;
};

const std::string kMarker = bcx::Utf8ToGbk("===信息===\n");

TEST(VersionCheckTest, ThreadAsksTheServerAndShowsTheTextBehindTheMarker)
{
    OneShotHttpServer server("latest=0.96.00\n" + kMarker + bcx::Utf8ToGbk("新版本 0.96.00 已发布!"));
    VersionCheckThread::SetVersionHostForTesting(server.HostAndPort());
    bcxtest::DialogCapture dialogs;

    VersionCheck check(wxTheApp, wxS("Client"), wxS("0.95.00"));
    ASSERT_TRUE(check.Started());

    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !dialogs.Dialogs().empty(); }, 20000));
    ASSERT_EQ(1u, dialogs.Dialogs().size());
    EXPECT_EQ("Version Check", dialogs.Dialogs()[0].caption);
    EXPECT_EQ("新版本 0.96.00 已发布!", dialogs.Dialogs()[0].message);

    const std::string& request = server.WaitForRequest();
    EXPECT_EQ(0u, request.find("GET /bcxversion.php?app=Client&ver=0.95.00 HTTP/1."));
    EXPECT_NE(std::string::npos, request.find("Host: 127.0.0.1")) << request;
}

TEST(VersionCheckTest, MessageIsEverythingBehindTheFirstMarker)
{
    OneShotHttpServer server("x" + kMarker + "first\n" + kMarker + "second");
    VersionCheckThread::SetVersionHostForTesting(server.HostAndPort());
    wxString message = VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00"));
    EXPECT_EQ("first\n===信息===\nsecond", Utf8(message));
}

TEST(VersionCheckTest, NoMarkerOrNothingBehindItShowsNoBox)
{
    bcxtest::DialogCapture dialogs;
    for (std::string body : {std::string("no news today"), std::string("almost " + kMarker.substr(0, 10)),
                             std::string("text " + kMarker), std::string()}) {
        OneShotHttpServer server(body);
        VersionCheckThread::SetVersionHostForTesting(server.HostAndPort());
        EXPECT_TRUE(VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00")).empty()) << body;
        EXPECT_EQ(0u, server.WaitForRequest().find("GET /bcxversion.php?app=Client&ver=0.95.00 HTTP/1."));
    }
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
    std::string body(VersionCheckThread::kMaxResponseBytes, 'x');
    OneShotHttpServer far(body + kMarker + "hidden");
    VersionCheckThread::SetVersionHostForTesting(far.HostAndPort());
    EXPECT_TRUE(VersionCheckThread::FetchMessage(wxS("Client"), wxS("0.95.00")).empty());

    // Just inside the bound it is found; the message is cut at the bound.
    std::string before(VersionCheckThread::kMaxResponseBytes - kMarker.size() - 4, 'y');
    OneShotHttpServer near(before + kMarker + "seen and more");
    VersionCheckThread::SetVersionHostForTesting(near.HostAndPort());
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
    // The worker is over: its connection was closed at once, and no box comes.
    std::string rest;
    EXPECT_TRUE(peer->ReadUntilClosed(rest, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
    bcxtest::PumpFor(100);
    EXPECT_TRUE(dialogs.Dialogs().empty());
}

} // namespace
