// brawlcast-testlan: a stand-in for Warcraft III on the command line. It listens for the LAN
// announcements of the product, searches the announced games on the product's datagram port, joins the
// first one (or the one named), types the given chat lines, prints what it receives, and exits after the
// given time or at the end of the game.
//
// Exit code 0 when it joined and received at least one frame (and at least --min-actions action
// messages); 1 otherwise; 2 on a usage error.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "peers/LanWire.h"
#include "peers/TestLanClient.h"
#include "platform/ProgramClock.h"

namespace {

void Usage()
{
    std::fprintf(stderr,
                 "usage: brawlcast-testlan [options]\n"
                 "  --datagram-port N   the product's datagram port, searches go there (default 10384)\n"
                 "  --lan-port N        our UDP port for the announcements (default 6112)\n"
                 "  --game NAME         join the game of this name (default: the first one found)\n"
                 "  --game-id N         search this host counter at once, without waiting for an announcement\n"
                 "  --name NAME         the player name of the join request (default Viewer)\n"
                 "  --say LINE          type LINE in the lobby once the slot table arrived (repeatable)\n"
                 "  --say-ingame LINE   type LINE once the game has loaded (repeatable)\n"
                 "  --seconds N         give up after N seconds (default 60)\n"
                 "  --min-actions N     exit code 0 needs at least N action messages (default 0)\n"
                 "  --quiet             print no action messages\n");
}

bool ParseNumber(const char* text, unsigned long max, unsigned long& out)
{
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > max)
        return false;
    out = v;
    return true;
}

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (char c : bytes) {
        unsigned char u = static_cast<unsigned char>(c);
        out.push_back(u < 0x20 || u == 0x7F ? '.' : c);
    }
    return out;
}

