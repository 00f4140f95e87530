#pragma once
// Shared set-up of the LAN host tests: a client core whose LAN datagrams go to the test LAN client's UDP
// port, the manual program clock, hosts driven by hand, and a fixture game (finished, details complete,
// data finished).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/ClientCore.h"
#include "core/GameRecords.h"

class LanClient;
class LanGameHost;
class LanListener;

namespace lantest {

// The fixture's stat string: u32 map flags, u8 0, u16 width, u16 height, u32 map CRC (13 bytes).
constexpr uint32_t kMapFlags = 0x00000002;
constexpr uint16_t kMapWidth = 116;
constexpr uint16_t kMapHeight = 84;
constexpr uint32_t kMapCrc = 0x1D2C3B4A;
constexpr uint32_t kProduct = 0x57335850;  // "PX3W" on the wire
constexpr uint32_t kVersion = 26;
constexpr uint8_t kInfoPrefixByte = 0x01;   // the byte before the stat string

// The 13 raw stat-string bytes of the fixture.
std::string RawStatString();
// Fills info bytes A, B and word C the way the relay delivers them for this map path: the byte before
// the stat string, then the first two mask-led blocks of the encoding of stat string + map path.
void FillRelayInfoBytes(GameInfo& info, const std::string& mapPath);

// Writes the test configuration (datagram port 0), creates the client core, switches the program clock to
// manual mode at 100000 ms, turns the hosts' own timers off and points the LAN announcements at lanPort.
ClientCore* StartCore(uint16_t lanPort);
// StartCore, then the program clock running and hosts ticking on their own timer, as in the program.
ClientCore* StartCoreOnRealTimers(uint16_t lanPort);
// Destroys the core (and with it everything it owns).
void StopCore();

// A finished game: GameInfo present, complete GameDetails (1v1 with two observers; the view player 3 is
// the first observer), finished GameData with `entries` action messages 100 ms apart.
std::unique_ptr<Game> MakeFinishedGame(uint32_t id, const std::string& name = "Fixture Game",
                                       const std::string& mapPath = "Maps\\(2)EchoIsles.w3x", uint32_t entries = 5);

// One W3GS action message (0x0C) with the given time increment and one action block.
std::string ActionMessage(uint16_t increment, uint8_t playerId, const std::string& actions);

} // namespace lantest

#include <gtest/gtest.h>

#include "lanhost/LanGameHost.h"
#include "lanhost/LanListener.h"
#include "peers/TestLanClient.h"
#include "support/LogCapture.h"
#include "support/Pump.h"

namespace lantest {

// A test LAN client, a client core whose announcements go to it, a session-port listener on loopback and
// one host of a fixture game that the listener finds by its id.
class HostedGameTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Joins with the options and waits until the host holds the client. Null when that did not happen.
    LanClient* JoinAndAttach(const bcxtest::JoinOptions& options = bcxtest::JoinOptions());
    // Joins, lets QuickStart and the test client's automatic answers run the lobby, completes it with one
    // tick and waits for the loaded notice. Returns the client (null when a step did not happen); the
    // program clock then stands at the loaded moment.
    LanClient* JoinAndLoad();
    // Advances the program clock by ms and ticks the host, then lets the sockets deliver.
    void TickHost(uint32_t ms = LanGameHost::kTickMs, int pumpMs = 5);
    // Ticks until pred holds (at most maxTicks ticks).
    bool TickUntil(const std::function<bool()>& pred, int maxTicks = 200);

    // The chat lines the test client received: how many are `text`, start with `prefix` or hold `fragment`.
    size_t CountChat(const std::string& text) const;
    size_t CountChatStartingWith(const std::string& prefix) const;
    size_t CountChatHolding(const std::string& fragment) const;
    bool HasChat(const std::string& text) const { return CountChat(text) > 0; }
    bool HasChatWith(const std::string& fragment) const { return CountChatHolding(fragment) > 0; }

    bcxtest::LogCapture log;
    bcxtest::TestLanClient wc3{0};
    std::unique_ptr<bcxtest::ScopedPumpHook> hook;
    ClientCore* core = nullptr;
    std::unique_ptr<LanListener> listener;
    std::unique_ptr<Game> game;
    std::unique_ptr<LanGameHost> host;
};

} // namespace lantest
