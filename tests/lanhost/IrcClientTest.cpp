// The IRC client's line handling, fed with server bytes directly (no socket), and its socket path against
// a plain loopback peer.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IrcClientTestSupport.h"
#include "platform/Random.h"
#include "platform/TextCodec.h"
#include "support/LogCapture.h"
#include "support/Loopback.h"
#include "support/Pump.h"

using irctest::IrcTest;
using irctest::RecordingIrcClient;
using irctest::RecordingOwner;

namespace {

void Feed(IrcClient& client, const std::string& bytes)
{
    client.HandleReceived(bytes.data(), bytes.size());
}

// "bcxuser" and a number from 0 to 65535.
bool IsRandomNick(const std::string& nick)
{
    return std::regex_match(nick, std::regex("bcxuser[0-9]{1,5}")) && std::stoi(nick.substr(7)) < 65536;
}

// A client that has registered as "me" and joined #chan.
void JoinAs(RecordingIrcClient& client, const std::string& channel = "#chan")
{
    Feed(client, ":irc.test 001 me :Welcome me\r\n");
    client.Join(channel);
    Feed(client, ":me!u@h JOIN :" + channel + "\r\n");
}

} // namespace

// --------------------------------------------------------------------------------------------------
// Line splitting

TEST_F(IrcTest, TwoLinesInOneReadAreHandledAndACutThirdWaitsForTheNextRead)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, "PING :one\r\nPING :two\r\nPING :th");
    EXPECT_EQ(client.written, "PONG one\nPONG two\n");
    EXPECT_EQ(client.BufferedLength(), 8u);

    Feed(client, "ree\r\n");
    EXPECT_EQ(client.written, "PONG one\nPONG two\nPONG three\n");
    EXPECT_EQ(client.BufferedLength(), 0u);
}

TEST_F(IrcTest, RunsOfLineEndsEndOneLineAndEmptyLinesAreSkipped)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, "\r\n\r\nPING :a\n\r\r\nPING :b\rPING :c\n");
    EXPECT_EQ(client.written, "PONG a\nPONG b\nPONG c\n");
    // A line end split between two reads ends no further line.
    Feed(client, "PING :d\r");
    Feed(client, "\nPING :e\r\n");
    EXPECT_EQ(client.written, "PONG a\nPONG b\nPONG c\nPONG d\nPONG e\n");
    EXPECT_TRUE(owner.lines.empty());
}

TEST_F(IrcTest, AnEmbeddedNulKeepsTheLineAndTheRestOfTheRead)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    const std::string bytes("PING :a\0b\r\nPING :c\r\n", 20);
    Feed(client, bytes);
    EXPECT_EQ(client.written, std::string("PONG a\0b\nPONG c\n", 16));
}

TEST_F(IrcTest, AnOverlongLineWithoutLineEndIsDiscardedWithALogLineAndTheNextLineIsHandled)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);
    bcxtest::LogCapture log;

    // 5000 bytes of one line whose tail would read as a command of its own.
    std::string longLine = ":x!y@z PRIVMSG #chan :" + std::string(IrcClient::kReceiveCapacity, 'a');
    longLine.resize(IrcClient::kReceiveCapacity + 100 - 7);
    longLine += "PING :t";
    ASSERT_EQ(longLine.size(), IrcClient::kReceiveCapacity + 100);

    // Fed in pieces, as reads would bring it.
    Feed(client, longLine.substr(0, 3000));
    EXPECT_FALSE(log.Contains("[irc] discarded"));
    Feed(client, longLine.substr(3000));
    EXPECT_EQ(log.Count("[irc] discarded a server line that does not fit the 4096-byte receive buffer"), 1u);
    EXPECT_LT(client.BufferedLength(), IrcClient::kReceiveCapacity);

    Feed(client, "\r\nPING :after\r\n");
    // Neither the discarded line nor its tail was handled; the next line was.
    EXPECT_EQ(client.written, "PONG after\n");
    EXPECT_TRUE(owner.lines.empty());
    EXPECT_EQ(client.BufferedLength(), 0u);

    // The longest line that fits, with its line end in the same read, is still handled.
    client.written.clear();
    std::string fits = "PING :" + std::string(IrcClient::kReceiveCapacity - 7, 'b');
    Feed(client, fits + "\n");
    EXPECT_EQ(client.written, "PONG " + fits.substr(6) + "\n");
}

