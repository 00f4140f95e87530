// The IRC client against a real IRC server (ngircd on loopback), with a raw second client in the channel.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "IrcClientTestSupport.h"
#include "platform/TextCodec.h"
#include "support/Ngircd.h"
#include "support/Pump.h"
#include "support/RawIrcClient.h"

using bcxtest::Ngircd;
using bcxtest::NgircdOptions;
using bcxtest::RawIrcClient;
using irctest::IrcTest;
using irctest::RecordingIrcClient;
using irctest::RecordingOwner;

namespace {

// ngircd delays commands that come quickly one after another: replies are awaited with generous deadlines.
constexpr int kReplyMs = 20000;

class IrcNgircdTest : public IrcTest {
protected:
    void StartServer(const NgircdOptions& options = NgircdOptions())
    {
        mServer = std::make_unique<Ngircd>(options);
        ASSERT_TRUE(mServer->Start()) << mServer->Error() << "\n" << mServer->Log();
    }

    IrcEndpoint Endpoint(const std::string& channel = "#bcx") const
    {
        return IrcEndpoint{"127.0.0.1", mServer->Port(), channel};
    }

    // A raw client registered as nick (and in channel when one is given).
    std::unique_ptr<RawIrcClient> Person(const std::string& nick, const std::string& channel = std::string())
    {
        auto person = std::make_unique<RawIrcClient>();
        EXPECT_TRUE(person->Connect(mServer->Port()));
        EXPECT_TRUE(person->Register(nick, kReplyMs)) << nick;
        if (!channel.empty()) {
            EXPECT_TRUE(person->Join(channel, kReplyMs)) << nick << " " << channel;
        }
        return person;
    }

    std::unique_ptr<Ngircd> mServer;
};

} // namespace

TEST_F(IrcNgircdTest, RegistersJoinsTheGameChannelAndBridgesChatBothWays)
{
    StartServer();
    RecordingOwner owner;
    owner.attached = true;
    owner.gameId = 0x0000BEEF;
    RecordingIrcClient client(&owner, true);

    client.Connect(Endpoint("#bcx"));
    EXPECT_EQ(owner.lines.at(0), bcx::Utf8ToGbk("正在尝试连接至 ") + "127.0.0.1:" + std::to_string(mServer->Port()));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.InChannel(); }, kReplyMs)) << mServer->Log();
    EXPECT_EQ(client.Channel(), "#bcx0x0000BEEF");
    EXPECT_EQ(client.Nick(), "bcxnick1");
    EXPECT_TRUE(owner.HasFragment("Welcome to the Internet Relay Network bcxnick1"));
    EXPECT_TRUE(owner.Has("bcxnick1 joined channel #bcx0x0000BEEF"));
    EXPECT_TRUE(owner.Has("#bcx0x0000BEEF userlist :"));

    auto alice = Person("alice", "#bcx0x0000BEEF");
    bcxtest::ScopedPumpHook hook([&] { alice->Poll(); });
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return owner.Has("alice joined channel #bcx0x0000BEEF"); }, kReplyMs));

    // The other person's chat reaches the game.
    ASSERT_TRUE(alice->Privmsg("#bcx0x0000BEEF", "good luck \x02" "both\x02"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return owner.Has("<alice> good luck both"); }, kReplyMs));
    ASSERT_TRUE(alice->Privmsg("#bcx0x0000BEEF", "\x01" "ACTION cheers\x01"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return owner.Has("* alice cheers"); }, kReplyMs));

    // Chat typed in the game reaches the other person, and is echoed into the game.
    client.Say("gg from the game");
    EXPECT_TRUE(owner.Has("<bcxnick1> gg from the game"));
    client.Emote("waves");
    ASSERT_TRUE(bcxtest::PumpUntil(
        [&] { return alice->FindLine("PRIVMSG #bcx0x0000BEEF :\x01" "ACTION waves\x01") >= 0; }, kReplyMs));
    const int said = alice->FindLine("PRIVMSG #bcx0x0000BEEF :gg from the game");
    ASSERT_GE(said, 0);
    EXPECT_EQ(alice->Lines()[size_t(said)].rfind(":bcxnick1!", 0), 0u);

    // Leaving the channel clears the flag once the server confirms it; then chat sends nothing.
    client.Part();
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !client.InChannel(); }, kReplyMs));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return alice->FindLine(":bcxnick1!") >= 0 &&
                                                alice->FindLine(" PART #bcx0x0000BEEF") >= 0; },
                                   kReplyMs));
    const std::string before = client.written;
    client.Say("nobody hears this");
    EXPECT_EQ(client.written, before);
}

