// The relay session of ClientCore against our test relay server over loopback TCP: handshake, logon,
// status notifications, game list, subscription and download, recorded-game file, failures, reconnect
// and the resume of a broken download.

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/socket.h>
#include <wx/timer.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/LanSession.h"
#include "peers/TestRelayServer.h"
#include "platform/ProgramClock.h"
#include "support/ClientEventRecorder.h"
#include "support/LogCapture.h"
#include "support/Loopback.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "support/WxLoopback.h"
#include "tests/core/RecordTestBytes.h"

namespace {

using bcxtest::Utf8;
using bcxtest::PumpUntil;
using bcxtest::TestRelayServer;
using R = TestRelayServer;
using bcxtest::ConnectionScript;
using bcxtest::LogonRefusal;
using bcxtest::RelayDataFault;
using bcxtest::RelayGame;

std::string Fmt(const char* format, unsigned a, int b = 0)
{
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// A LAN game host stand-in whose client flag the test sets.
class WatchSession : public LanSession {
public:
    WatchSession(Game* game, bool client) : mGame(game), mClient(client) {}
    Game* GetGame() override { return mGame; }
    bool HasClient() const override { return mClient; }
    const sockaddr_in* PendingRequester() const override { return nullptr; }
    void ClearPendingRequester() override {}
    void SendServerInfo(const sockaddr_in&) override {}

private:
    Game* mGame;
    bool mClient;
};

// Every entry of a GameData, in order.
std::vector<bcxtest::RelayEntry> EntriesOf(const GameData& data)
{
    std::vector<bcxtest::RelayEntry> out;
    GameDataCursor cursor;
    for (uint32_t guard = 0; guard < 1000000; ++guard) {
        uint32_t time = 0, length = 0;
        const uint8_t* bytes = nullptr;
        if (data.Next(cursor, time, length, bytes, 0, GameData::kNoLimit) != 0)
            break;
        out.push_back({time, std::string(reinterpret_cast<const char*>(bytes), length)});
    }
    return out;
}

bool SameEntries(const std::vector<bcxtest::RelayEntry>& a, const std::vector<bcxtest::RelayEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].time != b[i].time || a[i].bytes != b[i].bytes)
            return false;
    return true;
}

class RelaySessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\n";
        core = ClientCore::Get();
        ASSERT_NE(core, nullptr);
        core->Settings().mUserName = "tester";
        core->Settings().mPassword = "secret";
        core->SetStatusTarget(&status);
        core->SetGameListTarget(&gameList);
        core->SetServerMessageHook([this](const wxString& text) { messages.push_back(Utf8(text)); });
        core->SetSessionFactory([this](Game* game) {
            return new WatchSession(game, watched.count(game->mId) > 0);
        });
        ASSERT_TRUE(relay.Start());
        hook = std::make_unique<bcxtest::ScopedPumpHook>([this] { relay.Poll(); });
    }

    void TearDown() override
    {
        hook.reset();
        if (core) {
            core->SetStatusTarget(nullptr);
            core->SetGameListTarget(nullptr);
            ClientCore::Get(true);
        }
    }

    void Connect() { core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1")); }

    // Connects the client to a relay of our own on raw sockets (the test decides how its bytes reach the
    // client) and reads the client's protocol word there.
    void ConnectToRawRelay(bcxtest::LoopbackListener& listener, std::unique_ptr<bcxtest::LoopbackConnection>& peer)
    {
        ASSERT_TRUE(listener.Listen());
        core->Connect(bcxtest::LoopbackWxAddress(listener.Port()), wxS("127.0.0.1"));
        peer = listener.Accept();
        ASSERT_NE(peer, nullptr);
        ASSERT_TRUE(WaitState(RelayHandshake));
        std::string word;
        ASSERT_TRUE(peer->ReadExact(word, 4));
        EXPECT_EQ(word, std::string("\x00\x03\x00\x01", 4));
    }

    // The reconnect timer's event, as the timer delivers it when its delay has passed.
    void FireReconnectTimer()
    {
        wxTimer timer;
        wxTimerEvent tick(timer);
        core->OnReconnectTimer(tick);
    }

    bool WaitState(RelayState state, int ms = 5000)
    {
        return PumpUntil([&] { return core->GetRelayState() == state; }, ms);
    }

    bool LogOn()
    {
        Connect();
        return WaitState(RelayLoggedOn);
    }

    // Waits until the game has its info from the relay.
    Game* WaitGameInfo(uint32_t id)
    {
        PumpUntil([&] {
            Game* game = core->GetGame(id);
            return game && game->mInfo;
        });
        return core->GetGame(id);
    }

    bool WaitDownload(uint32_t id, uint32_t state, int ms = 5000)
    {
        return PumpUntil([&] {
            Game* game = core->GetGame(id);
            return game && game->mDownloadState == state;
        }, ms);
    }

    // The status notifications (1000) that reached the status target, as "state:text".
    std::vector<std::string> StatusLine()
    {
        std::vector<std::string> out;
        for (const auto& e : status.WithId(ClientEventRelayState))
            out.push_back(std::to_string(e.value) + ":" + e.text);
        return out;
    }

    bcxtest::LogCapture log;
    bcxtest::ClientEventRecorder status;
    bcxtest::ClientEventRecorder gameList;
    TestRelayServer relay;
    std::unique_ptr<bcxtest::ScopedPumpHook> hook;
    ClientCore* core = nullptr;
    std::vector<std::string> messages;
    std::set<uint32_t> watched;
};

// ---------------------------------------------------------------------------------------------------
// Handshake and logon

TEST_F(RelaySessionTest, HappyPathSendsTheExactBytesAndReportsEveryState)
{
    relay.LogonAnswer().withNews = true;
    relay.LogonAnswer().newsPage = "http://localhost/news/today";
    relay.LogonAnswer().newsFlags = 5;
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(PumpUntil([&] { return !relay.ClientFrames(0x20).empty(); }));
    bcxtest::PumpOnce(0);

    const auto& clientLog = relay.ClientLog();
    ASSERT_GE(clientLog.size(), 4u);
    EXPECT_EQ(clientLog[0].kind, TestRelayServer::ClientFrame::Handshake);
    EXPECT_EQ(clientLog[0].raw, std::string("\x00\x03\x00\x01", 4));
    EXPECT_EQ(clientLog[1].raw, R::MakeFrame(0x00, R::U8(1) + R::U32(0x01000500)));
    EXPECT_EQ(clientLog[1].raw, std::string("\xEF\xBE\x00\x0A\x00\x01\x00\x05\x00\x01", 10));
    EXPECT_EQ(clientLog[2].raw, R::MakeFrame(0x01, R::Str("Brawlcast - Client") + R::U32(0x00005F00) + R::U8(1) +
                                                       R::U32(0x01000500) + R::Str("tester") + R::Str("secret")));
    EXPECT_EQ(clientLog[3].raw, R::MakeFrame(0x20, R::U32(0xDEADC0DE)));
    ASSERT_EQ(relay.Logons().size(), 1u);
    EXPECT_TRUE(relay.Logons()[0].complete);

    EXPECT_EQ(StatusLine(), (std::vector<std::string>{"1:正在连接...", "2:握手...", "3:协商...", "3:批准...",
                                                      "4:已登陆"}));
    // The news come before the logged-on state.
    const auto& events = status.Events();
    size_t news = events.size(), loggedOn = events.size();
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].id == ClientEventNews && news == events.size())
            news = i;
        if (events[i].id == ClientEventRelayState && events[i].value == RelayLoggedOn)
            loggedOn = i;
    }
    ASSERT_LT(news, events.size());
    EXPECT_LT(news, loggedOn);
    EXPECT_EQ(core->GetNewsUrl(), "http://localhost/news/today");
    EXPECT_EQ(core->GetNewsFlags(), 5);
    EXPECT_EQ(core->GetNewsWidth(), 400);
    EXPECT_EQ(core->GetNewsHeight(), 300);
    // The game-list target hears the states too.
    EXPECT_EQ(gameList.Count(ClientEventRelayState), 5u);

    EXPECT_EQ(Utf8(core->GetServerInfoText()), "Title:\tTest relay\n\nVersion:\tTest Relay v1.05.00\n\nURL:\t"
                                               "http://localhost/\n\nMotD:\tWelcome to the test relay");
    EXPECT_EQ(core->GetIrcServer(), "localhost");
    EXPECT_EQ(core->GetIrcPort(), 6667);
    EXPECT_EQ(core->GetIrcChannel(), "#brawlcast");
    EXPECT_TRUE(log.Contains("[svr] 连接至127.0.0.1"));
    EXPECT_TRUE(log.Contains("[svr] 已登陆."));
    EXPECT_TRUE(log.Contains("[svr] 刷新游戏列表..."));
}

