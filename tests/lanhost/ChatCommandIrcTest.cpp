// The IRC commands typed in Warcraft III against a real IRC server (ngircd on loopback): /ircinit connects
// to the endpoint the relay announced at logon and joins the game's channel, chat crosses both ways,
// /me, /part, /join and /shut with its quit reason as the other people in the channel see them.

#include <memory>
#include <string>
#include <vector>

#include "ChatCommandTestSupport.h"
#include "core/ClientCore.h"
#include "peers/TestRelayServer.h"
#include "platform/TextCodec.h"
#include "support/Ngircd.h"
#include "support/RawIrcClient.h"
#include "support/WxLoopback.h"

namespace {

using Lines = std::vector<std::string>;
using bcxtest::PumpUntil;

// ngircd delays commands that come quickly one after another: replies are awaited with generous deadlines.
constexpr int kReplyMs = 20000;
const std::string kChannel = "#bcx0x0000BEEF";

class ChatCommandIrcTest : public cmdtest::ChatCommandTest {
protected:
    void SetUp() override
    {
        cmdtest::ChatCommandTest::SetUp();
        if (HasFatalFailure())
            return;
        ClientSettings& settings = core->Settings();
        settings.mUserName = "tester";
        settings.mPassword = "secret";
        settings.mUseAutomaticServer = 1;
        settings.mIRCNick1 = "viewer1";
        settings.mIRCNick2 = "viewer2";
        settings.mIRCNick3 = "viewer3";
        settings.mEchoOwnIRCChat = 1;
    }

    // Starts ngircd and a relay that announces it, and logs the client core on to the relay.
    void StartServersAndLogOn()
    {
        server = std::make_unique<bcxtest::Ngircd>();
        ASSERT_TRUE(server->Start()) << server->Error() << "\n" << server->Log();
        relay.LogonAnswer().ircServer = "127.0.0.1";
        relay.LogonAnswer().ircPort = server->Port();
        relay.LogonAnswer().ircChannel = "#bcx";
        ASSERT_TRUE(relay.Start());
        relayHook = std::make_unique<bcxtest::ScopedPumpHook>([this] { relay.Poll(); });
        core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
        ASSERT_TRUE(PumpUntil([&] { return core->GetRelayState() == RelayLoggedOn; }));
        ASSERT_EQ(core->GetIrcPort(), server->Port());
    }

    // A second person on the IRC server, in channel.
    std::unique_ptr<bcxtest::RawIrcClient> Person(const std::string& nick, const std::string& channel)
    {
        auto person = std::make_unique<bcxtest::RawIrcClient>();
        EXPECT_TRUE(person->Connect(server->Port()));
        EXPECT_TRUE(person->Register(nick, kReplyMs)) << nick;
        EXPECT_TRUE(person->Join(channel, kReplyMs)) << nick << " " << channel;
        return person;
    }

    bool InChannel(LanClient* client, const std::string& channel)
    {
        return client->mIrcClient && client->mIrcClient->InChannel() && client->mIrcClient->Channel() == channel;
    }

    std::unique_ptr<bcxtest::Ngircd> server;
    bcxtest::TestRelayServer relay;
    std::unique_ptr<bcxtest::ScopedPumpHook> relayHook;
};

} // namespace