const char* ChecksumText(bcxtest::ChecksumResult r)
{
    switch (r) {
    case bcxtest::ChecksumResult::None: return "none";
    case bcxtest::ChecksumResult::Ok: return "ok";
    case bcxtest::ChecksumResult::Bad: return "BAD";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long datagramPort = 10384, lanPort = 6112, seconds = 60, minActions = 0, gameId = 0;
    bool haveGameId = false, quiet = false;
    std::string gameName, playerName = "Viewer";
    std::vector<std::string> lobbyLines, gameLines;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto number = [&](unsigned long max, unsigned long& out) {
            if (!value || !ParseNumber(value, max, out)) {
                std::fprintf(stderr, "bad value for %s\n", arg.c_str());
                std::exit(2);
            }
            ++i;
        };
        auto text = [&](std::string& out) {
            if (!value) {
                std::fprintf(stderr, "missing value for %s\n", arg.c_str());
                std::exit(2);
            }
            out = value;
            ++i;
        };
        std::string s;
        if (arg == "--datagram-port")
            number(65535, datagramPort);
        else if (arg == "--lan-port")
            number(65535, lanPort);
        else if (arg == "--seconds")
            number(86400, seconds);
        else if (arg == "--min-actions")
            number(1000000000, minActions);
        else if (arg == "--game-id") {
            number(0xFFFFFFFFul, gameId);
            haveGameId = true;
        } else if (arg == "--game")
            text(gameName);
        else if (arg == "--name")
            text(playerName);
        else if (arg == "--say") {
            text(s);
            lobbyLines.push_back(s);
        } else if (arg == "--say-ingame") {
            text(s);
            gameLines.push_back(s);
        } else if (arg == "--quiet")
            quiet = true;
        else {
            Usage();
            return 2;
        }
    }

    bcx::ProgramClock::Start();
    bcxtest::TestLanClient client(static_cast<uint16_t>(lanPort));
    if (!client.Ok()) {
        std::fprintf(stderr, "cannot open UDP port %lu: %s\n", lanPort, client.Error().c_str());
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u, searching on port %lu\n", client.UdpPort(), datagramPort);

    const uint32_t deadline = bcx::ProgramClock::Now() + static_cast<uint32_t>(seconds * 1000);
    std::set<uint32_t> ids;
    if (haveGameId)
        ids.insert(static_cast<uint32_t>(gameId));
    uint32_t lastSearch = 0;
    bool searchedOnce = false;
    bool joined = false, saidLobby = false, saidGame = false;
    uint32_t joinedId = 0;
    size_t creates = 0, infos = 0, ends = 0, frames = 0, errors = 0;

    while (static_cast<int32_t>(deadline - bcx::ProgramClock::Now()) > 0) {
        client.Poll();
        const uint32_t now = bcx::ProgramClock::Now();

        for (; creates < client.CreateGames().size(); ++creates) {
            const auto& c = client.CreateGames()[creates];
            if (ids.insert(c.gameId).second)
                std::printf("[%6u] announced game 0x%08X\n", c.arrivalMs, c.gameId);
        }
        for (; infos < client.GameInfos().size(); ++infos) {
            const auto& g = client.GameInfos()[infos];
            std::printf("[%6u] game info 0x%08X '%s'%s map '%s' session port %u%s\n", g.arrivalMs, g.hostCounter,
                        Printable(g.gameName).c_str(), g.live ? " (live)" : "", Printable(g.mapPath).c_str(),
                        g.sessionPort, g.ok ? "" : " MALFORMED");
            if (!joined && g.ok && (gameName.empty() || g.gameName == gameName)) {
                bcxtest::JoinOptions o;
                o.playerName = playerName;
                if (client.JoinGame(g, o)) {
                    joined = true;
                    joinedId = g.hostCounter;
                    std::printf("[%6u] joining 0x%08X on port %u\n", now, g.hostCounter, g.sessionPort);
                }
            }
        }
        for (; ends < client.EndGames().size(); ++ends)
            std::printf("[%6u] game 0x%08X ended\n", client.EndGames()[ends].arrivalMs, client.EndGames()[ends].gameId);

        if (!joined && !ids.empty() && (!searchedOnce || now - lastSearch >= 1000)) {
            for (uint32_t id : ids)
                client.SendSearch(static_cast<uint16_t>(datagramPort), id);
            lastSearch = now;
            searchedOnce = true;
        }

        for (; frames < client.Frames().size(); ++frames) {
            const auto& f = client.Frames()[frames];
            if (f.id == 0x0C && quiet)
                continue;
            std::printf("[%6u] <- 0x%02X %3zu bytes", f.arrivalMs, f.id, f.raw.size());
            for (const auto& c : client.Chats())
                if (c.seq == f.seq)
                    std::printf(" chat from %u flag 0x%02X: %s", c.sender, c.flag, Printable(c.text).c_str());
            for (const auto& a : client.Actions())
                if (a.seq == f.seq)
                    std::printf(" action +%u ms, %zu blocks, checksum %s", a.increment, a.blocks.size(),
                                ChecksumText(a.checksumResult));
            for (const auto& t : client.SlotTables())
                if (t.seq == f.seq)
                    std::printf(" slot table, %zu slots", t.slots.size());
            for (const auto& p : client.Players())
                if (p.seq == f.seq)
                    std::printf(" player %u '%s'", p.playerId, Printable(p.name).c_str());
            for (const auto& m : client.MapChecks())
                if (m.seq == f.seq)
                    std::printf(" map '%s' size %u", Printable(m.mapPath).c_str(), m.mapSize);
            std::printf("\n");
        }
        for (; errors < client.ProtocolErrors().size(); ++errors)
            std::printf("PROTOCOL ERROR: %s\n", client.ProtocolErrors()[errors].c_str());

        if (joined && !saidLobby && !client.SlotTables().empty()) {
            for (const auto& line : lobbyLines) {
                std::printf("[%6u] -> %s\n", now, line.c_str());
                client.SendChat(line);
            }
            saidLobby = true;
        }
        if (joined && !saidGame && client.Loaded()) {
            for (const auto& line : gameLines) {
                std::printf("[%6u] -> %s\n", now, line.c_str());
                client.SendChat(line);
            }
            saidGame = true;
        }

        if (joined && client.HostClosed()) {
            std::printf("[%6u] the host closed the connection\n", now);
            break;
        }
        bool ended = false;
        for (const auto& e : client.EndGames())
            ended = ended || (joined && e.gameId == joinedId);
        if (ended)
            break;
        if (!client.Error().empty() && joined && !client.Connected() && !client.Connecting()) {
            std::printf("connection failed: %s\n", client.Error().c_str());
            break;
        }
        usleep(10000);
    }

    std::fflush(stdout);
    if (!joined) {
        std::printf("no game joined\n");
        return 1;
    }
    std::printf("received %zu frames, %zu action messages, game time %u ms\n", client.Frames().size(),
                client.Actions().size(), client.GameTimeMs());
    bool ok = !client.Frames().empty() && client.Actions().size() >= minActions;
    return ok ? 0 : 1;
}
