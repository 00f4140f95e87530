#pragma once
// Shared pieces of the chat command tests: a hosted fixture game joined by the test LAN client, the chat
// command maps filled, and helpers that run a line and collect the system lines that reach Warcraft III,
// without their decoration.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/GameData.h"
#include "lanhost/ChatCommands.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanClient.h"
#include "lanhost/LanFixture.h"
#include "platform/ProgramClock.h"

namespace cmdtest {

using bcxtest::PumpUntil;

class ChatCommandTest : public lantest::HostedGameTest {
protected:
    static constexpr const char* kMarker = "@@end-of-replies@@";

    void SetUp() override
    {
        lantest::HostedGameTest::SetUp();
        if (ChatCommands().empty())
            RegisterChatCommands();
        if (core)
            core->Settings().mQuickStart = 0;
    }

    // Joins and waits until the whole welcome block has arrived. With the map found, the map is validated.
    LanClient* JoinLobby(bcxtest::MapReply reply = bcxtest::MapReply::Found)
    {
        wc3.SetMapReply(reply);
        LanClient* c = JoinAndAttach();
        if (!c)
            return nullptr;
        const bool welcomed = PumpUntil([&] {
            return reply == bcxtest::MapReply::Off ? c->mWelcomeStage >= 1 : c->mWelcomeStage >= 2;
        });
        if (!welcomed)
            return nullptr;
        // Everything sent so far (the welcome block) has arrived once a marker line arrives.
        Collect(c, [] {});
        return c;
    }

    // Runs line through the client's dispatcher and returns the system lines it sent, undecorated.
    std::vector<std::string> Run(LanClient* c, const std::string& line)
    {
        return Collect(c, [&] { c->ExecuteChatLine(line); });
    }

    // Types line in Warcraft III (a W3GS chat message over the connection) and returns the replies.
    // A second typed line, whose reply ends the collection, follows it through the same path.
    std::vector<std::string> Type(const std::string& line)
    {
        const size_t before = wc3.Chats().size();
        wc3.SendChat(line);
        wc3.SendChat(std::string("/set ") + kMarker);
        const std::string end = std::string(kMarker) + " not found";
        size_t at = 0;
        const bool arrived = PumpUntil([&] {
            for (size_t i = before; i < wc3.Chats().size(); ++i)
                if (EndsWith(wc3.Chats()[i].text, end)) {
                    at = i;
                    return true;
                }
            return false;
        });
        EXPECT_TRUE(arrived) << line;
        std::vector<std::string> lines;
        if (!arrived)
            return lines;
        const std::string& endText = wc3.Chats()[at].text;
        const std::string prefix = endText.substr(0, endText.size() - end.size());
        for (size_t i = before; i < at; ++i)
            lines.push_back(Strip(wc3.Chats()[i].text, prefix, std::string()));
        return lines;
    }

    // Runs action, then sends a marker line; returns the undecorated lines that arrived before the marker.
    template <class Action>
    std::vector<std::string> Collect(LanClient* c, Action action)
    {
        const size_t before = wc3.Chats().size();
        action();
        SendSystemMessage(c, std::string(kMarker));
        size_t at = 0;
        const bool arrived = PumpUntil([&] {
            for (size_t i = before; i < wc3.Chats().size(); ++i)
                if (wc3.Chats()[i].text.find(kMarker) != std::string::npos) {
                    at = i;
                    return true;
                }
            return false;
        });
        EXPECT_TRUE(arrived);
        std::vector<std::string> lines;
        if (!arrived)
            return lines;
        const std::string& markerText = wc3.Chats()[at].text;
        const size_t pos = markerText.find(kMarker);
        const std::string prefix = markerText.substr(0, pos);
        const std::string postfix = markerText.substr(pos + std::string(kMarker).size());
        for (size_t i = before; i < at; ++i)
            lines.push_back(Strip(wc3.Chats()[i].text, prefix, postfix));
        return lines;
    }

    // Replaces the fixture game's data by `entries` action messages 100 ms apart (finished or not).
    void ReplaceGameData(uint32_t entries, bool finished = true)
    {
        delete game->mData;
        game->mData = new GameData();
        for (uint32_t i = 0; i < entries; ++i) {
            const std::string m = lantest::ActionMessage(100, static_cast<uint8_t>(1 + i % 2), std::string("\x10\x42", 2));
            game->mData->Append(i * 100, static_cast<uint32_t>(m.size()), reinterpret_cast<const uint8_t*>(m.data()));
        }
        if (finished)
            game->mData->Finish();
    }

    // Joins with QuickStart, completes the lobby, waits until Warcraft III reports the game loaded and
    // ticks until the release has begun. Warcraft III sends no keep-alives (the 30th would bring the
    // players list and the game's info texts between the replies of the commands).
    LanClient* JoinAndLoad()
    {
        core->Settings().mQuickStart = 1;
        wc3.SetAutoKeepAlive(false);
        LanClient* c = lantest::HostedGameTest::JoinAndLoad();
        if (!c || !TickUntil([&] { return c->mGameTime > 0; }, 50))
            return nullptr;
        return c;
    }

    static bool EndsWith(const std::string& text, const std::string& end)
    {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    static std::string Strip(const std::string& text, const std::string& prefix, const std::string& postfix)
    {
        std::string t = text;
        if (t.compare(0, prefix.size(), prefix) == 0)
            t = t.substr(prefix.size());
        if (!postfix.empty() && EndsWith(t, postfix))
            t.resize(t.size() - postfix.size());
        return t;
    }
};

} // namespace cmdtest