// --------------------------------------------------------------------------------------------------
// Server lines

TEST_F(IrcTest, PingIsAnsweredWithPongAndTheText)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, "PING :abc\r\n");
    EXPECT_EQ(client.written, "PONG abc\n");
    client.written.clear();
    Feed(client, ":irc.test PING :irc.test\r\n");
    EXPECT_EQ(client.written, "PONG irc.test\n");
    EXPECT_TRUE(owner.lines.empty());
}

TEST_F(IrcTest, CtcpActionVersionAndPlainPrivmsgAreForwarded)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, ":alice!a@host PRIVMSG #chan :\x01" "ACTION waves at \x02you\x02\x01\r\n");
    Feed(client, ":alice!a@host PRIVMSG me :\x01VERSION\x01\r\n");
    Feed(client, ":alice!a@host PRIVMSG me :\x01PING 12345\x01\r\n");
    Feed(client, ":alice!a@host PRIVMSG #chan :\x03" "04red\x03 and \x02" "bold\x02: yes\r\n");
    Feed(client, ":bob PRIVMSG #chan :no user part\r\n");

    ASSERT_EQ(owner.lines.size(), 5u);
    EXPECT_EQ(owner.lines[0], "* alice waves at you");
    // Without arguments the closing 0x01 stays in the command and the text is empty.
    EXPECT_EQ(owner.lines[1], std::string("*(VERSION\x01) alice "));
    EXPECT_EQ(owner.lines[2], "*(PING) alice 12345");
    EXPECT_EQ(owner.lines[3], "<alice> 04red and bold: yes");
    EXPECT_EQ(owner.lines[4], "<bob> no user part");
    // Nothing is answered to a CTCP request.
    EXPECT_TRUE(client.written.empty());
}

TEST_F(IrcTest, ANamesReplyOfThirteenNamesGivesAHeaderAndLinesOfSixSixAndOne)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, ":irc.test 353 me = #chan :@op a b c d e f g h i j k l\r\n");
    ASSERT_EQ(owner.lines.size(), 4u);
    EXPECT_EQ(owner.lines[0], "#chan userlist :");
    EXPECT_EQ(owner.lines[1], "[@op] [a] [b] [c] [d] [e] ");
    EXPECT_EQ(owner.lines[2], "[f] [g] [h] [i] [j] [k] ");
    EXPECT_EQ(owner.lines[3], "[l] ");

    owner.lines.clear();
    Feed(client, ":irc.test 353 me = #chan :a b c d e f \r\n");
    ASSERT_EQ(owner.lines.size(), 2u);
    EXPECT_EQ(owner.lines[1], "[a] [b] [c] [d] [e] [f] ");
}

TEST_F(IrcTest, OwnJoinAndPartSetAndClearTheChannelFlagOthersAreReported)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, ":irc.test 001 Me :Welcome to the test network\r\n");
    EXPECT_EQ(client.Nick(), "Me");
    EXPECT_EQ(owner.lines.back(), "Welcome to the test network");

    client.Join("#chan");
    EXPECT_EQ(client.written, "JOIN #chan\n");
    EXPECT_FALSE(client.InChannel());
    Feed(client, ":alice!a@h JOIN :#chan\r\n");
    EXPECT_FALSE(client.InChannel());
    EXPECT_EQ(owner.lines.back(), "alice joined channel #chan");
    // The own nick is compared without case.
    Feed(client, ":mE!u@h JOIN :#chan\r\n");
    EXPECT_TRUE(client.InChannel());
    EXPECT_EQ(owner.lines.back(), "mE joined channel #chan");

    const size_t before = owner.lines.size();
    Feed(client, ":alice!a@h PART #chan :bye all\r\n");
    EXPECT_TRUE(client.InChannel());
    EXPECT_EQ(owner.lines.back(), "alice left channel bye all");
    Feed(client, ":me!u@h PART #chan :me\r\n");
    EXPECT_FALSE(client.InChannel());
    EXPECT_EQ(owner.lines.size(), before + 1);  // the own PART prints nothing

    Feed(client, ":alice!a@h QUIT :Client closed\r\n");
    EXPECT_EQ(owner.lines.back(), "alice quit: Client closed");
    Feed(client, ":alice!a@h NICK :alicia\r\n");
    EXPECT_EQ(owner.lines.back(), "* alice is now known as alicia");
}