TEST_F(IrcNgircdTest, WithoutAMessageOfTheDayAChineseFirstNickFallsBackAndJoins)
{
    StartServer(NgircdOptions{false, false});
    // The default first nick is the Warcraft III user name, which the server refuses.
    Settings().mUserName = bcx::Utf8ToGbk("观众");
    Settings().mIRCNick1 = bcx::Utf8ToGbk("观众");
    Settings().mIRCNick2 = "";
    Settings().mIRCNick3 = "viewer3";
    RecordingOwner owner;
    RecordingIrcClient client(&owner, true);

    client.Connect(Endpoint("#bcx"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.InChannel(); }, kReplyMs)) << mServer->Log();
    EXPECT_EQ(client.Nick(), "viewer3");
    EXPECT_EQ(client.NickAttempt(), 3);
    EXPECT_EQ(client.Channel(), "#bcx");
    EXPECT_EQ(client.CountWritten("NICK "), 3u);
    EXPECT_EQ(client.CountWritten("USER "), 1u);
    EXPECT_TRUE(owner.Has("viewer3 joined channel #bcx"));
}

TEST_F(IrcNgircdTest, NickCollisionsWithRegisteredNicksEndOnTheThirdNickThenARandomOne)
{
    StartServer();
    auto holder1 = Person("bcxnick1");
    auto holder2 = Person("bcxnick2");
    bcxtest::ScopedPumpHook hook([&] {
        holder1->Poll();
        holder2->Poll();
    });

    RecordingOwner owner;
    {
        RecordingIrcClient client(&owner, true);
        client.Connect(Endpoint());
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.InChannel(); }, kReplyMs)) << mServer->Log();
        EXPECT_EQ(client.Nick(), "bcxnick3");
        EXPECT_TRUE(owner.HasFragment("bcxnick1 : Nickname already in use"));
        EXPECT_TRUE(owner.HasFragment("bcxnick2 : Nickname already in use"));
        client.Close("done");
    }

    // With the third nick taken too, the client ends on a "bcxuser" nick.
    auto holder3 = Person("bcxnick3");
    bcxtest::ScopedPumpHook hook3([&] { holder3->Poll(); });
    RecordingIrcClient client(&owner, true);
    client.Connect(Endpoint());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.InChannel(); }, kReplyMs)) << mServer->Log();
    EXPECT_EQ(client.Nick().rfind("bcxuser", 0), 0u) << client.Nick();
    EXPECT_EQ(client.CountWritten("NICK "), 4u);
}

TEST_F(IrcNgircdTest, SurvivesSeveralServerPings)
{
    StartServer(NgircdOptions{true, true});
    RecordingOwner owner;
    RecordingIrcClient client(&owner, true);
    client.Connect(Endpoint());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.InChannel(); }, kReplyMs)) << mServer->Log();
    auto alice = Person("alice", "#bcx");
    bcxtest::ScopedPumpHook hook([&] { alice->Poll(); });

    // The server pings after 5 s of silence and drops a client that does not answer within 5 s more.
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.CountWritten("PONG ") >= 3; },
                                   3 * 4 * Ngircd::kShortPingSeconds * 1000))
        << mServer->Log();
    EXPECT_TRUE(client.HasSocket());
    EXPECT_TRUE(client.InChannel());
    EXPECT_FALSE(owner.HasFragment("Closing connection"));
    EXPECT_FALSE(owner.HasFragment("Ping timeout"));

    // Still in the channel for the others.
    ASSERT_TRUE(alice->Privmsg("#bcx", "still there?"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return owner.Has("<alice> still there?"); }, kReplyMs));
}

TEST_F(IrcNgircdTest, CloseIsSeenByTheOthersAsQuitWithTheReason)
{
    StartServer();
    RecordingOwner owner;
    auto client = std::make_unique<RecordingIrcClient>(&owner, true);
    client->Connect(Endpoint());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client->InChannel(); }, kReplyMs)) << mServer->Log();
    auto alice = Person("alice", "#bcx");
    bcxtest::ScopedPumpHook hook([&] { alice->Poll(); });
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return owner.Has("alice joined channel #bcx"); }, kReplyMs));

    client->Close("back to the game");
    EXPECT_EQ(owner.lines.back(), "Closing connection: back to the game");
    std::string quit;
    ASSERT_TRUE(alice->WaitForLine(" QUIT ", kReplyMs, &quit));
    EXPECT_EQ(quit.rfind(":bcxnick1!", 0), 0u) << quit;
    // ngircd passes a client's own quit reason on in double quotes.
    EXPECT_NE(quit.find(" QUIT :\"back to the game\""), std::string::npos) << quit;

    // And the other way round: another person's quit reaches the game.
    client.reset();
    RecordingIrcClient second(&owner, true);
    second.Connect(Endpoint());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return second.InChannel(); }, kReplyMs));
    ASSERT_TRUE(alice->Quit("off to bed"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return owner.HasFragment("alice quit: "); }, kReplyMs));
    EXPECT_TRUE(owner.HasFragment("off to bed"));
}