TEST_F(RelaySessionTest, LogonWithoutNewsPostsNoNewsAndTheIrcEndpointComesFromTheSettings)
{
    core->Settings().mUseAutomaticServer = 0;
    core->Settings().mIRCServerName = "irc.local";
    core->Settings().mIRCServerPort = 7000;
    core->Settings().mIRCAutoChannel = "#own";
    ASSERT_TRUE(LogOn());
    bcxtest::PumpOnce(0);
    EXPECT_EQ(status.Count(ClientEventNews), 0u);
    EXPECT_EQ(core->GetIrcServer(), "irc.local");
    EXPECT_EQ(core->GetIrcPort(), 7000);
    EXPECT_EQ(core->GetIrcChannel(), "#own");
}

TEST_F(RelaySessionTest, ConnectWhileNotDisconnectedDoesNothing)
{
    Connect();
    Connect();
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    Connect();
    bcxtest::PumpFor(50);
    EXPECT_EQ(relay.AcceptedCount(), 1u);
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);
}

TEST_F(RelaySessionTest, ProtocolWordWithAnotherPatchIsAccepted)
{
    ConnectionScript patch;
    patch.handshakeWord = 0x01000307;
    relay.ScriptConnection(1, patch);
    ConnectionScript split;
    split.handshake = ConnectionScript::Handshake::Split;
    relay.ScriptConnection(2, split);
    ASSERT_TRUE(LogOn());
    core->Disconnect(true, wxS("连接已断开"));
    ASSERT_TRUE(LogOn());
    EXPECT_EQ(relay.AcceptedCount(), 2u);
    EXPECT_FALSE(log.Contains("Version mismatch"));
}

TEST_F(RelaySessionTest, ProtocolWordInPiecesIsCollected)
{
    // A relay of our own on raw sockets, so that the pieces reach the client in separate input events.
    bcxtest::LoopbackListener listener;
    std::unique_ptr<bcxtest::LoopbackConnection> peer;
    ASSERT_NO_FATAL_FAILURE(ConnectToRawRelay(listener, peer));

    ASSERT_TRUE(peer->WriteAll(std::string("\x00", 1)));
    bcxtest::PumpFor(40);
    ASSERT_TRUE(peer->WriteAll(std::string("\x03\x00", 2)));
    bcxtest::PumpFor(40);
    EXPECT_EQ(core->GetRelayState(), RelayHandshake);
    ASSERT_TRUE(peer->WriteAll(std::string("\x01", 1)));
    ASSERT_TRUE(WaitState(RelayNegotiate));
    std::string frame;
    ASSERT_TRUE(peer->ReadExact(frame, 10));
    EXPECT_EQ(frame, R::MakeFrame(0x00, R::U8(1) + R::U32(0x01000500)));
    EXPECT_FALSE(log.Contains("Version mismatch"));

    // The relay version answer comes byte by byte too.
    const std::string answer = R::MakeFrame(0x00, R::U32(0x01000500));
    for (char c : answer) {
        ASSERT_TRUE(peer->WriteAll(std::string(1, c)));
        bcxtest::PumpFor(5);
    }
    std::string logon;
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("[svr] 批准..."); }));
    ASSERT_TRUE(peer->ReadExact(logon, 5));
    EXPECT_EQ(static_cast<uint8_t>(logon[2]), 0x01);
}

TEST_F(RelaySessionTest, WritesTheSocketDidNotTakeGoOutOnItsOutputEvents)
{
    bcxtest::LoopbackListener listener;
    std::unique_ptr<bcxtest::LoopbackConnection> peer;
    ASSERT_NO_FATAL_FAILURE(ConnectToRawRelay(listener, peer));

    // The peer reads nothing until the socket buffers are full and the rest waits in the send queue.
    std::string sent;
    for (uint32_t chunk = 0; chunk < 128 && core->RelayQueuedBytes() == 0; ++chunk) {
        std::string bytes(256u * 1024u, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(chunk * 31 + i * 7);
        ASSERT_TRUE(core->SendToRelay(bytes.data(), static_cast<uint32_t>(bytes.size())));
        sent += bytes;
    }
    ASSERT_GT(core->RelayQueuedBytes(), 0u);

    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
        got += peer->ReadSome(1 << 20, 1);
        return got.size() >= sent.size();
    }, 20000)) << got.size() << " of " << sent.size();
    EXPECT_TRUE(got == sent);
    EXPECT_EQ(core->RelayQueuedBytes(), 0u);
}

TEST_F(RelaySessionTest, EventsOfAReplacedSocketAreIgnored)
{
    ASSERT_TRUE(LogOn());
    wxSocketClient other;
    for (wxSocketNotify kind : {wxSOCKET_LOST, wxSOCKET_INPUT, wxSOCKET_CONNECTION, wxSOCKET_OUTPUT}) {
        wxSocketEvent stale(1000);
        stale.m_event = kind;
        stale.SetEventObject(&other);
        core->ProcessEvent(stale);
    }
    bcxtest::PumpFor(20);
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);
    EXPECT_FALSE(log.Contains("连接已断开..."));
}

struct HandshakeFailure {
    const char* name;
    ConnectionScript script;
    const char* logLine;
    const char* statusText;
};