TEST_F(IrcTest, NoticesTopicIgnoredNumericsAndOtherLines)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    Feed(client, ":irc.test NOTICE AUTH :*** Looking up your hostname\r\n");
    Feed(client, ":irc.test NOTICE me :Connection statistics\r\n");
    for (const char* numeric : {"372", "002", "003", "004", "005", "251", "252", "253", "254", "255", "333",
                                "366", "375"})
        Feed(client, std::string(":irc.test ") + numeric + " me x :ignored\r\n");
    Feed(client, ":irc.test 332 me #chan :\x02Today\x02: \x03" "finals\r\n");
    Feed(client, ":irc.test 265 me 1 1 :Current local users: 1, Max: 1\r\n");
    Feed(client, "ERROR :Closing connection\r\n");

    ASSERT_EQ(owner.lines.size(), 4u);
    EXPECT_EQ(owner.lines[0], "*** Looking up your hostname");
    EXPECT_EQ(owner.lines[1], "Topic is \"Today: finals\"");
    EXPECT_EQ(owner.lines[2], "265 me 1 1 :Current local users: 1, Max: 1");
    EXPECT_EQ(owner.lines[3], "ERROR :Closing connection");
}

// --------------------------------------------------------------------------------------------------
// Registration and nicks

TEST_F(IrcTest, RegistrationSendsTheFirstNickAndTheUserLine)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);
    client.SetEndpoint({"127.0.0.1", 6667, "#brawlcast"});
    Settings().mIRCNick1 = "Streamer[1]";

    client.HandleConnection();
    EXPECT_EQ(client.NickAttempt(), 1);
    EXPECT_EQ(client.Nick(), "Streamer[1]");
    EXPECT_EQ(client.written, "NICK Streamer[1]\n"
                              "USER streamer1 \"brawlcast\" \"127.0.0.1\" :bcx -- viewer -- (Brawlcast - Client 0.95.00)\n");
}

TEST_F(IrcTest, TheUserFieldIsUsableWhenTheFirstNickIsChineseOrEmpty)
{
    RecordingOwner owner;
    for (const std::string& nick : {bcx::Utf8ToGbk("观众"), std::string()}) {
        RecordingIrcClient client(&owner);
        Settings().mIRCNick1 = nick;
        client.HandleConnection();
        const auto lines = client.WrittenLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "NICK " + nick);
        EXPECT_EQ(lines[1].rfind("USER bcxuser \"brawlcast\" ", 0), 0u) << lines[1];
    }
}

TEST_F(IrcTest, NickRefusalsWalkThroughTheConfiguredNicksThenADifferentRandomOneEachTime)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(1234);

    client.HandleConnection();
    client.written.clear();

    Feed(client, ":irc.test 433 * bcxnick1 :Nickname already in use\r\n");
    EXPECT_EQ(client.written, "NICK bcxnick2\n");
    EXPECT_EQ(client.NickAttempt(), 2);
    EXPECT_EQ(owner.lines.back(), "* bcxnick1 : Nickname already in use");

    client.written.clear();
    Feed(client, ":irc.test 432 * bcxnick2 :Erroneous nickname\r\n");
    EXPECT_EQ(client.written, "NICK bcxnick3\n");
    EXPECT_EQ(client.NickAttempt(), 3);

    client.written.clear();
    Feed(client, ":irc.test 431 * :No nickname given\r\n");
    const std::string first = client.Nick();
    EXPECT_TRUE(IsRandomNick(first)) << first;
    EXPECT_EQ(client.written, "NICK " + first + "\n");

    // A NICK refused for its syntax moves on too.
    client.written.clear();
    Feed(client, ":irc.test 461 * NICK :Syntax error\r\n");
    EXPECT_TRUE(IsRandomNick(client.Nick())) << client.Nick();
    EXPECT_EQ(client.written, "NICK " + client.Nick() + "\n");
    EXPECT_NE(client.Nick(), first);

    // 461 for another command is an ordinary line.
    client.written.clear();
    Feed(client, ":irc.test 461 * USER :Syntax error\r\n");
    EXPECT_TRUE(client.written.empty());
    EXPECT_EQ(owner.lines.back(), "461 * USER :Syntax error");

    // Refusals within one millisecond still draw a different random nick each time.
    std::vector<std::string> nicks;
    for (int refusal = 0; refusal < 7; ++refusal) {
        Feed(client, ":irc.test 433 * " + client.Nick() + " :Nickname already in use\r\n");
        nicks.push_back(client.Nick());
    }
    for (size_t i = 1; i < nicks.size(); ++i)
        EXPECT_NE(nicks[i], nicks[i - 1]) << i;
    std::sort(nicks.begin(), nicks.end());
    EXPECT_GE(std::unique(nicks.begin(), nicks.end()) - nicks.begin(), 6);
}