TEST_F(ChatCommandIrcTest, IrcinitJoinsTheGameChannelAndTheCommandsDriveTheBridge)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    StartServersAndLogOn();
    if (HasFatalFailure())
        return;
    const std::string port = std::to_string(server->Port());

    // /ircinit: the connection is announced through the IRC sender; the game's channel is joined.
    EXPECT_EQ(Type("/irc"), Lines{"[Irc]" + bcx::Utf8ToGbk("正在尝试连接至 ") + "127.0.0.1:" + port});
    ASSERT_NE(client->mIrcClient, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return InChannel(client, kChannel); }, kReplyMs)) << server->Log();
    ASSERT_TRUE(PumpUntil([&] { return HasChat("[Irc]viewer1 joined channel " + kChannel); }));
    EXPECT_EQ(Type("/ircinit"), Lines{"A chat interface has already been initialised, use shut first."});

    auto alice = Person("alice", kChannel);
    bcxtest::ScopedPumpHook aliceHook([&] { alice->Poll(); });
    ASSERT_TRUE(PumpUntil([&] { return HasChat("[Irc]alice joined channel " + kChannel); }, kReplyMs));

    // The channel's chat reaches Warcraft III; chat typed in the game reaches the channel.
    ASSERT_TRUE(alice->Privmsg(kChannel, "hello viewer"));
    ASSERT_TRUE(PumpUntil([&] { return HasChat("[Irc]<alice> hello viewer"); }, kReplyMs));
    wc3.SendChat("gg from the game");
    ASSERT_TRUE(PumpUntil([&] { return alice->FindLine("PRIVMSG " + kChannel + " :gg from the game") >= 0; },
                          kReplyMs));
    const std::string said = alice->Lines()[size_t(alice->FindLine(" :gg from the game"))];
    EXPECT_EQ(said.rfind(":viewer1!", 0), 0u) << said;
    EXPECT_TRUE(HasChat("[Irc]<viewer1> gg from the game"));

    // /me sends an action.
    wc3.SendChat("/me waves  at you");
    ASSERT_TRUE(PumpUntil(
        [&] { return alice->FindLine("PRIVMSG " + kChannel + " :\x01" "ACTION waves  at you\x01") >= 0; }, kReplyMs));
    ASSERT_TRUE(PumpUntil([&] { return HasChat("[Irc]* viewer1 waves  at you"); }));

    // /part leaves the channel; plain chat then has nowhere to go.
    EXPECT_EQ(Type("/p"), Lines{});
    ASSERT_TRUE(PumpUntil([&] { return !client->mIrcClient->InChannel(); }, kReplyMs));
    ASSERT_TRUE(PumpUntil([&] { return alice->FindLine(" PART " + kChannel) >= 0; }, kReplyMs));
    EXPECT_EQ(Type("anyone there?"), Lines{"No chat interface to talk to"});

    // /join another channel, where alice follows.
    EXPECT_EQ(Type("/j #other"), Lines{});
    ASSERT_TRUE(PumpUntil([&] { return InChannel(client, "#other"); }, kReplyMs));
    ASSERT_TRUE(alice->Join("#other", kReplyMs));
    ASSERT_TRUE(PumpUntil([&] { return HasChat("[Irc]alice joined channel #other"); }, kReplyMs));

    // /shut quits with the comment as the reason.
    EXPECT_EQ(Type("/shut see you later"), Lines{"[Irc]Closing connection: see you later"});
    EXPECT_EQ(client->mIrcClient, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return alice->FindLine(" QUIT ") >= 0; }, kReplyMs));
    const std::string quit = alice->Lines()[size_t(alice->FindLine(" QUIT "))];
    EXPECT_EQ(quit.rfind(":viewer1!", 0), 0u) << quit;
    EXPECT_NE(quit.find("see you later"), std::string::npos) << quit;

    // Without an IRC client the IRC commands are silent.
    for (const char* line : {"/me hi", "/part", "/join #x", "/shut", "/shut again"})
        EXPECT_EQ(Type(line), Lines{}) << line;
    EXPECT_EQ(Type("hello?"), Lines{"No chat interface to talk to"});

    // After /shut, /ircinit connects again.
    EXPECT_EQ(Type("/ircinit"), Lines{"[Irc]" + bcx::Utf8ToGbk("正在尝试连接至 ") + "127.0.0.1:" + port});
    ASSERT_TRUE(PumpUntil([&] { return InChannel(client, kChannel); }, kReplyMs)) << server->Log();
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}

TEST_F(ChatCommandIrcTest, WithoutAnIrcEndpointIrcinitReportsTheInvalidHostname)
{
    LanClient* client = JoinLobby();
    ASSERT_NE(client, nullptr);
    // Not logged on to a relay: the core holds no IRC endpoint.
    ASSERT_TRUE(core->GetIrcServer().empty());
    const Lines refused = {"[Irc]" + bcx::Utf8ToGbk("正在尝试连接至 ") + ":0",
                           "[Irc]Closing connection: Invalid hostname specified"};
    EXPECT_EQ(Type("/ircinit"), refused);
    ASSERT_NE(client->mIrcClient, nullptr);
    EXPECT_FALSE(client->mIrcClient->HasSocket());
    EXPECT_EQ(Type("/ircinit"), Lines{"A chat interface has already been initialised, use shut first."});
    EXPECT_EQ(Type("/me still here"), Lines{});
    EXPECT_EQ(Type("plain chat"), Lines{"No chat interface to talk to"});
    EXPECT_EQ(Type("/shut"), Lines{});
    EXPECT_EQ(client->mIrcClient, nullptr);
    EXPECT_EQ(Type("/ircinit"), refused);
}

TEST_F(ChatCommandIrcTest, EndToEndInARunningGameSpeedTimeIrcAndChat)
{
    ReplaceGameData(1200);
    LanClient* client = JoinAndLoad();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(wc3.Loaded());
    StartServersAndLogOn();
    if (HasFatalFailure())
        return;

    // Typed in the running game (in-game chat messages), answered in the in-game form.
    EXPECT_EQ(Type("/speed 2"), Lines{"New Replayspeed is 2.00."});
    EXPECT_EQ(wc3.Chats().back().flag, 0x20);
    const uint32_t start = client->mGameTime;
    for (int i = 0; i < 10; ++i)
        TickHost();
    EXPECT_GE(client->mGameTime - start, 1800u);

    EXPECT_EQ(Type("/time"), Lines{});
    TickHost();
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("Game time ") == 1; }));

    Type("/ircinit");
    ASSERT_TRUE(PumpUntil([&] { return InChannel(client, kChannel); }, kReplyMs)) << server->Log();
    auto alice = Person("alice", kChannel);
    bcxtest::ScopedPumpHook aliceHook([&] { alice->Poll(); });
    wc3.SendChat("gl hf from the game");
    ASSERT_TRUE(PumpUntil([&] { return alice->FindLine("PRIVMSG " + kChannel + " :gl hf from the game") >= 0; },
                          kReplyMs));
    ASSERT_TRUE(alice->Privmsg(kChannel, "thanks"));
    ASSERT_TRUE(PumpUntil([&] { return CountChatHolding("<alice> thanks") == 1; }, kReplyMs));
    EXPECT_EQ(wc3.Chats().back().flag, 0x20);
    EXPECT_TRUE(wc3.ProtocolErrors().empty());
}