TEST_F(RelaySessionTest, HandshakeFailuresAreFinal)
{
    std::vector<HandshakeFailure> cases;
    {
        ConnectionScript s;
        s.handshakeWord = 0;
        cases.push_back({"user limit", s, "[svr] Userlimit reached, server is full", "0:断开连接: 用户限制连接"});
    }
    {
        ConnectionScript s;
        s.handshakeWord = 0x01000400;
        cases.push_back({"version", s, "[svr] Version mismatch: LogonProt 1.04.00, 1.03.00 needed",
                         "0:Disconnected: Version mismatch"});
    }
    {
        ConnectionScript s;
        s.handshake = ConnectionScript::Handshake::CloseBeforeWord;
        cases.push_back({"closed during the handshake", s, "[svr] Invalid logon protocol or userlimit reached",
                         "0:断开连接: 用户限制连接"});
    }
    {
        ConnectionScript s;
        s.relayVersion = 0x01000600;
        cases.push_back({"relay version", s, "[svr] Relayversion 1.05.00 not supported by server",
                         "0:Disconnected: Version mismatch"});
    }
    {
        ConnectionScript s;
        s.refusal.kind = LogonRefusal::Reason;
        s.refusal.text = "Bad %s account";
        cases.push_back({"logon refused", s, "[svr] Bad %s account", "0:Disconnected: Bad %s account"});
    }
    for (size_t i = 0; i < cases.size(); ++i)
        relay.ScriptConnection(i + 1, cases[i].script);

    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        status.Clear();
        // A manual connect after a refused one works like the first.
        Connect();
        ASSERT_TRUE(PumpUntil([&] { return relay.AcceptedCount() == i + 1; }));
        ASSERT_TRUE(PumpUntil([&] { return status.Count(ClientEventRelayState) >= 3 &&
                                           core->GetRelayState() == RelayDisconnected; }));
        bcxtest::PumpOnce(0);
        EXPECT_TRUE(log.Contains(cases[i].logLine));
        ASSERT_FALSE(StatusLine().empty());
        EXPECT_EQ(StatusLine().back(), cases[i].statusText);
        EXPECT_FALSE(core->IsReconnectPending());
        EXPECT_TRUE(log.Contains("[svr] 连接已断开..."));
    }
}

TEST_F(RelaySessionTest, ServerClosingEarlyEndsTheAttemptAndAfterTheWordIsALostConnection)
{
    ConnectionScript onAccept;
    onAccept.closeOnAccept = true;
    relay.ScriptConnection(1, onAccept);
    ConnectionScript afterWord;
    afterWord.handshake = ConnectionScript::Handshake::CloseAfterWord;
    relay.ScriptConnection(2, afterWord);

    // Closed before the client saw its connect complete ("not found") or during the handshake (user
    // limit): either way no attempt is left for a connection that never got established.
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return relay.AcceptedCount() == 1 && core->GetRelayState() == RelayDisconnected &&
                                       (log.Contains("Invalid logon protocol or userlimit reached") ||
                                        log.Contains("[svr] 没有找到服务器")); }));
    EXPECT_FALSE(core->IsReconnectPending());

    Connect();
    ASSERT_TRUE(PumpUntil([&] { return relay.AcceptedCount() == 2 && core->GetRelayState() == RelayDisconnected &&
                                       log.Contains("[svr] 连接丢失"); }));
    // The word had matched: the connection was lost after the handshake and is retried.
    EXPECT_TRUE(log.Contains("[svr] 协商..."));
    EXPECT_TRUE(core->IsReconnectPending());
}

TEST_F(RelaySessionTest, LostConnectionReconnectsToTheSameAddressAfterTheDelay)
{
    core->Settings().mAutoReconnect = 5;
    relay.AddGame(R::MakeFinished1v1(0x10, 3));
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(PumpUntil([&] { return core->GetGame(0x10) != nullptr; }));
    relay.CloseConnection(1);
    ASSERT_TRUE(WaitState(RelayDisconnected));
    EXPECT_TRUE(log.Contains("[svr] 连接丢失"));
    EXPECT_TRUE(log.Contains("[svr] 30秒后尝试再次连接 ( 剩余 5 尝试 )"));
    EXPECT_TRUE(core->IsReconnectPending());
    // The relay games are gone with the connection.
    EXPECT_EQ(core->GetGame(0x10), nullptr);
    bcxtest::PumpOnce(0);
    EXPECT_EQ(StatusLine().back(), "0:连接丢失");

    // The timer fires: the same address, logged with the stored server name.
    FireReconnectTimer();
    EXPECT_TRUE(log.Contains("[svr] 重新连接至127.0.0.1"));
    ASSERT_TRUE(WaitState(RelayLoggedOn));
    EXPECT_EQ(relay.AcceptedCount(), 2u);
    EXPECT_EQ(core->GetRetriesLeft(), 5u);
}

TEST_F(RelaySessionTest, RefusedReconnectsCountDownTheRetries)
{
    core->Settings().mAutoReconnect = 2;
    core->SetReconnectDelayForTesting(10);
    ASSERT_TRUE(LogOn());
    relay.StopListening();
    relay.CloseConnection(1);
    ASSERT_TRUE(WaitState(RelayDisconnected));
    // Two attempts against a closed port, then no more.
    ASSERT_TRUE(PumpUntil([&] { return log.Count("[svr] 没有找到服务器") >= 2 && !core->IsReconnectPending() &&
                                       core->GetRelayState() == RelayDisconnected; }));
    EXPECT_TRUE(log.Contains("[svr] 30秒后尝试再次连接 ( 剩余 2 尝试 )"));
    EXPECT_TRUE(log.Contains("[svr] 30秒后尝试再次连接 ( 剩余 1 尝试 )"));
    EXPECT_EQ(log.Count("30秒后尝试再次连接"), 2u);
    EXPECT_EQ(core->GetRetriesLeft(), 0u);
}

TEST_F(RelaySessionTest, FramesInOneSegmentAndFramesByteByByteAreAllHandled)
{
    relay.AddGame(R::MakeFinished1v1(0x20, 5));
    relay.AddGame(R::MakeFinished1v1(0x21, 5));
    ConnectionScript slow;
    slow.writeChunk = 1;
    relay.ScriptConnection(1, slow);
    ConnectionScript pinged;
    pinged.injections.push_back({2, R::MakeFrame(0x28, R::U32(7)) + R::MakeFrame(0x28, R::U32(8))});
    relay.ScriptConnection(2, pinged);

    ASSERT_TRUE(LogOn());
    ASSERT_NE(WaitGameInfo(0x21), nullptr);
    EXPECT_NE(WaitGameInfo(0x20), nullptr);

    core->Disconnect(true, wxS("连接已断开"));
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(PumpUntil([&] { return relay.Echoes().size() >= 2; }));
    EXPECT_EQ(relay.Echoes()[0].value, 7u);
    EXPECT_EQ(relay.Echoes()[1].value, 8u);
}

TEST_F(RelaySessionTest, UnknownIdAndBrokenHeaderDropTheConnectionAndReconnect)
{
    core->SetReconnectDelayForTesting(10);
    ConnectionScript unknown;
    unknown.injections.push_back({2, R::MakeFrame(0x99, R::U32(1))});
    relay.ScriptConnection(1, unknown);
    ConnectionScript badMagic;
    badMagic.injections.push_back({2, R::MakeFrame(0x20, R::U32(1), 0xBEEE)});
    relay.ScriptConnection(2, badMagic);
    ConnectionScript shortLength;
    shortLength.injections.push_back({2, std::string("\xEF\xBE\x20\x03\x00", 5)});
    relay.ScriptConnection(3, shortLength);

    Connect();
    ASSERT_TRUE(PumpUntil([&] { return relay.LoggedOn(4) && core->GetRelayState() == RelayLoggedOn; }, 8000));
    EXPECT_TRUE(log.Contains("[svr] Unknown packet 0x99 received!"));
    EXPECT_TRUE(log.Contains("[svr] Trashed response from server in packet 153"));
    EXPECT_TRUE(log.Contains("Broken header received!"));
    EXPECT_EQ(log.Count("[svr] Trashed response from server in packet"), 3u);
    EXPECT_EQ(log.Count("[svr] 重新连接至127.0.0.1"), 3u);
}

