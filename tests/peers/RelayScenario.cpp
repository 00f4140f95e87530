#include "peers/RelayScenario.h"

#include <algorithm>
#include <sstream>

namespace bcxtest {
namespace {

bool ParseNumber(const std::string& s, uint32_t& v)
{
    if (s.empty())
        return false;
    size_t pos = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        pos = 2;
        base = 16;
    }
    uint64_t r = 0;
    for (; pos < s.size(); ++pos) {
        char ch = s[pos];
        int d;
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            d = ch - 'A' + 10;
        else
            return false;
        r = r * base + d;
        if (r > 0xFFFFFFFFull)
            return false;
    }
    v = static_cast<uint32_t>(r);
    return true;
}

// The rest of the line after `words` whitespace-separated words.
std::string Rest(const std::string& line, size_t words)
{
    size_t pos = 0;
    for (size_t i = 0; i < words; ++i) {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string::npos)
            return "";
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string::npos)
            return "";
    }
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string::npos)
        return "";
    size_t end = line.find_last_not_of(" \t\r");
    return line.substr(pos, end - pos + 1);
}

} // namespace

bool ParseRelayScenario(const std::string& text, RelayScenario& out, std::string& error)
{
    out = RelayScenario();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(number) + ": " + what;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        std::istringstream words(line);
        std::string cmd;
        if (!(words >> cmd) || cmd[0] == '#')
            continue;
        std::vector<std::string> args;
        for (std::string w; words >> w;)
            args.push_back(w);
        auto num = [&](size_t i, uint32_t& v) { return i < args.size() && ParseNumber(args[i], v); };
        auto game = [&](uint32_t id) -> RelayGame* {
            for (RelayGame& g : out.games)
                if (g.id == id)
                    return &g;
            return nullptr;
        };

        if (cmd == "title" || cmd == "motd") {
            (cmd == "title" ? out.title : out.motd) = Rest(line, 1);
            continue;
        }
        uint32_t id = 0;
        if (!num(0, id))
            return fail("game id expected");
        if (cmd == "finished" || cmd == "live" || cmd == "announced") {
            uint32_t n = 0;
            if (!num(1, n) || (cmd != "announced" && n > 1000000))
                return fail("number expected");
            if (game(id))
                return fail("game defined twice");
            std::string name = Rest(line, 3);
            if (cmd == "finished")
                out.games.push_back(TestRelayServer::MakeFinished1v1(id, n, name));
            else if (cmd == "live")
                out.games.push_back(TestRelayServer::MakeLive1v1(id, n, name));
            else
                out.games.push_back(TestRelayServer::MakeAnnounced1v1(id, n, name));
            continue;
        }
        RelayGame* g = game(id);
        if (!g)
            return fail("unknown game");
        if (cmd == "players") {
            g->info.players = Rest(line, 2);
        } else if (cmd == "publisher") {
            g->info.publisher = Rest(line, 2);
        } else if (cmd == "state") {
            uint32_t v = 0;
            if (!num(1, v) || v > 255)
                return fail("state byte expected");
            g->state = static_cast<uint8_t>(v);
        } else if (cmd == "start") {
            uint32_t at = 0;
            if (!num(1, at))
                return fail("time expected");
            out.actions.push_back({RelayTimedAction::Start, id, at});
        } else if (cmd == "grow") {
            uint32_t every = 0, count = 0;
            if (!num(1, every) || !num(2, count) || every == 0 || count > 1000000)
                return fail("interval and count expected");
            bool finish = args.size() > 3 && args[3] == "finish";
            if (args.size() > 3 && !finish)
                return fail("'finish' or nothing expected after the count");
            for (uint32_t k = 1; k <= count; ++k)
                out.actions.push_back({RelayTimedAction::Append, id, every * k});
            if (finish)
                out.actions.push_back({RelayTimedAction::Finish, id, every * count});
        } else {
            return fail("unknown command '" + cmd + "'");
        }
    }
    std::stable_sort(out.actions.begin(), out.actions.end(),
                     [](const RelayTimedAction& a, const RelayTimedAction& b) { return a.atMs < b.atMs; });
    return true;
}

void ApplyRelayScenario(const RelayScenario& scenario, TestRelayServer& server)
{
    for (const RelayGame& g : scenario.games)
        server.AddGame(g);
    if (!scenario.title.empty())
        server.LogonAnswer().title = scenario.title;
    if (!scenario.motd.empty())
        server.LogonAnswer().motd = scenario.motd;
}

size_t RunDueRelayActions(const RelayScenario& scenario, size_t& next, uint32_t elapsedMs,
                          TestRelayServer& server)
{
    size_t done = 0;
    for (; next < scenario.actions.size() && scenario.actions[next].atMs <= elapsedMs; ++next, ++done) {
        const RelayTimedAction& a = scenario.actions[next];
        switch (a.kind) {
        case RelayTimedAction::Append:
            server.AppendDefaultEntries(a.gameId, 1);
            break;
        case RelayTimedAction::Finish:
            server.Finish(a.gameId);
            break;
        case RelayTimedAction::Start:
            server.StartGame(a.gameId);
            break;
        }
    }
    return done;
}

} // namespace bcxtest