TEST_F(IrcTest, EndOfMotdAndMissingMotdJoinTheAutomaticChannel)
{
    RecordingOwner owner;
    {
        RecordingIrcClient client(&owner);
        client.SetEndpoint({"127.0.0.1", 6667, "#brawlcast"});
        Feed(client, ":irc.test 422 me :MOTD File is missing\r\n");
        EXPECT_EQ(client.written, "JOIN #brawlcast\n");
        EXPECT_EQ(client.Channel(), "#brawlcast");
    }
    {
        owner.attached = true;
        owner.gameId = 0x00AB12CD;
        RecordingIrcClient client(&owner);
        client.SetEndpoint({"127.0.0.1", 6667, "#bcx"});
        Feed(client, ":irc.test 376 me :End of MOTD command\r\n");
        EXPECT_EQ(client.written, "JOIN #bcx0x00AB12CD\n");
        EXPECT_EQ(client.Channel(), "#bcx0x00AB12CD");
        // A second end of the MOTD parts the current channel first.
        client.written.clear();
        Feed(client, ":irc.test 376 me :End of MOTD command\r\n");
        EXPECT_EQ(client.written, "PART #bcx0x00AB12CD\nJOIN #bcx0x00AB12CD\n");
    }
}

// --------------------------------------------------------------------------------------------------
// Chat, actions, channel commands

TEST_F(IrcTest, SayAndEmoteOnlyInTheChannelWithTheOwnLineEchoedByTheSetting)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    client.Say("too early");
    client.Emote("too early");
    EXPECT_TRUE(client.written.empty());
    EXPECT_TRUE(owner.lines.empty());

    JoinAs(client);
    client.written.clear();
    owner.lines.clear();

    client.Say("hello channel");
    EXPECT_EQ(client.written, "PRIVMSG #chan :hello channel\n");
    EXPECT_EQ(owner.lines.back(), "<me> hello channel");

    Settings().mEchoOwnIRCChat = 0;
    client.written.clear();
    owner.lines.clear();
    client.Say("quiet");
    EXPECT_EQ(client.written, "PRIVMSG #chan :quiet\n");
    EXPECT_TRUE(owner.lines.empty());

    // The action is always shown in the game.
    client.written.clear();
    client.Emote("cheers");
    EXPECT_EQ(client.written, "PRIVMSG #chan :\x01" "ACTION cheers\x01\n");
    ASSERT_EQ(owner.lines.size(), 1u);
    EXPECT_EQ(owner.lines[0], "* me cheers");
}

TEST_F(IrcTest, ALineEndInsideATextCannotStartASecondCommand)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);
    JoinAs(client);
    client.written.clear();

    client.Say("hi\r\nQUIT :forged");
    client.Join("#other\nPRIVMSG nickserv :x");
    EXPECT_EQ(client.written, "PRIVMSG #chan :hi\nPART #chan\nJOIN #other\n");
}