TEST_F(RelaySessionTest, ErrorCodesAndTextsGoThroughTheHookAndKeepTheConnection)
{
    ASSERT_TRUE(LogOn());
    const std::vector<std::pair<uint8_t, std::string>> expected = {
        {1, "Error: Login not allowed. You are most likely banned or unknown."},
        {2, "Error: Invalid password."},
        {3, "Error: Packet error. Please report to the Brawlcast dev team. Please attach the log."},
        {4, "Error: Invalid version. Please download the latest Brawlcast client from our website."},
        {5, "Error: You are already logged in. Multiple logins with the same account are disabled."},
        {6, "Error: Out of order packet received. Please report to the Brawlcast dev team. Please attach the log."},
        {7, "Error: Server is full! Try again later!"},
        {8, "Error: Internal server error, report to Brawlcast dev team!"},
        {9, "Error: Out of sequence data block received, report to Brawlcast dev team!"},
        {12, "未知错误 12.发送错误报告给 Brawlcast 团队!"},
    };
    for (const auto& e : expected)
        relay.SendError(1, e.first);
    relay.SendError(1, 0, "Server %s restarts soon");
    // GBK bytes of "服务器维护" (server maintenance).
    relay.SendText(1, "\xB7\xFE\xCE\xF1\xC6\xF7\xCE\xAC\xBB\xA4");
    ASSERT_TRUE(PumpUntil([&] { return messages.size() == expected.size() + 2; }));
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(messages[i], expected[i].second);
    EXPECT_EQ(messages[expected.size()], "Server %s restarts soon");
    EXPECT_EQ(messages[expected.size() + 1], "服务器维护");
    EXPECT_TRUE(log.Contains("[svr] 服务器维护"));
    EXPECT_TRUE(log.Contains("[svr] 未知错误 12.发送错误报告给 Brawlcast 团队!"));
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);

    // Without a hook only the log line.
    core->SetServerMessageHook(nullptr);
    relay.SendError(1, 7);
    ASSERT_TRUE(PumpUntil([&] { return log.Count("Error: Server is full!") == 2; }));
    EXPECT_EQ(messages.size(), expected.size() + 2);
}

TEST_F(RelaySessionTest, LogonRefusedWithAnErrorCodeShowsItsText)
{
    ConnectionScript s;
    s.refusal.kind = LogonRefusal::ErrorCode;
    s.refusal.code = 2;
    relay.ScriptConnection(1, s);
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return !messages.empty() && core->GetRelayState() == RelayDisconnected; }));
    EXPECT_EQ(messages[0], "Error: Invalid password.");
}

TEST_F(RelaySessionTest, DisconnectButtonIsFinalAndSendsNothingWhenDisconnected)
{
    ASSERT_TRUE(LogOn());
    core->Disconnect(true, wxS("连接已断开"));
    EXPECT_EQ(core->GetRelayState(), RelayDisconnected);
    EXPECT_FALSE(core->IsReconnectPending());
    bcxtest::PumpFor(30);
    EXPECT_EQ(StatusLine().back(), "0:连接已断开");
    // Requests on a socket that never connected go nowhere and do not fail loudly.
    const size_t before = relay.ClientLog().size();
    core->RequestGameList();
    Game game(5);
    core->SubscribeGame(&game, true);
    core->UnsubscribeGame(&game);
    core->SubscribeGame(nullptr, true);
    bcxtest::PumpFor(30);
    EXPECT_EQ(relay.ClientLog().size(), before);
    // A second disconnect only logs.
    core->Disconnect(true, wxS("连接已断开"));
    EXPECT_EQ(log.Count("[svr] 连接已断开..."), 2u);
}

// ---------------------------------------------------------------------------------------------------
// Game list

TEST_F(RelaySessionTest, GameListAsksInfoForNewAndBrokenGamesInOneRun)
{
    relay.AddGame(R::MakeFinished1v1(0x31, 2, "first"));
    relay.AddGame(R::MakeFinished1v1(0x32, 2, "second"));
    ASSERT_TRUE(LogOn());
    ASSERT_NE(WaitGameInfo(0x31), nullptr);
    ASSERT_NE(WaitGameInfo(0x32), nullptr);
    EXPECT_EQ(relay.ClientFrames(0x21).size(), 2u);
    EXPECT_EQ(core->GetListWord(), relay.Options().listWord);
    EXPECT_EQ(core->GetGame(0x31)->mName, "first");
    EXPECT_EQ(core->GetGame(0x31)->mKind, 3u);
    EXPECT_EQ(core->GetGame(0x31)->mPlayers, "Alder vs Birch  Obs: Caster");
    EXPECT_EQ(core->GetGame(0x31)->mInfo->mMapPath, "Maps\\FrozenThrone\\(2)EchoIsles.w3x");

    // 0x32 breaks (and its relay now names another map); 0x33 is new; 0x31 is unchanged.
    core->GetGame(0x32)->mDownloadState = DownloadBroken;
    relay.FindGame(0x32)->info.mapPath = "Maps\\other.w3x";
    relay.AddGame(R::MakeFinished1v1(0x33, 2, "third"));
    const size_t before = relay.ClientLog().size();
    core->RequestGameList();
    ASSERT_NE(WaitGameInfo(0x33), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return relay.ClientFrames(0x21).size() == 4; }));
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("[svr] [00000032] got different gameinfo for broken game"); }));
    std::vector<uint32_t> asked;
    std::vector<size_t> positions;
    for (size_t i = before; i < relay.ClientLog().size(); ++i) {
        const auto& f = relay.ClientLog()[i];
        if (f.kind == TestRelayServer::ClientFrame::Frame && f.id == 0x21) {
            asked.push_back(static_cast<uint8_t>(f.raw[5]));
            positions.push_back(i);
        }
    }
    ASSERT_EQ(asked.size(), 2u);
    // Both requests back to back (one write), in the list's order.
    EXPECT_EQ(positions[1], positions[0] + 1);
    EXPECT_EQ(std::set<uint32_t>(asked.begin(), asked.end()), (std::set<uint32_t>{0x32, 0x33}));
}

TEST_F(RelaySessionTest, VanishedGamesAreRemovedOrKeptAsLocal)
{
    relay.AddGame(R::MakeFinished1v1(0x41, 2));
    relay.AddGame(R::MakeFinished1v1(0x42, 2));
    relay.AddGame(R::MakeFinished1v1(0x43, 2));
    ASSERT_TRUE(LogOn());
    ASSERT_NE(WaitGameInfo(0x43), nullptr);
    core->GetGame(0x42)->mDownloadState = DownloadReceiving;
    core->GetGame(0x43)->mDownloadState = DownloadFinished;
    relay.RemoveGame(0x41);
    relay.RemoveGame(0x42);
    relay.RemoveGame(0x43);
    relay.AddGame(R::MakeFinished1v1(0x44, 2));
    core->RequestGameList();
    ASSERT_TRUE(PumpUntil([&] { return core->GetGame(0x44) != nullptr; }));
    EXPECT_EQ(core->GetGame(0x41), nullptr);
    ASSERT_NE(core->GetGame(0x42), nullptr);
    EXPECT_EQ(core->GetGame(0x42)->mState, GameStateLocal);
    ASSERT_NE(core->GetGame(0x43), nullptr);
    EXPECT_EQ(core->GetGame(0x43)->mState, GameStateLocal);
}

