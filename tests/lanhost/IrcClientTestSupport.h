#pragma once
// Shared pieces of the IRC client tests: an owner that records the lines printed into the game, an
// IrcClient that records what it writes, and the client core with the settings the tests need.

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/ClientCore.h"
#include "lanhost/IrcClient.h"
#include "platform/ProgramClock.h"
#include "platform/Registry.h"
#include "support/Loopback.h"
#include "support/Pump.h"

namespace irctest {

class RecordingOwner : public IrcClientOwner {
public:
    void ForwardLineToGame(const std::string& gbkText) override { lines.push_back(gbkText); }
    bool HasGameSocket() const override { return gameSocket; }
    bool IsAttachedToGame() const override { return attached; }
    uint32_t AttachedGameId() const override { return gameId; }

    bool Has(const std::string& line) const
    {
        for (const std::string& l : lines)
            if (l == line)
                return true;
        return false;
    }
    bool HasFragment(const std::string& fragment) const
    {
        for (const std::string& l : lines)
            if (l.find(fragment) != std::string::npos)
                return true;
        return false;
    }

    std::vector<std::string> lines;
    bool gameSocket = true;
    bool attached = false;
    uint32_t gameId = 0;
};

// Records every byte the client writes. With passThrough the bytes also go to the real socket.
class RecordingIrcClient : public IrcClient {
public:
    explicit RecordingIrcClient(IrcClientOwner* owner, bool passThrough = false)
        : IrcClient(owner), mPassThrough(passThrough)
    {
    }

    std::string written;

    // The written lines without their "\n".
    std::vector<std::string> WrittenLines() const
    {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = written.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(written.substr(start, end - start));
        return lines;
    }
    size_t CountWritten(const std::string& prefix) const
    {
        size_t count = 0;
        for (const std::string& l : WrittenLines())
            if (l.compare(0, prefix.size(), prefix) == 0)
                ++count;
        return count;
    }

protected:
    void WriteBytes(const std::string& bytes) override
    {
        written += bytes;
        if (mPassThrough)
            IrcClient::WriteBytes(bytes);
    }

private:
    bool mPassThrough;
};

// Creates the client core (once per process; it can never be created again after its destruction) on a
// configuration that binds no fixed port, and gives it the IRC settings of the tests.
class IrcTest : public testing::Test {
protected:
    void SetUp() override
    {
        bcx::SetFakeRegistryForTesting(false, std::nullopt);
        {
            std::ofstream out("bcxClient.ini", std::ios::binary);
            out << "[Net]\nDatagramPort=0\n";
        }
        ClientCore* core = ClientCore::Get();
        ASSERT_NE(core, nullptr);
        ClientSettings& s = core->Settings();
        s.mUserName = "viewer";
        s.mIRCNick1 = "bcxnick1";
        s.mIRCNick2 = "bcxnick2";
        s.mIRCNick3 = "bcxnick3";
        s.mEchoOwnIRCChat = 1;
    }

    void TearDown() override
    {
        bcx::ProgramClock::SetManual(false);
        bcx::ClearFakeRegistryForTesting();
    }

    ClientSettings& Settings() { return ClientCore::Get()->Settings(); }

    // Connects the client to the listener and returns the accepted far end once the client has sent its
    // first nick; null when that did not happen in time.
    static std::unique_ptr<bcxtest::LoopbackConnection> ConnectAndRegister(RecordingIrcClient& client,
                                                                          bcxtest::LoopbackListener& listener)
    {
        client.Connect({"127.0.0.1", listener.Port(), "#chan"});
        auto peer = listener.Accept();
        if (!peer || !bcxtest::PumpUntil([&] { return client.NickAttempt() == 1; }))
            return nullptr;
        return peer;
    }
};

} // namespace irctest