TEST_F(IrcTest, JoinPartsTheCurrentChannelAndPartForgetsIt)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    client.Part();
    EXPECT_TRUE(client.written.empty());
    client.Join("#one");
    client.Join("#two");
    EXPECT_EQ(client.written, "JOIN #one\nPART #one\nJOIN #two\n");
    client.written.clear();
    client.Part();
    EXPECT_EQ(client.written, "PART #two\n");
    EXPECT_TRUE(client.Channel().empty());
    client.Part();
    EXPECT_EQ(client.written, "PART #two\n");
}

TEST_F(IrcTest, StripIrcControlCodesRemovesOnlyTheThreeCodes)
{
    std::string text = "\x01" "a\x02" "b\x03" "c\x04" "d\x0F";
    StripIrcControlCodes(text);
    EXPECT_EQ(text, "abc\x04" "d\x0F");
}

// --------------------------------------------------------------------------------------------------
// Connection set-up and closing

TEST_F(IrcTest, AnEmptyHostOrPortZeroClosesWithTheReasonAndNoAssertion)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner);

    client.Connect({"", 6667, "#c"});
    EXPECT_FALSE(client.HasSocket());
    ASSERT_EQ(owner.lines.size(), 2u);
    EXPECT_EQ(owner.lines[0], bcx::Utf8ToGbk("正在尝试连接至 ") + ":6667");
    EXPECT_EQ(owner.lines[1], "Closing connection: Invalid hostname specified");

    owner.lines.clear();
    client.Connect({"127.0.0.1", 0, "#c"});
    EXPECT_FALSE(client.HasSocket());
    ASSERT_EQ(owner.lines.size(), 2u);
    EXPECT_EQ(owner.lines[0], bcx::Utf8ToGbk("正在尝试连接至 ") + "127.0.0.1:0");
    EXPECT_EQ(owner.lines[1], "Closing connection: Invalid port specified");

    // Without its Warcraft III socket the owner is not told.
    owner.lines.clear();
    owner.gameSocket = false;
    client.Connect({"", 6667, "#c"});
    EXPECT_EQ(owner.lines.size(), 1u);
}

TEST_F(IrcTest, ARefusedConnectionIsReportedAsLost)
{
    RecordingOwner owner;
    RecordingIrcClient client(&owner, true);
    client.Connect({"127.0.0.1", bcxtest::FreeTcpPort(), "#c"});
    EXPECT_TRUE(client.HasSocket());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !client.HasSocket(); }));
    EXPECT_EQ(owner.lines.back(), "Closing connection: connection lost");
}

TEST_F(IrcTest, OverLoopbackRegistersReadsEverythingAndClosesWithQuit)
{
    bcxtest::LoopbackListener listener;
    ASSERT_TRUE(listener.Listen());
    RecordingOwner owner;
    auto client = std::make_unique<RecordingIrcClient>(&owner, true);
    client->Connect({"127.0.0.1", listener.Port(), "#chan"});
    auto peer = listener.Accept();
    ASSERT_TRUE(peer);

    // A second connect while connected is refused, naming the registered command.
    client->Connect({"127.0.0.1", listener.Port(), "#chan"});
    EXPECT_EQ(owner.lines.back(), bcx::Utf8ToGbk("错误,已经连接. 请先使用 /shut 命令."));

    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client->NickAttempt() == 1; }));
    std::string got;
    while (got.find(")\n") == std::string::npos) {
        const std::string chunk = peer->ReadSome(65536, 2000);
        ASSERT_FALSE(chunk.empty());
        got += chunk;
    }
    EXPECT_EQ(got, "NICK bcxnick1\nUSER bcxnick1 \"brawlcast\" \"127.0.0.1\" :bcx -- viewer -- "
                   "(Brawlcast - Client 0.95.00)\n");

    // Far more than one read's worth at once: every line is answered, although the toolkit announces
    // the input only once.
    std::string burst;
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        burst += "PING :" + std::to_string(i) + "\r\n";
        expected += "PONG " + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(peer->WriteAll(burst));
    std::string pongs;
    ASSERT_TRUE(bcxtest::PumpUntil(
        [&] {
            pongs += peer->ReadSome(65536, 1);
            return pongs.size() >= expected.size();
        },
        10000));
    EXPECT_EQ(pongs, expected);

    ASSERT_TRUE(peer->WriteAll(":irc 376 bcxnick1 :End\r\n:bcxnick1!u@h JOIN :#chan\r\n"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return client->InChannel(); }));

    client->Close("see you");
    EXPECT_FALSE(client->HasSocket());
    EXPECT_FALSE(client->InChannel());
    EXPECT_TRUE(client->Channel().empty());
    EXPECT_EQ(owner.lines.back(), "Closing connection: see you");
    std::string tail;
    EXPECT_TRUE(peer->ReadUntilClosed(tail, 2000));
    EXPECT_EQ(tail, "JOIN #chan\nQUIT :see you\n");

    // Closed: nothing is sent any more; the destructor does not close a second time.
    client->Say("nobody hears this");
    owner.lines.clear();
    client.reset();
    EXPECT_TRUE(owner.lines.empty());
}