TEST_F(RelaySessionTest, GameListOffersTheNewestFinishedGame)
{
    relay.AddGame(R::MakeFinished1v1(0x51, 2)).startTime = 1000;
    relay.AddGame(R::MakeFinished1v1(0x52, 2)).startTime = 2000;
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(PumpUntil([&] { return core->GetSession(0x52) != nullptr; }));
    EXPECT_EQ(core->GetSession(0x51), nullptr);
    EXPECT_EQ(core->GetGame(0x52)->mOffer, LanOfferedAuto);
    EXPECT_EQ(core->GetGame(0x51)->mOffer, LanNotOffered);
}

TEST_F(RelaySessionTest, MalformedGameListsChangeNothing)
{
    RelayGame odd = R::MakeFinished1v1(0x61, 1, "%s%n");
    odd.state = 9;
    relay.AddGame(odd);
    relay.AddGame(R::MakeFinished1v1(0x62, 1));
    relay.Options().listCountOverride = 0x7FFFFFFFu;
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("[svr] Malformed packet 0x20"); }));
    EXPECT_TRUE(log.Contains("[svr] GameList announces 2147483647 games"));
    EXPECT_TRUE(core->Games().empty());
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);

    relay.Options().listCountOverride.reset();
    relay.SendGameList(1);
    ASSERT_TRUE(PumpUntil([&] { return core->GetGame(0x62) != nullptr; }));
    EXPECT_EQ(core->GetGame(0x61)->mState, GameStateBroken);
    EXPECT_EQ(core->GetGame(0x61)->mName, "%s%n");
    EXPECT_TRUE(log.Contains("[g] [00000061] listed state 9 is unknown, shown as broken"));

    // A list whose last entry is cut short neither adds its whole entries nor sweeps the games it lacks.
    std::string body = R::U32(1) + R::U32(0) + R::U32(3) + R::U32(0x71) + R::U8(4) + R::U32(5) + R::Str("ok") +
                       R::U32(0x72) + R::U8(4) + R::U32(6) + std::string("no end");
    relay.SendFrame(1, 0x20, body);
    relay.SendPing(1, 5);
    ASSERT_TRUE(PumpUntil([&] { return !relay.Echoes().empty(); }));
    EXPECT_EQ(core->GetGame(0x71), nullptr);
    EXPECT_EQ(core->Games().size(), 2u);
    EXPECT_EQ(log.Count("[svr] Malformed packet 0x20"), 2u);
}

// ---------------------------------------------------------------------------------------------------
// Subscription and download

TEST_F(RelaySessionTest, SubscriptionRoadEndsInARecordedGameFile)
{
    ASSERT_EQ(mkdir("games", 0700), 0);
    core->Settings().mGamesPath = wxS("games");
    relay.Options().blockBytes = 700;
    RelayGame& rg = relay.AddGame(R::MakeFinished1v1(0x1001, 60, "Alder vs Birch"));
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x1001);
    ASSERT_NE(game, nullptr);

    core->SubscribeGame(game, true);
    EXPECT_EQ(game->mSubscription, SubscriptionDetailsRequested);
    EXPECT_TRUE(log.Contains("[svr] [00001001] Subscribing game详细信息..."));
    ASSERT_TRUE(WaitDownload(0x1001, DownloadFinished));
    EXPECT_TRUE(log.Contains("[svr] [00001001] Subscribed. Awaiting gamedetails..."));
    EXPECT_TRUE(log.Contains("[svr] [00001001] Got GameDetails"));
    EXPECT_TRUE(log.Contains("[svr] [00001001] Details finished. Receiving GameData..."));
    EXPECT_TRUE(log.Contains("[svr] [00001001] Download finished."));
    EXPECT_EQ(game->mSubscription, SubscriptionFinished);
    EXPECT_EQ(game->mState, GameStateFinished);
    ASSERT_NE(game->mDetails, nullptr);
    EXPECT_EQ(game->mDetails->mRandomSeed, rg.details.seed);
    ASSERT_NE(game->mData, nullptr);
    EXPECT_TRUE(game->mData->IsFinished());
    EXPECT_TRUE(SameEntries(EntriesOf(*game->mData), rg.entries));

    // Every block acknowledged with the bytes held after it.
    const auto blocks = relay.ServerFrames(0x26, 1);
    ASSERT_TRUE(PumpUntil([&] { return relay.Acks().size() == blocks.size(); }));
    uint32_t held = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const std::string body = blocks[i].raw.substr(5);
        rectest::Reader r(body);
        r.U32();
        const uint32_t seq = r.U32();
        held += r.U32();
        EXPECT_EQ(relay.Acks()[i].gameId, 0x1001u);
        EXPECT_EQ(relay.Acks()[i].seq, seq);
        EXPECT_EQ(relay.Acks()[i].bytesHeld, held);
    }
    EXPECT_EQ(held, game->mData->Total());
    bcxtest::PumpOnce(0);
    EXPECT_GE(gameList.Count(ClientEventDownload), blocks.size());

    // The recorded game, read back independently.
    std::ifstream in("games/[00001001]Alder vs Birch.bcx", std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::string file(std::istreambuf_iterator<char>(in), {});
    rectest::Reader f(file);
    EXPECT_EQ(f.Raw(24), std::string("Brawlcast recorded game\0", 24));
    EXPECT_EQ(f.U32(), 0x201u);
    EXPECT_EQ(f.U32(), 68u);
    EXPECT_EQ(f.U32(), file.size());
    EXPECT_EQ(f.U32(), 1u);
    EXPECT_EQ(f.U32(), file.size() - 68);
    f.U32();
    EXPECT_EQ(f.U32(), rg.info.product);
    EXPECT_EQ(f.U32(), rg.info.version);
    f.U32();
    EXPECT_EQ(f.U32(), rg.entries.back().time);
    f.U32();
    EXPECT_EQ(f.U32(), 0x00784362u);
    EXPECT_EQ(f.U32(), 0x1001u);
    EXPECT_EQ(f.Str(), "Alder vs Birch");
    EXPECT_EQ(f.Str(), rg.info.players);
    EXPECT_EQ(f.U32(), rg.startTime);
    EXPECT_EQ(f.Str(), rg.info.publisher);
    // Game information.
    EXPECT_EQ(f.U32(), 0x00784362u);
    EXPECT_EQ(f.U32(), rg.info.product);
    EXPECT_EQ(f.U32(), rg.info.version);
    EXPECT_EQ(f.U32(), rg.info.hostCounter);
    EXPECT_EQ(f.U32(), rg.info.entryKey);
    EXPECT_EQ(f.Str(), "Alder vs Birch");
    f.Raw(12);
    EXPECT_EQ(f.U32(), rg.info.infoC);
    EXPECT_EQ(f.Str(), rg.info.mapPath);
    EXPECT_EQ(f.Str(), "Brawlcast");
    EXPECT_EQ(f.U32(), rg.info.infoD);
    EXPECT_EQ(f.U32(), rg.info.infoE);
    f.Raw(12);
    f.U16();
    // Details.
    EXPECT_EQ(f.U32(), 0x00784362u);
    EXPECT_EQ(f.Str(), rg.details.mapPath);
    f.Raw(6 * 4);
    EXPECT_EQ(f.U32(), rg.details.seed);
    f.Raw(2 + 16);
    EXPECT_EQ(f.U8(), rg.details.slotCount);
    f.Raw(12 * 10);
    for (int p = 0; p < 13; ++p) {
        f.U8();
        f.U32();
        EXPECT_EQ(f.Str(), rg.details.players[p].name);
        f.Raw(32);
    }
    f.U8();
    f.Str();
    EXPECT_EQ(f.U32(), rg.details.completeness);
    // Data.
    EXPECT_EQ(f.U32(), 0x00784362u);
    std::vector<bcxtest::RelayEntry> entries;
    while (f.Ok() && f.Left() > 0) {
        bcxtest::RelayEntry e;
        e.time = f.U32();
        e.bytes = f.Raw(f.U32());
        entries.push_back(e);
    }
    EXPECT_TRUE(f.Ok());
    EXPECT_TRUE(SameEntries(entries, rg.entries));
}

