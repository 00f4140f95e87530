#pragma once
// Loading test-relay games from a small text scenario (used by brawlcast-testrelay).
//
// One command per line; blank lines and lines starting with '#' are ignored; ids and numbers are decimal
// or 0x-hex; <text...> is the rest of the line.
//
//   finished <id> <entries> [name...]     a finished 1v1 game with that many data entries
//   live <id> <entries> [name...]         a live 1v1 game (list state 3) holding that many entries so far
//   announced <id> <seconds> [name...]    a game that has not started (list state 1, no entries)
//   players <id> <text...>                the players text of the game information
//   publisher <id> <text...>              the publisher of the game information
//   state <id> <byte>                     the list state byte
//   start <id> <afterMs>                  start an announced game afterMs after the program started
//   grow <id> <everyMs> <count> [finish]  append one entry every everyMs, count times; then finish it
//   title <text...>                       the logon answer's title
//   motd <text...>                        the logon answer's message of the day
//
// Game commands other than finished/live/announced name a game defined on an earlier line.

#include "peers/TestRelayServer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bcxtest {

// A change that falls due at a time after the start.
struct RelayTimedAction {
    enum Kind { Append, Finish, Start };
    Kind kind = Append;
    uint32_t gameId = 0;
    uint32_t atMs = 0;
};

struct RelayScenario {
    std::vector<RelayGame> games;
    std::vector<RelayTimedAction> actions; // sorted by atMs (stable)
    std::string title;                     // empty: keep the default
    std::string motd;
};

// Parses the scenario text; false with a message naming the line on a fault.
bool ParseRelayScenario(const std::string& text, RelayScenario& out, std::string& error);

// Adds the games and the texts to the server.
void ApplyRelayScenario(const RelayScenario& scenario, TestRelayServer& server);

// Performs the actions due at elapsedMs that have not been performed yet; `next` is the index of the
// first action not yet done and is advanced. Returns the number of actions performed.
size_t RunDueRelayActions(const RelayScenario& scenario, size_t& next, uint32_t elapsedMs,
                          TestRelayServer& server);

} // namespace bcxtest