TEST_F(IrcTest, ThePeerClosingIsReportedAndTheDestructorQuitsAnOpenConnection)
{
    bcxtest::LoopbackListener listener;
    ASSERT_TRUE(listener.Listen());
    RecordingOwner owner;
    {
        RecordingIrcClient client(&owner, true);
        auto peer = ConnectAndRegister(client, listener);
        ASSERT_TRUE(peer);
        // The peer reads what it was sent (so that its close is orderly), says a last line and closes.
        std::string got;
        while (got.find(")\n") == std::string::npos) {
            const std::string chunk = peer->ReadSome(65536, 2000);
            ASSERT_FALSE(chunk.empty());
            got += chunk;
        }
        ASSERT_TRUE(peer->WriteAll(":irc.test NOTICE AUTH :last words\r\n"));
        peer->Close();
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return !client.HasSocket(); }));
        ASSERT_GE(owner.lines.size(), 2u);
        EXPECT_EQ(owner.lines[owner.lines.size() - 2], "last words");
        EXPECT_EQ(owner.lines.back(), "Closing connection: connection lost");

        // The same object connects again, with a new receive buffer.
        client.Connect({"127.0.0.1", listener.Port(), "#chan"});
        auto second = listener.Accept();
        ASSERT_TRUE(second);
        ASSERT_TRUE(second->WriteAll("PING :again\r\n"));
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return client.CountWritten("PONG again") == 1; }));
        EXPECT_TRUE(client.HasSocket());
    }
    {
        auto client = std::make_unique<RecordingIrcClient>(&owner, true);
        auto peer = ConnectAndRegister(*client, listener);
        ASSERT_TRUE(peer);
        client.reset();
        std::string all;
        EXPECT_TRUE(peer->ReadUntilClosed(all, 2000));
        EXPECT_NE(all.find("QUIT :BRAWLCAST! IRC session ended automatically.\n"), std::string::npos) << all;
        EXPECT_EQ(owner.lines.back(), "Closing connection: BRAWLCAST! IRC session ended automatically.");
    }
}

TEST_F(IrcTest, AServerThatStopsReadingClosesTheSessionWithALogAndAChatLine)
{
    bcxtest::LogCapture log;
    bcxtest::LoopbackListener listener;
    ASSERT_TRUE(listener.Listen());
    RecordingOwner owner;
    RecordingIrcClient client(&owner, true);
    auto peer = ConnectAndRegister(client, listener);
    ASSERT_TRUE(peer);
    JoinAs(client);
    ASSERT_TRUE(client.InChannel());

    // The peer never reads: the kernel buffers fill, then the send queue passes its bound.
    const std::string text(60000, 'x');
    for (int line = 0; line < 1000 && client.HasSocket(); ++line)
        client.Say(text);
    EXPECT_FALSE(client.HasSocket());
    EXPECT_FALSE(client.InChannel());
    EXPECT_TRUE(owner.Has("Closing connection: connection lost (send queue full)"));
    EXPECT_EQ(log.Count("[irc] the server does not take what we send"), 1u);

    // Closed like a lost connection: nothing more goes out, and a new connect is possible.
    const size_t written = client.written.size();
    client.Say("after the close");
    EXPECT_EQ(client.written.size(), written);
    client.Connect({"127.0.0.1", listener.Port(), "#chan"});
    EXPECT_TRUE(client.HasSocket());
}