TEST_F(RelaySessionTest, AnnouncedGameWaitsForItsStart)
{
    relay.AddGame(R::MakeAnnounced1v1(0x1101, 90));
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x1101);
    ASSERT_NE(game, nullptr);
    core->SubscribeGame(game, true);
    ASSERT_TRUE(WaitDownload(0x1101, DownloadStartAnnounced));
    EXPECT_TRUE(log.Contains("[svr] [00001101] Game starts in 90 seconds"));
    EXPECT_EQ(game->mSecondsToStart, 90u);
    EXPECT_EQ(game->mData, nullptr);
    relay.AppendDefaultEntries(0x1101, 10);
    relay.StartGame(0x1101);
    ASSERT_TRUE(PumpUntil([&] { return game->mData && game->mData->Count() == 10; }));
    EXPECT_EQ(game->mDownloadState, DownloadReceiving);
    relay.Finish(0x1101);
    ASSERT_TRUE(WaitDownload(0x1101, DownloadFinished));
    EXPECT_TRUE(SameEntries(EntriesOf(*game->mData), relay.FindGame(0x1101)->entries));
}

TEST_F(RelaySessionTest, WrongSeedAndWrongFinishCountLeaveTheGameUnfinished)
{
    ASSERT_EQ(mkdir("games", 0700), 0);
    core->Settings().mGamesPath = wxS("games");
    RelayGame seed = R::MakeFinished1v1(0x1201, 5);
    seed.startSeedOverride = 12345;
    relay.AddGame(seed);
    RelayGame count = R::MakeFinished1v1(0x1202, 5);
    count.finishCountDelta = 1;
    relay.AddGame(count);
    ASSERT_TRUE(LogOn());
    Game* a = WaitGameInfo(0x1201);
    Game* b = WaitGameInfo(0x1202);
    ASSERT_TRUE(a && b);
    core->SubscribeGame(a, true);
    core->SubscribeGame(b, true);
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("incorrect number of packets on finish"); }));
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("Invalid seed for game"); }));
    EXPECT_TRUE(log.Contains(Fmt("[svr] Invalid seed for game 0x%08X on start (%d != 12345) !", 0x1201,
                                 static_cast<int>(seed.details.seed))));
    EXPECT_EQ(a->mDownloadState, DownloadDetails);
    EXPECT_EQ(a->mData, nullptr);
    EXPECT_TRUE(log.Contains("[svr] 0x00001202: incorrect number of packets on finish: is=5 should:6"));
    EXPECT_EQ(b->mDownloadState, DownloadReceiving);
    EXPECT_FALSE(b->mData->IsFinished());
    bcxtest::PumpFor(20);
    struct stat st;
    EXPECT_NE(stat("games/[00001202]Alder vs Birch #4610.bcx", &st), 0);
}

struct DataFaultCase {
    const char* name;
    RelayDataFault::Kind kind;
    uint32_t stray;
};

TEST_F(RelaySessionTest, MalformedDataBlocksUnsubscribeButKeepWhatCameBefore)
{
    const std::vector<DataFaultCase> cases = {
        {"entry longer than the rest", RelayDataFault::EntryLengthTooLong, 1},
        {"one stray byte", RelayDataFault::StrayBytes, 1},
        {"seven stray bytes", RelayDataFault::StrayBytes, 7},
    };
    relay.Options().entriesPerBlock = 4;
    for (size_t i = 0; i < cases.size(); ++i) {
        RelayGame g = R::MakeFinished1v1(0x1300 + static_cast<uint32_t>(i), 20);
        g.dataFault.kind = cases[i].kind;
        g.dataFault.block = 1;
        g.dataFault.stray = cases[i].stray;
        g.dataFault.extra = 0x7FFFFFF0u;
        relay.AddGame(g);
    }
    ASSERT_TRUE(LogOn());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const uint32_t id = 0x1300 + static_cast<uint32_t>(i);
        Game* game = WaitGameInfo(id);
        ASSERT_NE(game, nullptr);
        core->SubscribeGame(game, true);
        ASSERT_TRUE(PumpUntil([&] { return !relay.ClientFrames(0x23).empty() &&
                                           relay.ClientFrames(0x23).back().Body() == R::U32(id); }));
        ASSERT_TRUE(PumpUntil([&] { return game->mSubscription == SubscriptionNone; }));
        // The first block (4 entries) stays; the second delivered what was whole before the fault.
        ASSERT_NE(game->mData, nullptr);
        EXPECT_GE(game->mData->Count(), 4u);
        EXPECT_LE(game->mData->Count(), 8u);
        std::vector<bcxtest::RelayEntry> expected(relay.FindGame(id)->entries.begin(),
                                                  relay.FindGame(id)->entries.begin() + game->mData->Count());
        EXPECT_TRUE(SameEntries(EntriesOf(*game->mData), expected));
        // The faulty block is acknowledged too.
        bool acked = false;
        for (const auto& ack : relay.Acks())
            acked |= ack.gameId == id && ack.seq == 2 && ack.bytesHeld == game->mData->Total();
        EXPECT_TRUE(acked);
        EXPECT_TRUE(log.Contains(Fmt("[svr] [%08X] Unsubscribing game...", id)));
    }
    // The frames were whole: the faults are the games', not malformed frames.
    EXPECT_FALSE(log.Contains("[svr] Malformed packet 0x26"));
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);
}

TEST_F(RelaySessionTest, ADataBlockCountingPastItsFrameIsMalformedAndChangesNothing)
{
    // Five blocks of four entries; the last one's byte count runs past its frame.
    relay.Options().entriesPerBlock = 4;
    RelayGame g = R::MakeFinished1v1(0x1310, 20);
    g.dataFault.kind = RelayDataFault::CountLargerThanFrame;
    g.dataFault.block = 4;
    g.dataFault.extra = 1;
    relay.AddGame(g);
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x1310);
    ASSERT_NE(game, nullptr);
    core->SubscribeGame(game, true);
    ASSERT_TRUE(PumpUntil([&] { return log.Contains("incorrect number of packets on finish"); }));
    EXPECT_TRUE(log.Contains("[svr] Malformed packet 0x26"));
    // The frame was dropped: nothing of it stored or acknowledged, the game still subscribed.
    ASSERT_NE(game->mData, nullptr);
    EXPECT_EQ(game->mData->Count(), 16u);
    for (const auto& ack : relay.Acks())
        EXPECT_FALSE(ack.gameId == 0x1310 && ack.seq == 5);
    EXPECT_FALSE(log.Contains(Fmt("[svr] [%08X] Unsubscribing game...", 0x1310)));
    EXPECT_NE(game->mSubscription, SubscriptionNone);
}

TEST_F(RelaySessionTest, MessagesAboutUnknownGamesAreLoggedOrIgnored)
{
    ASSERT_TRUE(LogOn());
    relay.SendFrame(1, 0x22, R::U32(0x999) + R::U8(1));
    relay.SendFrame(1, 0x22, R::U32(0x999) + R::U8(0));
    relay.SendFrame(1, 0x23, R::U32(0x999));
    relay.SendFrame(1, 0x24, R::U32(0x999));
    relay.SendFrame(1, 0x25, R::U32(0x999) + R::U32(1) + R::U32(0) + R::U32(0));
    relay.SendFrame(1, 0x26, R::U32(0x999) + R::U32(1) + R::U32(9) + R::U32(0) + R::U32(0) + std::string(9, 'x'));
    relay.SendFrame(1, 0x27, R::U32(0x999) + R::U32(1));
    relay.SendFrame(1, 0x21, R::U32(0x999));
    relay.SendFrame(1, 0x21, std::string());
    relay.SendPing(1, 0xABCDEF01);
    ASSERT_TRUE(PumpUntil([&] { return !relay.Echoes().empty(); }));
    EXPECT_EQ(relay.Echoes()[0].value, 0xABCDEF01u);
    EXPECT_TRUE(log.Contains("[svr] Game subscription for unknown game received"));
    EXPECT_TRUE(log.Contains("[svr] Game subscription failed"));
    EXPECT_TRUE(log.Contains("[svr] Game unsubscription for unknown game received"));
    EXPECT_TRUE(log.Contains("[svr] [00000999] Got GameDetails"));
    EXPECT_TRUE(relay.Acks().empty());
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);
    EXPECT_EQ(core->GetGame(0x999), nullptr);
}

// ---------------------------------------------------------------------------------------------------
// Resume

TEST_F(RelaySessionTest, WatchedDownloadResumesAfterTheRelayClosedMidFrame)
{
    core->SetReconnectDelayForTesting(10);
    watched.insert(0x2001);
    relay.Options().entriesPerBlock = 5;
    relay.AddGame(R::MakeLive1v1(0x2001, 40));
    // The first connection breaks in the middle of a frame, once some data went out.
    ConnectionScript cut;
    cut.closeMidFrame = 12;
    relay.ScriptConnection(1, cut);

    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x2001);
    ASSERT_NE(game, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return core->GetSession(0x2001) != nullptr; }));
    ASSERT_TRUE(core->IsWatched(0x2001));
    core->SubscribeGame(game, true);
    ASSERT_TRUE(WaitDownload(0x2001, DownloadBroken));
    ASSERT_NE(game->mData, nullptr);
    const uint32_t heldAtBreak = game->mData->Count();
    EXPECT_GT(heldAtBreak, 0u);
    EXPECT_LT(heldAtBreak, 40u);
    GameData* dataBefore = game->mData;
    // The watched game survives the disconnect's sweep.
    EXPECT_EQ(core->GetGame(0x2001), game);

    // Reconnect, log on, the list asks the broken game's info, the resume subscribes again.
    ASSERT_TRUE(PumpUntil([&] { return relay.LoggedOn(2); }));
    ASSERT_TRUE(PumpUntil([&] { return relay.Subscriptions().size() == 2; }));
    EXPECT_TRUE(log.Contains("[svr] [00002001] Resubscribing broken game"));
    EXPECT_EQ(relay.Subscriptions()[1].conn, 2u);
    EXPECT_TRUE(relay.Subscriptions()[1].details);
    ASSERT_TRUE(PumpUntil([&] { return game->mDownloadState == DownloadReceiving && game->mData->Count() == 40; }));
    EXPECT_EQ(game->mData, dataBefore);
    EXPECT_EQ(game->mResumeCursor, nullptr);

    relay.AppendDefaultEntries(0x2001, 15);
    relay.Finish(0x2001);
    ASSERT_TRUE(WaitDownload(0x2001, DownloadFinished));
    EXPECT_EQ(game->mData->Count(), 55u);
    EXPECT_TRUE(SameEntries(EntriesOf(*game->mData), relay.FindGame(0x2001)->entries));
    EXPECT_TRUE(log.Contains("[svr] [00002001] Download finished."));
    // The last acknowledgement on the new connection holds the whole game.
    ASSERT_TRUE(PumpUntil([&] { return !relay.Acks().empty() && relay.Acks().back().bytesHeld == game->mData->Total(); }));
}

TEST_F(RelaySessionTest, WatchedGameThatBrokeBeforeItsDataBeganStartsAfresh)
{
    core->SetReconnectDelayForTesting(600000);
    watched.insert(0x2101);
    relay.AddGame(R::MakeAnnounced1v1(0x2101, 60));
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x2101);
    ASSERT_NE(game, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return core->GetSession(0x2101) != nullptr; }));
    core->SubscribeGame(game, true);
    ASSERT_TRUE(WaitDownload(0x2101, DownloadStartAnnounced));
    GameDetails* details = game->mDetails;

    relay.CloseConnection(1);
    ASSERT_TRUE(WaitDownload(0x2101, DownloadBroken));
    EXPECT_TRUE(core->IsReconnectPending());
    // While the client is away the game starts: the resumed stream announces it with 0 seconds at once.
    relay.AppendDefaultEntries(0x2101, 12);
    relay.StartGame(0x2101);
    relay.Finish(0x2101);

    FireReconnectTimer();
    ASSERT_TRUE(PumpUntil([&] { return relay.Subscriptions().size() == 2; }));
    EXPECT_TRUE(log.Contains("[svr] [00002101] Resubscribing broken game"));
    ASSERT_TRUE(WaitDownload(0x2101, DownloadFinished));
    // The watcher's lobby keeps its details record.
    EXPECT_EQ(game->mDetails, details);
    EXPECT_TRUE(SameEntries(EntriesOf(*game->mData), relay.FindGame(0x2101)->entries));
}

TEST_F(RelaySessionTest, UnwatchedBrokenGameIsNotResubscribed)
{
    core->SetReconnectDelayForTesting(10);
    relay.Options().entriesPerBlock = 3;
    relay.AddGame(R::MakeLive1v1(0x2201, 30));
    ConnectionScript cut;
    cut.closeAfterFrames = 12;
    relay.ScriptConnection(1, cut);
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x2201);
    ASSERT_NE(game, nullptr);
    core->SubscribeGame(game, true);
    ASSERT_TRUE(PumpUntil([&] { return relay.LoggedOn(2) && core->GetRelayState() == RelayLoggedOn; }));
    bcxtest::PumpFor(50);
    // Unwatched: the disconnect swept it away with the other relay games; the new list brings it back.
    EXPECT_EQ(relay.Subscriptions().size(), 1u);
    EXPECT_FALSE(log.Contains("Resubscribing broken game"));
}

TEST_F(RelaySessionTest, DetailsConfirmationKeepsTheRecordsOfAWatchedGame)
{
    watched.insert(0x2301);
    relay.Options().entriesPerBlock = 3;
    relay.AddGame(R::MakeLive1v1(0x2301, 20));
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x2301);
    ASSERT_NE(game, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return core->GetSession(0x2301) != nullptr; }));
    core->SubscribeGame(game, true);
    ASSERT_TRUE(PumpUntil([&] { return game->mData && game->mData->Count() == 20; }));
    GameData* data = game->mData;
    GameDetails* details = game->mDetails;

    // A second subscription with details: the relay streams the game again from its first entry.
    core->SubscribeGame(game, true);
    ASSERT_TRUE(PumpUntil([&] { return relay.ServerFrames(0x24, 1).size() == 2 &&
                                       relay.StreamedEntries(1, 0x2301) == 20 &&
                                       relay.Acks().size() == relay.ServerFrames(0x26, 1).size(); }));
    EXPECT_EQ(game->mData, data);
    EXPECT_EQ(game->mDetails, details);
    EXPECT_EQ(game->mData->Count(), 20u);
    relay.AppendDefaultEntries(0x2301, 4);
    relay.Finish(0x2301);
    ASSERT_TRUE(WaitDownload(0x2301, DownloadFinished));
    EXPECT_EQ(game->mResumeCursor, nullptr);
    EXPECT_TRUE(SameEntries(EntriesOf(*game->mData), relay.FindGame(0x2301)->entries));
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// A hostile relay

TEST_F(RelaySessionTest, FramesCutShortChangeNothingAndAreLogged)
{
    relay.AddGame(R::MakeAnnounced1v1(0x1401, 90));
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x1401);
    ASSERT_NE(game, nullptr);
    core->SubscribeGame(game, true);
    ASSERT_TRUE(WaitDownload(0x1401, DownloadStartAnnounced));
    const std::string players = game->mPlayers;
    const std::string mapPath = game->mDetails->mMapPath;
    const uint32_t seed = game->mDetails->mRandomSeed;

    const std::vector<std::pair<uint8_t, std::string>> cut = {
        {0x25, R::U32(0x1401)},
        {0x25, R::U32(0x1401) + R::U32(seed) + R::U32(0)},
        {0x24, R::U32(0x1401) + R::Str("Maps\\cut.w3x") + R::U32(1)},
        {0x21, R::U32(0x1401) + R::Str("Mallory") + R::Str("pub")},
        {0x22, R::U32(0x1401)},
        {0x23, std::string("\x01\x14", 2)},
        {0x27, R::U32(0x1401)},
        {0x26, R::U32(0x1401) + R::U32(1) + R::U32(8)},
        {0x28, std::string("\x07", 1)},
        {0xF2, R::U8(0)},
        {0xF3, std::string("no end")},
        {0x01, R::U8(0)},
        {0x00, std::string("\x00\x05", 2)},
    };
    for (const auto& frame : cut)
        relay.SendFrame(1, frame.first, frame.second);
    relay.SendPing(1, 9);
    ASSERT_TRUE(PumpUntil([&] { return !relay.Echoes().empty(); }));

    EXPECT_EQ(log.Count("[svr] Malformed packet 0x"), cut.size());
    EXPECT_TRUE(log.Contains("[svr] Malformed packet 0x25 of 9 bytes: its fields run past its end"));
    EXPECT_EQ(game->mSecondsToStart, 90u);
    EXPECT_EQ(game->mDownloadState, DownloadStartAnnounced);
    EXPECT_EQ(game->mSubscription, SubscriptionStartAnnounced);
    EXPECT_EQ(game->mData, nullptr);
    EXPECT_EQ(game->mPlayers, players);
    EXPECT_EQ(game->mDetails->mMapPath, mapPath);
    EXPECT_EQ(game->mDetails->mRandomSeed, seed);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(relay.Echoes().size(), 1u);
    EXPECT_EQ(relay.Echoes()[0].value, 9u);
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);
}

TEST_F(RelaySessionTest, GameDataPastItsBoundBreaksTheDownloadForGood)
{
    // 1200 entries of 61000 bytes: 73 MB, past the 64 MiB a game may hold.
    RelayGame big = R::MakeLive1v1(0x1501, 0);
    for (uint32_t i = 0; i < 1200; ++i)
        big.entries.push_back({i * 100, std::string(61000, static_cast<char>('a' + i % 26))});
    relay.AddGame(big);
    watched.insert(0x1501);
    ASSERT_TRUE(LogOn());
    Game* game = WaitGameInfo(0x1501);
    ASSERT_NE(game, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return core->IsWatched(0x1501); }));
    core->SubscribeGame(game, true);
    ASSERT_TRUE(PumpUntil([&] { return !relay.ClientFrames(0x23).empty(); }, 20000));
    EXPECT_EQ(relay.ClientFrames(0x23).back().Body(), R::U32(0x1501));
    EXPECT_TRUE(log.Contains("[g] [00001501] Game data passed 67108864 bytes: download broken"));
    EXPECT_EQ(game->mDownloadState, DownloadBroken);
    ASSERT_NE(game->mData, nullptr);
    EXPECT_LE(game->mData->Total(), GameData::kMaxTotal);
    EXPECT_GT(game->mData->Total(), GameData::kMaxTotal - 61008);
    ASSERT_TRUE(PumpUntil([&] { return !relay.Acks().empty() && relay.Acks().back().bytesHeld == game->mData->Total(); }));
    EXPECT_EQ(core->GetRelayState(), RelayLoggedOn);

    // Neither the answer to the next list's information request nor a new viewer starts it again.
    core->RequestGameList();
    ASSERT_TRUE(PumpUntil([&] { return relay.ClientFrames(0x21).size() == 2; }, 20000));
    core->SubscribeGame(game, true);
    relay.SendPing(1, 77);
    ASSERT_TRUE(PumpUntil([&] { return !relay.Echoes().empty(); }, 20000));
    EXPECT_EQ(relay.Subscriptions().size(), 1u);
    EXPECT_EQ(log.Count("Game data passed"), 1u);
}

TEST_F(RelaySessionTest, AStalledHandshakeIsDroppedAfterThirtySecondsAndRetried)
{
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(1000);
    ConnectionScript silent;
    silent.handshake = ConnectionScript::Handshake::Silent;
    relay.ScriptConnection(1, silent);
    Connect();
    ASSERT_TRUE(WaitState(RelayHandshake));
    bcx::ProgramClock::Advance(ClientCore::kHandshakeDeadlineMs);
    ASSERT_TRUE(WaitState(RelayDisconnected));
    EXPECT_TRUE(log.Contains("[svr] No logon within 30 s"));
    EXPECT_TRUE(core->IsReconnectPending());
    EXPECT_TRUE(log.Contains("[svr] 30秒后尝试再次连接"));
}

TEST_F(RelaySessionTest, AFrameIncompleteForSixtySecondsDropsTheConnectionAndRetries)
{
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(1000);
    ASSERT_TRUE(LogOn());
    relay.SendRaw(1, std::string("\xEF\xBE\xF3\xFF\xFF", 5) + std::string(100, 'x'));
    // Program time runs on by a second for every pass of the loop, from before the bytes arrive.
    ASSERT_TRUE(PumpUntil([&] {
        bcx::ProgramClock::Advance(1000);
        return core->GetRelayState() == RelayDisconnected;
    }, 10000));
    EXPECT_TRUE(log.Contains("[svr] Packet 0xF3 incomplete for 60 s (105 of 65535 bytes)"));
    EXPECT_TRUE(core->IsReconnectPending());
}
